// Colours for an XML document in a read-only text view: element names,
// attribute names and values, comments (also across lines), processing
// instructions and entity references. Light colours on a dark palette.
#pragma once

#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

namespace lumivarui {

class XmlHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit XmlHighlighter(QTextDocument *document, bool darkPalette = false);

protected:
    void highlightBlock(const QString &text) override;

private:
    struct Rule {
        QRegularExpression pattern;
        QTextCharFormat format;
        int group; // the part of a match that is coloured
    };

    std::vector<Rule> rules_;
    QTextCharFormat comment_;
    QRegularExpression commentStart_;
    QRegularExpression commentEnd_;
};

} // namespace lumivarui
