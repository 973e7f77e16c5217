#include "xmlHighlighter.h"

namespace lumivarui {

namespace {

enum BlockState { kOutsideComment = 0, kInComment = 1 };

QTextCharFormat colour(const QColor &c, bool bold = false)
{
    QTextCharFormat f;
    f.setForeground(c);
    if (bold)
        f.setFontWeight(QFont::Bold);
    return f;
}

} // namespace

XmlHighlighter::XmlHighlighter(QTextDocument *document, bool darkPalette)
    : QSyntaxHighlighter(document), commentStart_(QStringLiteral("<!--")), commentEnd_(QStringLiteral("-->"))
{
    QColor element = darkPalette ? QColor(0x7f, 0xb4, 0xff) : QColor(0x00, 0x33, 0x99);
    QColor attribute = darkPalette ? QColor(0xff, 0xb8, 0x6c) : QColor(0x99, 0x33, 0x00);
    QColor value = darkPalette ? QColor(0x98, 0xe0, 0x8a) : QColor(0x00, 0x77, 0x22);
    QColor special = darkPalette ? QColor(0xd7, 0x9b, 0xff) : QColor(0x80, 0x00, 0x80);
    QColor remark = darkPalette ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x6a, 0x6a, 0x6a);
    rules_.push_back({QRegularExpression(QStringLiteral("<\\?[^?]*\\?>")), colour(special), 0});
    rules_.push_back({QRegularExpression(QStringLiteral("</?([A-Za-z_][\\w.:-]*)")), colour(element, true), 1});
    rules_.push_back({QRegularExpression(QStringLiteral("\\s([A-Za-z_][\\w.:-]*)\\s*=")), colour(attribute), 1});
    rules_.push_back({QRegularExpression(QStringLiteral("=\\s*(\"[^\"]*\"|'[^']*')")), colour(value), 1});
    rules_.push_back({QRegularExpression(QStringLiteral("&[#\\w]+;")), colour(special), 0});
    comment_ = colour(remark);
    comment_.setFontItalic(true);
}

void XmlHighlighter::highlightBlock(const QString &text)
{
    for (const Rule &rule : rules_) {
        auto it = rule.pattern.globalMatch(text);
        while (it.hasNext()) {
            QRegularExpressionMatch m = it.next();
            setFormat(static_cast<int>(m.capturedStart(rule.group)), static_cast<int>(m.capturedLength(rule.group)),
                      rule.format);
        }
    }
    // Comments last, over whatever the rules coloured inside them.
    setCurrentBlockState(kOutsideComment);
    qsizetype start = previousBlockState() == kInComment ? 0 : text.indexOf(commentStart_);
    while (start >= 0) {
        QRegularExpressionMatch end = commentEnd_.match(text, start);
        qsizetype length;
        if (!end.hasMatch()) {
            setCurrentBlockState(kInComment);
            length = text.length() - start;
        } else {
            length = end.capturedEnd() - start;
        }
        setFormat(static_cast<int>(start), static_cast<int>(length), comment_);
        start = text.indexOf(commentStart_, start + length);
    }
}

} // namespace lumivarui
