// What an XML window shows of a fetched document: descriptions and SCPDs
// re-indented for reading, HTML (a device's presentation page) as a page,
// anything else as plain text.
#pragma once

#include <QByteArray>
#include <QString>

namespace lumivarui {

enum class DocumentKind { XML, HTML, TEXT };

// HTML by the content type or the document's start; XML when it parses.
[[nodiscard]] DocumentKind classifyDocument(const QByteArray &data, const QString &contentType);

// The document indented two blanks per level, with comments, processing
// instructions and CDATA kept. False, and error set to the parser's message
// with its line and column, when the document is not well-formed.
bool indentXml(const QByteArray &data, QString &out, QString &error);

// The document's bytes as text: UTF-8 unless a BOM says otherwise.
[[nodiscard]] QString documentText(const QByteArray &data);

} // namespace lumivarui
