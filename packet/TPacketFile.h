#pragma once

#include "TTextEncoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace torvane {

// The bytes a packet file holds for the XML view's text: in the encoding saveEncodingFor(text, loaded)
// chooses (CP932, CR LF and no byte-order mark for a text that names none and was never loaded), a lone LF
// or CR written as the chosen line break too. Throws TFailure naming the first character the encoding
// cannot represent and its line.
QByteArray encodePacketFile(const QString& text, const TTextEncoding& loaded = TTextEncoding());

// Saves the XML view's text to `fileName` as encodePacketFile() gives it, atomically, and returns the
// encoding it was written in. Throws TFailure with the message to show, and then leaves an existing file as
// it was and no temporary file behind: "ファイル <name> を作成できません" when the file cannot be created, or
// when the name is taken by something other than a regular file its owner may write (a FIFO, a device, a
// folder, a read-only file); "ストリームへの書き込みに失敗しました" when any write fails (a full disk, a
// file-size limit).
TTextEncoding savePacketFile(const QString& fileName, const QString& text,
                             const TTextEncoding& loaded = TTextEncoding());

// A file's text as loaded: the text (line breaks as the file holds them), how the file held it, and the
// bytes that could not be read in that encoding (each a U+FFFD in the text).
struct TDecodedText {
    QString text;
    TTextEncoding encoding;
    TDecodeFaults faults;
    // The line (1-based) of the first byte that could not be read; 0 when all could.
    qsizetype firstFaultLine = 0;
    // The encoding name the XML declaration gives, as written (empty for none), and whether it was the
    // one followed.
    QString declaredName;
    bool followsDeclaration = false;
};

// The text of a file's bytes. UTF-16 is told by its byte-order mark, or without one by a NUL in one of its
// first two bytes and not the other (as "<?" is 3C 00 3F 00 or 00 3C 00 3F); UTF-8 by its byte-order mark. Otherwise
// the encoding the XML declaration names is followed, even where bytes do not fit it (they are counted as faults);
// without a declaration naming one this program knows, the bytes are read as UTF-8 when they are well-formed UTF-8
// holding a multi-byte sequence that CP932 cannot read as half-width katakana (three or four bytes, or two
// with a byte outside A1..DF), otherwise as CP932. So a file this program saved whose only non-ASCII
// characters are half-width katakana loads as CP932 even where its bytes are well-formed UTF-8 (ﾐｷ is
// D0 B7, "з"). The line breaks are LF when the text holds LF breaks and no CR, otherwise CR LF.
// `room`, when given, is a buffer holding the bytes: CP932 is decoded into it in place where the bytes stand
// far enough into it (see TPacketCodec::decodeInto), and the text then takes it over.
TDecodedText decodeText(QByteArrayView bytes, QString* room = nullptr);
// The text alone.
QString decodeFileText(QByteArrayView bytes);
// Whether decodeText() reads `bytes` as CP932 only because its rule cannot tell: no byte-order mark, and
// the bytes are well-formed UTF-8 whose every multi-byte sequence CP932 reads as two half-width katakana
// ("é" C3 A9 is "ﾃｩ"). A declaration decides for a packet; a CSV file has none.
bool isKatakanaOrUtf8(QByteArrayView bytes);

// What the load tells the user about a text whose bytes could not all be read: how many, in which
// encoding and why that one, and the first line holding one.
QString undecodableMessage(const QString& fileName, const TDecodedText& decoded);

// What tells one version of a file from another: where it lives, its size, when it was last written and
// when its entry last changed. A program can write the file and set its time back as it was, leaving the
// size too; but any write, and setting the time, moves the entry's change time, which no program can set back.
struct TFileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    // Both in nanoseconds since 1970.
    qint64 modified = 0;
    qint64 statusChanged = 0;

    bool isValid() const { return size >= 0; }
    bool operator==(const TFileStamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified &&
               statusChanged == other.statusChanged;
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

// Loads a whole packet file as decodeText() reads it, line breaks as the file holds them.
TDecodedText loadPacketText(const QString& fileName, TFileStamp* stamp = nullptr);
// The text alone.
QString loadPacketFile(const QString& fileName, TFileStamp* stamp = nullptr);

} // namespace torvane
