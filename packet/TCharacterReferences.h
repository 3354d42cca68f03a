#pragma once

#include <QString>
#include <QStringView>

namespace torvane {

// A row value as cut out of its attribute, with character references and the five entities decoded.
QString decodeRowValue(QStringView value);
// The same, appended to `out`.
void appendDecodedRowValue(QString& out, QStringView value);

// An attribute value of a well-formed text as XML gives it, appended to `out`: references decoded, and each
// literal tab, line feed and carriage return (a CR LF pair as one) read as a space. An entity declared in a
// document type declaration stays as written, as its replacement text is not known here.
void appendAttributeValue(QString& out, QStringView value);

} // namespace torvane
