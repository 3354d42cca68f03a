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

// What tells one version of a file from another: where it lives, its size and when it was last written.
struct TFileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    // Nanoseconds since 1970.
    qint64 modified = 0;

    bool isValid() const { return size >= 0; }
    bool operator==(const TFileStamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified;
    }
    bool operator!=(const TFileStamp& other) const { return !(*this == other); }
};

// The stamp of the regular file `fileName` names now (following links); an invalid one when there is none
// (nothing, a folder, a device).
TFileStamp fileStampOf(const QString& fileName);

// A regular file that tells no size (those of /proc and /sys) is read up to this many bytes.
constexpr qsizetype UnsizedFileLimit = 64 * 1024 * 1024;

// The whole content of a regular file, no more than the size it had when opened; `stamp`, when given, gets
// the stamp of what was read. Throws TFailure with the message to show: "ファイル <name> は開けません" at once
// for anything but a regular file (missing, no access, a FIFO, a device, a folder); "ファイル <name> を読み
// 込めません（<reason>）" when a read fails (a failing disk, /proc/self/mem); and a refusal at once when a
// file that tells no size goes on past UnsizedFileLimit.
QByteArray readRegularFile(const QString& fileName, TFileStamp* stamp = nullptr);

// Loads a whole packet file as decodeFileText() reads it, line breaks as the file holds them.
QString loadPacketFile(const QString& fileName, TFileStamp* stamp = nullptr);

} // namespace torvane
