#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace torvane {

// What a load or a save says when this Qt has no CP932 converter.
QString noCodecMessage();

// Encodes a file's text (its line breaks as the file is to hold them) as CP932. Throws TFailure naming the
// first character CP932 cannot represent and its line, or saying that this Qt has no CP932 converter.
QByteArray encodeCp932(const QString& fileText);

// The refusal for the character at `pos` of a file's text that the encoding named `encoding` cannot
// represent: the character and its line (1-based), counted from `firstLine` where the text is a piece of a
// longer one.
QString unrepresentableMessage(QStringView fileText, qsizetype pos,
                               const QString& encoding = QStringLiteral("Shift_JIS (CP932)"), qsizetype firstLine = 1);

// What a save says when its bytes could not be written.
QString writeFailedMessage();

} // namespace torvane
