#include "TPacketCodec.h"

#include "TSimd.h"

#include <QStringDecoder>

#include <utility>

namespace torvane {

namespace {

constexpr char16_t Replacement = 0xFFFD;
// ICU's substitute for an undefined byte in this code page.
constexpr char16_t IcuSubstitute = 0x1A;

bool isDefined(const QString& decoded)
{
    return decoded.size() == 1 && decoded[0] != QChar(Replacement) && decoded[0] != QChar(IcuSubstitute);
}

} // namespace

// Linux input methods and pasted text give these code points for JIS characters whose CP932 forms are
// others; without the mapping they could not be saved at all.
char16_t toCp932Form(char16_t c)
{
    switch (c) {
    case 0x301C:
        return 0xFF5E; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2016:
        return 0x2225; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x2212:
        return 0xFF0D; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x2014:
        return 0x2015; // EM DASH -> HORIZONTAL BAR
    case 0x00A2:
        return 0xFFE0; // CENT SIGN -> FULLWIDTH CENT SIGN
    case 0x00A3:
        return 0xFFE1; // POUND SIGN -> FULLWIDTH POUND SIGN
    case 0x00AC:
        return 0xFFE2; // NOT SIGN -> FULLWIDTH NOT SIGN
    default:
        return c;
    }
}

const TPacketCodec& TPacketCodec::cp932()
{
    static const TPacketCodec codec;
    return codec;
}

TPacketCodec::TPacketCodec()
    : m_encode(0x10000, 0), m_decodeSingle(0x100, Replacement), m_decodePair(0x10000, Replacement)
{
    QStringDecoder decoder("windows-31j", QStringDecoder::Flag::Stateless);
    if (!decoder.isValid()) {
        return;
    }
    // ASCII is identical in CP932; taking it from ICU would swap 0x1A, 0x1C and 0x7F.
    for (int b = 0; b < 0x80; ++b) {
        m_decodeSingle[static_cast<size_t>(b)] = static_cast<char16_t>(b);
    }
    for (int b = 0x80; b < 0x100; ++b) {
        if (isLeadByte(static_cast<unsigned char>(b))) {
            continue;
        }
        const char byte = static_cast<char>(b);
        const QString decoded = decoder.decode(QByteArrayView(&byte, 1));
        if (isDefined(decoded)) {
            m_decodeSingle[static_cast<size_t>(b)] = decoded[0].unicode();
            m_encode[decoded[0].unicode()] = static_cast<quint16>(b);
        }
    }
    // ICU leaves these bytes undefined; Windows maps them to code points of their own, so that a file
    // holding them can be loaded and saved again unchanged.
    const std::pair<unsigned char, char16_t> windowsSingles[] = {
        {0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}};
    for (const auto& [byte, c] : windowsSingles) {
        m_decodeSingle[byte] = c;
        m_encode[c] = byte;
    }
    // Where a character has several pairs, Windows writes the first one, except that it never writes the
    // NEC-selected IBM extensions (leads 0xED, 0xEE) when the IBM extensions (0xFA..0xFC) hold the same
    // character; so those two rows are given their encodings last.
    const auto fillRow = [&](int lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (!isTrailByte(static_cast<unsigned char>(trail))) {
                continue;
            }
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const QString decoded = decoder.decode(QByteArrayView(pair, 2));
            if (!isDefined(decoded)) {
                continue;
            }
            const char16_t c = decoded[0].unicode();
            m_decodePair[static_cast<size_t>(lead << 8 | trail)] = c;
            if (c >= 0x80 && m_encode[c] == 0) {
                m_encode[c] = static_cast<quint16>(lead << 8 | trail);
            }
        }
    };
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (isLeadByte(static_cast<unsigned char>(lead)) && lead != 0xED && lead != 0xEE) {
            fillRow(lead);
        }
    }
    fillRow(0xED);
    fillRow(0xEE);
    // Input methods and pasted text give some JIS characters as code points whose CP932 forms are others
    // (WAVE DASH for FULLWIDTH TILDE and the like); they are written as those forms, in the same pass.
    for (const char16_t c : {0x301C, 0x2016, 0x2212, 0x2014, 0x00A2, 0x00A3, 0x00AC}) {
        if (m_encode[c] == 0) {
            m_encode[c] = m_encode[toCp932Form(c)];
        }
    }
    m_available = true;
}

qsizetype TPacketCodec::encode(QStringView text, QByteArray& out) const
{
    if (!m_available) {
        return text.isEmpty() ? -1 : 0;
    }
    const qsizetype start = out.size();
    out.resize(start + text.size() * 2);
    char* dst = out.data() + start;
    const auto* src = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
#ifdef TORVANE_SSE2
        // Sixteen ASCII characters at a time are only narrowed.
        while (i + 16 <= n) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
            const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 8));
            const __m128i beyondAscii =
                _mm_and_si128(_mm_or_si128(low, high), _mm_set1_epi16(static_cast<short>(0xFF80)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(beyondAscii, _mm_setzero_si128())) != 0xFFFF) {
                break;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(low, high));
            dst += 16;
            i += 16;
        }
        if (i >= n) {
            break;
        }
#endif
        const char16_t c = src[i];
        if (c < 0x80) {
            *dst++ = static_cast<char>(c);
            continue;
        }
        const quint16 code = m_encode[c];
        if (code == 0) {
            out.resize(dst - out.data());
            return i;
        }
        if (code >= 0x100) {
            *dst++ = static_cast<char>(code >> 8);
        }
        *dst++ = static_cast<char>(code & 0xFF);
    }
    out.resize(dst - out.data());
    return -1;
}

namespace {

// Widens the ASCII bytes from src[i] on into dst, sixteen at a time where SSE2 is there, up to the first
// other byte or the last sixteen; moves `i` and `dst` past them. A block is written whole and the
// characters after the first non-ASCII byte are written over afterwards: the text never holds more
// characters than the bytes read, so the sixteen always fit.
void widenAscii(const unsigned char* src, qsizetype& i, qsizetype n, char16_t*& dst)
{
#ifdef TORVANE_SSE2
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi8(block, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 8), _mm_unpackhi_epi8(block, zero));
        const int beyondAscii = _mm_movemask_epi8(block);
        const int ascii = beyondAscii == 0 ? 16 : __builtin_ctz(static_cast<unsigned>(beyondAscii));
        dst += ascii;
        i += ascii;
        if (ascii < 16) {
            return;
        }
    }
#endif
    while (i < n && src[i] < 0x80) {
        *dst++ = src[i++];
    }
}

} // namespace

QString TPacketCodec::decode(QByteArrayView bytes, TDecodeFaults* faults) const
{
    QString out(bytes.size(), Qt::Uninitialized);
    out.truncate(decodeInto(bytes.data(), bytes.size(), reinterpret_cast<char16_t*>(out.data()), faults));
    return out;
}

qsizetype TPacketCodec::decodeInto(const char* bytes, qsizetype n, char16_t* out, TDecodeFaults* faults) const
{
    // In place, byte i stands at n + 32 + i or later past `out`. The character read from byte i (and the one
    // after) ends at 2i + 2 at most, before byte i + 1; a block of sixteen written at byte i ends at 2i + 32
    // at most, before byte i, as a block is written only with sixteen bytes left and its own bytes are read
    // before it is written.
    char16_t* dst = out;
    const auto* src = reinterpret_cast<const unsigned char*>(bytes);
    const char16_t* single = m_decodeSingle.data();
    const char16_t* pair = m_decodePair.data();
    qsizetype i = 0;
    for (;;) {
        // The markup, numbers and most names are ASCII.
        widenAscii(src, i, n, dst);
        if (i >= n) {
            break;
        }
        // Japanese text comes in runs of characters, read here up to the next ASCII byte.
        do {
            const unsigned char b = src[i];
            if (!isLeadByte(b)) {
                *dst++ = single[b];
                ++i;
                continue;
            }
            // The pair table holds U+FFFD wherever the second byte is no trail byte, so a defined pair
            // takes one look-up; 0 stands for the byte after the last, which is none.
            const unsigned char trail = i + 1 < n ? src[i + 1] : 0;
            const char16_t c = pair[static_cast<size_t>(b << 8 | trail)];
            *dst++ = c;
            if (c != Replacement) {
                i += 2;
                continue;
            }
            if (faults) {
                faults->add(i, dst - 1 - out);
            }
            // An undefined pair whose second byte is ASCII takes only its lead byte: the ASCII character
            // (often a quote or "<" of the markup) is read on its own, not swallowed. A lead byte without
            // its trail byte leaves the next byte, if any, to be read on its own as well.
            i += isTrailByte(trail) && trail >= 0x80 ? 2 : 1;
        } while (i < n && src[i] >= 0x80);
    }
    return dst - out;
}

} // namespace torvane
