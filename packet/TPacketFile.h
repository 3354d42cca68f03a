#pragma once

#include <QByteArray>
#include <QString>

namespace torvane {

// Saves the XML view's text (lines separated by "\n") to `fileName` as CP932 with CR LF line breaks and
// no byte-order mark, atomically. Throws TFailure with the message to show; an existing file is then
// left as it was.
void savePacketFile(const QString& fileName, const QString& viewText);

// Loads a whole packet file (UTF-8 when it says so or is valid UTF-8 with non-ASCII bytes, else CP932)
// and returns its text with lines separated by "\n". Throws TFailure("ファイル <name> は開けません").
QString loadPacketFile(const QString& fileName);

} // namespace torvane
