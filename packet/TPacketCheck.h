#pragma once

#include <QString>

#include <vector>

namespace torvane {

// One problem a check of a packet file found: the line of the file it is on (0 when it has none, or none
// could be told) and what it is, in one line.
struct TCheckFinding {
    qsizetype line = 0;
    QString text;
};

// Loads the file as the window does (its encoding detected, bytes it cannot read taken as U+FFFD), reads it
// into a workspace, and tells what a load and a save would tell and what the values hold: bytes the encoding
// cannot read, text that is not well-formed XML, messages of the reader (fields refused), a failure, the
// characters the encoding cannot hold, and every value that does not fit its field (checkValues), with its
// record, field, value and what was expected. Japanese or English where the text is this check's own; the
// core's messages come in the language setEnglishMessages() chose.
std::vector<TCheckFinding> checkPacketFile(const QString& fileName, bool japanese);

// The value as a check shows it: in quotes, line breaks and tabs escaped, long values cut short; a value
// not written as "(値なし)" / "(no value)".
QString shownValue(QStringView value, bool emptyString, bool japanese);

} // namespace torvane
