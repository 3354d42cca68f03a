#pragma once

#include "TSimd.h"

#include <QString>

namespace torvane {

// Packets, the XML view and files all hold line breaks as CR LF. Text from elsewhere (a file saved by
// another editor, the clipboard, an input method) may break lines with a lone LF or a lone CR as well.

// Goes once over `text` and calls onBreak(position of the LF) for each CR LF pair, in order; stops with
// false at the first lone CR or LF. Eight characters at a time where SSE2 is there: a packet of a million
// rows is two hundred million characters, and each hand-over between the view and a file checks them.
template <typename OnBreak> bool scanCrLfBreaks(QStringView text, OnBreak&& onBreak)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    // A CR must have its LF next; an LF must have its CR before.
    const auto check = [&](qsizetype i) {
        if (p[i] == u'\r') {
            return i + 1 < n && p[i + 1] == u'\n';
        }
        if (i == 0 || p[i - 1] != u'\r') {
            return false;
        }
        onBreak(i);
        return true;
    };
    qsizetype i = 0;
#ifdef TORVANE_SSE2
    const __m128i cr = _mm_set1_epi16('\r');
    const __m128i lf = _mm_set1_epi16('\n');
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        // Two mask bits per character; the lower one is kept.
        const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf));
        unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(breaks)) & 0x5555u;
        while (hits != 0) {
            if (!check(i + __builtin_ctz(hits) / 2)) {
                return false;
            }
            hits &= hits - 1;
        }
    }
#endif
    for (; i < n; ++i) {
        if ((p[i] == u'\r' || p[i] == u'\n') && !check(i)) {
            return false;
        }
    }
    return true;
}

// Whether every CR in `text` is followed by an LF and every LF follows a CR.
inline bool hasCrLfBreaksOnly(QStringView text)
{
    return scanCrLfBreaks(text, [](qsizetype) {});
}

// Every line break as CR LF: a CR LF pair, a lone LF and a lone CR each end a line. Text that holds CR LF
// breaks only (every packet this program writes) comes back as it is, without a copy.
inline QString toCrLf(QString text)
{
    if (hasCrLfBreaksOnly(text)) {
        return text;
    }
    const qsizetype n = text.size();
    const char16_t* src = reinterpret_cast<const char16_t*>(text.utf16());
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < n; ++i) {
        breaks += src[i] == u'\n' || (src[i] == u'\r' && (i + 1 == n || src[i + 1] != u'\n'));
    }
    QString out(n + breaks, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < n && src[i + 1] == u'\n') {
                ++i;
            }
            *dst++ = u'\r';
            *dst++ = u'\n';
        } else {
            *dst++ = c;
        }
    }
    out.truncate(dst - reinterpret_cast<char16_t*>(out.data()));
    return out;
}

// Every line break as a lone LF, as the clipboard carries text on this system. Works in place.
inline QString toLfBreaks(QString text)
{
    const qsizetype first = text.indexOf(u'\r');
    if (first < 0) {
        return text;
    }
    char16_t* begin = reinterpret_cast<char16_t*>(text.data());
    char16_t* dst = begin + first;
    const char16_t* src = dst;
    const char16_t* end = begin + text.size();
    while (src < end) {
        const char16_t c = *src++;
        if (c == u'\r') {
            *dst++ = u'\n';
            if (src < end && *src == u'\n') {
                ++src;
            }
        } else {
            *dst++ = c;
        }
    }
    text.truncate(dst - begin);
    return text;
}

} // namespace torvane
