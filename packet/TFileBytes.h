#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace torvane {

inline const QLatin1String NoCodecMessage("この環境の Qt には Shift_JIS (CP932) の変換器 (windows-31j) がありません");

// The CP932 form of a code point that Linux input methods and pasted text give for a JIS character whose
// CP932 form is another (WAVE DASH for FULLWIDTH TILDE and the like); any other code point as it is.
char16_t toCp932Form(char16_t c);

// Encodes a file's text (its line breaks as the file is to hold them) as CP932. Throws TFailure naming the
// first character CP932 cannot represent and its line, or saying that this Qt has no CP932 converter.
QByteArray encodeCp932(const QString& fileText);

// What a save says when its bytes could not be written.
QString writeFailedMessage();

} // namespace torvane
