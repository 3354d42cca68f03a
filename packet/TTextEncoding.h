#pragma once

#include "TPacketCodec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace torvane {

// The encodings a packet file is read and written in. Shift_JIS, CP932, windows-31j and x-sjis are one
// encoding here (TPacketCodec's CP932); ISO-8859-1 is Latin-1 exactly, as XML readers take it, and
// windows-1252 is Latin-1 with the printable characters Windows puts at 0x80..0x9F.
enum class TEncodingKind { Cp932, Utf8, Utf16Le, Utf16Be, Latin1, Windows1252 };

enum class TLineBreakStyle { CrLf, Lf };

// How a file's text is held in its bytes, so that a save gives back the bytes it was loaded from: the
// encoding, whether a byte-order mark leads, and the line breaks. A new packet is CP932 with CR LF.
struct TTextEncoding {
    TEncodingKind kind = TEncodingKind::Cp932;
    bool byteOrderMark = false;
    TLineBreakStyle lineBreaks = TLineBreakStyle::CrLf;
    // The encoding the file's XML declaration named where its bytes said otherwise (a byte-order mark of
    // UTF-16 under encoding="UTF-8"): while the declaration still names it, a save keeps the file's own.
    QString overruledDeclaration;

    bool operator==(const TTextEncoding& other) const
    {
        return kind == other.kind && byteOrderMark == other.byteOrderMark && lineBreaks == other.lineBreaks &&
               overruledDeclaration == other.overruledDeclaration;
    }
    bool operator!=(const TTextEncoding& other) const { return !(*this == other); }
};

// The name messages give the encoding: "Shift_JIS (CP932)", "UTF-8", "UTF-16LE", "UTF-16BE", "ISO-8859-1",
// "Windows-1252".
QString encodingDisplayName(TEncodingKind kind);

// The encoding an XML declaration's name stands for (letter case ignored); nullopt for a name this
// program cannot read or write (EUC-JP, US-ASCII, …).
std::optional<TEncodingKind> encodingKindNamed(QStringView name);

// The encoding name the XML declaration at the start of `text` gives (white space before it allowed, as
// hand-typed files have it); empty when there is no declaration or it names no encoding.
QString declaredEncodingName(QStringView text);
// The same for the bytes of a file in an encoding that keeps ASCII as ASCII (not UTF-16). Looks at the
// first kilobyte only.
QString declaredEncodingName(QByteArrayView bytes);

// The encoding a text is saved in: the one its XML declaration names (unless the file's bytes overruled
// that name when it was loaded); else `loaded`, the one its file was loaded in. A byte-order mark and the line breaks
// are kept from `loaded`; UTF-16 chosen by the declaration over another encoding gets a byte-order mark, which XML
// requires of it.
TTextEncoding saveEncodingFor(QStringView text, const TTextEncoding& loaded);

// The length of the well-formed UTF-8 sequence at p[i] (no overlong forms, surrogates or code points past
// U+10FFFF), or 0 where none starts there.
inline int utf8SequenceLength(const unsigned char* p, qsizetype i, qsizetype n)
{
    const unsigned char b = p[i];
    if (b < 0x80) {
        return 1;
    }
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > n || p[i + 1] < low || p[i + 1] > high) {
        return 0;
    }
    for (int k = 2; k < length; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Decoders of the encodings TPacketCodec does not cover. Bytes they cannot read become U+FFFD, each
// counted in `faults` by where it stands in `bytes`.
// UTF-8: each byte that is not part of a well-formed sequence is one U+FFFD.
QString decodeUtf8(QByteArrayView bytes, TDecodeFaults* faults);
// UTF-16 without its byte-order mark: an unpaired surrogate is one U+FFFD, and so is an odd last byte.
QString decodeUtf16(QByteArrayView bytes, bool bigEndian, TDecodeFaults* faults);
// Latin-1 and windows-1252 read every byte; the five bytes windows-1252 leaves undefined read as the C1
// control codes of their values, as Windows reads them, so that they are saved back as they were.
QString decodeLatin1(QByteArrayView bytes);
QString decodeWindows1252(QByteArrayView bytes);

// Encodes `text` (line breaks as the file is to hold them) and appends its bytes to `out`, without a
// byte-order mark. Returns the index in `text` of the first character the encoding cannot represent
// (`out` is then incomplete), or -1. An unpaired surrogate is representable in none of them.
qsizetype encodeText(QStringView text, TEncodingKind kind, QByteArray& out);

// The bytes of the byte-order mark of `kind` (empty for encodings without one).
QByteArray byteOrderMarkOf(TEncodingKind kind);

} // namespace torvane
