#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace torvane {

// The bytes a packet file holds for the XML view's text (CR LF line breaks; a lone LF or CR is written as
// CR LF too): CP932 and no byte-order mark. Throws TFailure naming the first character CP932 cannot
// represent.
QByteArray encodePacketFile(const QString& text);

// Saves the XML view's text to `fileName` as encodePacketFile() gives it, atomically. Throws TFailure with
// the message to show, and then leaves an existing file as it was and no temporary file behind:
// "ファイル <name> を作成できません" when the file cannot be created, or when the name is taken by something
// other than a regular file its owner may write (a FIFO, a device, a folder, a read-only file); "ストリーム
// への書き込みに失敗しました" when any write fails (a full disk, a file-size limit).
void savePacketFile(const QString& fileName, const QString& text);

// The text of a file's bytes, line breaks as the file holds them. The bytes are read as UTF-8
// when they start with a UTF-8 byte-order mark (which is dropped), or are well-formed UTF-8 and either
// begin with an XML declaration naming encoding="UTF-8" (any letter case) or hold a multi-byte sequence
// that CP932 cannot read as half-width katakana (three or four bytes, or two with a byte outside A1..DF);
// otherwise as CP932. So a file this program saved whose only non-ASCII characters are half-width katakana
// loads as CP932 even where its bytes are well-formed UTF-8 (ﾐｷ is D0 B7, "з").
QString decodeFileText(QByteArrayView bytes);

// The whole content of a regular file; anything else (missing, no access, a FIFO, a device, a folder)
// throws TFailure("ファイル <name> は開けません") at once.
QByteArray readRegularFile(const QString& fileName);

// Loads a whole packet file as decodeFileText() reads it, line breaks as the file holds them.
QString loadPacketFile(const QString& fileName);

} // namespace torvane
