#include "xmlFormat.h"

#include <QStringDecoder>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace lumivarui {

namespace {

constexpr int kIndentBlanks = 2;
// The start of a document read to tell HTML from XML.
constexpr qsizetype kSniffBytes = 512;

bool startsLikeHtml(const QByteArray &data)
{
    QByteArray head = data.left(kSniffBytes).trimmed().toLower();
    return head.startsWith("<!doctype html") || head.startsWith("<html") ||
           (head.startsWith("<?xml") && head.contains("<html"));
}

void copyToken(QXmlStreamReader &in, QXmlStreamWriter &out)
{
    switch (in.tokenType()) {
    case QXmlStreamReader::StartDocument:
        if (!in.documentVersion().isEmpty())
            out.writeStartDocument(in.documentVersion().toString(), in.isStandaloneDocument());
        break;
    case QXmlStreamReader::StartElement:
        out.writeStartElement(in.qualifiedName().toString());
        for (const QXmlStreamNamespaceDeclaration &ns : in.namespaceDeclarations()) {
            if (ns.prefix().isEmpty())
                out.writeAttribute(QStringLiteral("xmlns"), ns.namespaceUri().toString());
            else
                out.writeAttribute(QStringLiteral("xmlns:") + ns.prefix().toString(), ns.namespaceUri().toString());
        }
        for (const QXmlStreamAttribute &a : in.attributes())
            out.writeAttribute(a.qualifiedName().toString(), a.value().toString());
        break;
    case QXmlStreamReader::EndElement:
        out.writeEndElement();
        break;
    case QXmlStreamReader::Characters:
        // Whitespace between elements is the old layout; the writer makes
        // its own.
        if (in.isCDATA())
            out.writeCDATA(in.text().toString());
        else if (!in.isWhitespace())
            out.writeCharacters(in.text().toString());
        break;
    case QXmlStreamReader::Comment:
        out.writeComment(in.text().toString());
        break;
    case QXmlStreamReader::ProcessingInstruction:
        out.writeProcessingInstruction(in.processingInstructionTarget().toString(),
                                       in.processingInstructionData().toString());
        break;
    case QXmlStreamReader::DTD:
        out.writeDTD(in.text().toString());
        break;
    case QXmlStreamReader::EntityReference:
        out.writeEntityReference(in.name().toString());
        break;
    default:
        break;
    }
}

} // namespace

DocumentKind classifyDocument(const QByteArray &data, const QString &contentType)
{
    if (contentType.contains(QStringLiteral("html"), Qt::CaseInsensitive) || startsLikeHtml(data))
        return DocumentKind::HTML;
    QXmlStreamReader probe(data);
    while (!probe.atEnd())
        probe.readNext();
    return probe.hasError() ? DocumentKind::TEXT : DocumentKind::XML;
}

bool indentXml(const QByteArray &data, QString &out, QString &error)
{
    QXmlStreamReader in(data);
    in.setNamespaceProcessing(false);
    QString text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(kIndentBlanks);
    while (!in.atEnd()) {
        in.readNext();
        if (in.hasError())
            break;
        copyToken(in, writer);
    }
    if (in.hasError()) {
        error = QStringLiteral("%1 (line %2, column %3)")
                    .arg(in.errorString())
                    .arg(in.lineNumber())
                    .arg(in.columnNumber());
        return false;
    }
    out = text;
    return true;
}

QString documentText(const QByteArray &data)
{
    if (auto encoding = QStringConverter::encodingForData(data)) {
        QStringDecoder decode(*encoding);
        return decode(data);
    }
    return QString::fromUtf8(data);
}

} // namespace lumivarui
