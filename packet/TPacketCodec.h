#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <vector>

namespace torvane {

// The CP932 form of a code point that Linux input methods and pasted text give for a JIS character whose
// CP932 form is another (WAVE DASH for FULLWIDTH TILDE and the like); any other code point as it is.
char16_t toCp932Form(char16_t c);

// Bytes a decoder could not read as a character: how many, and where the first one stands in the bytes
// (-1 when there is none).
struct TDecodeFaults {
    qsizetype count = 0;
    qsizetype firstOffset = -1;
    // Where the first one's U+FFFD stands in the text, where the decoder tells it (-1 otherwise).
    qsizetype firstTextOffset = -1;

    void add(qsizetype offset, qsizetype textOffset = -1)
    {
        if (count++ == 0) {
            firstOffset = offset;
            firstTextOffset = textOffset;
        }
    }
};

// CP932, the Japanese ANSI code page packet files are written in. The tables are taken once from Qt's
// "windows-31j" converter; converting through them instead of through the converter itself tells exactly
// which character cannot be represented (the converter silently writes a substitute), keeps ASCII byte for
// byte (ICU swaps three control codes), does not drop a truncated last byte, and maps the single bytes ICU
// leaves undefined as Windows does (0x80, 0xA0, 0xFD, 0xFE, 0xFF to U+0080, U+F8F0..U+F8F3, both ways), so
// that every byte of a loaded file can be saved back. Qt builds without ICU have
// no such converter: available() is then false, and this class is the one place to give them a table.
class TPacketCodec {
public:
    // The shared instance, built on first use.
    static const TPacketCodec& cp932();

    bool available() const { return m_available; }

    // Encodes `text` and appends its bytes to `out`. Returns the index in `text` of the first character
    // CP932 cannot represent (`out` is then incomplete), or -1 when every character was encoded.
    qsizetype encode(QStringView text, QByteArray& out) const;
    // Decodes CP932 bytes. A lead byte without a trail byte after it gives U+FFFD, and the byte after it is
    // read on its own; a pair that CP932 does not define gives U+FFFD, and when its second byte is ASCII
    // that character follows (as in the WHATWG Encoding Standard's Shift_JIS decoder), not swallowed.
    // Each such U+FFFD is counted in `faults` when given.
    QString decode(QByteArrayView bytes, TDecodeFaults* faults = nullptr) const;
    // The same into `out`, which has room for n characters; returns how many it wrote. The bytes may lie in
    // the same buffer, from n + DecodeInPlaceGap bytes past `out` on: no character is then written over a
    // byte not yet read, as none takes more room than two bytes for each byte it is read from.
    qsizetype decodeInto(const char* bytes, qsizetype n, char16_t* out, TDecodeFaults* faults = nullptr) const;
    static constexpr qsizetype DecodeInPlaceGap = 32;

    // Whether the BMP code unit `c` has a CP932 form (ASCII always has).
    bool canEncode(char16_t c) const { return c < 0x80 || m_encode[c] != 0; }

private:
    TPacketCodec();

    static bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
    static bool isTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

    bool m_available = false;
    // Code unit -> bytes: 0 not representable, < 0x100 one byte, else lead << 8 | trail.
    std::vector<quint16> m_encode;
    // Single byte -> code unit; U+FFFD where the byte is a lead byte.
    std::vector<char16_t> m_decodeSingle;
    // (lead << 8 | trail) -> code unit; U+FFFD where the pair is not defined.
    std::vector<char16_t> m_decodePair;
};

} // namespace torvane
