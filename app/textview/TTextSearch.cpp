#include "textview/TTextSearch.h"

#include "TSimd.h"

#include <QChar>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace torvane {

namespace {

// The code units a text's character may be where the needle has `c`: `c` itself when letter case
// counts, else every unit that folds as it does (a and A; k, K and the Kelvin sign). Units of a surrogate
// pair fold only with their pair, so they stand for themselves.
struct TUnits {
    char16_t unit[4] = {};
    int count = 0;
};

bool unitsLike(char16_t c, Qt::CaseSensitivity cs, TUnits& units)
{
    units.unit[0] = c;
    units.count = 1;
    if (cs == Qt::CaseSensitive || QChar::isHighSurrogate(c)) {
        return true;
    }
    if (QChar::isLowSurrogate(c)) {
        return false; // folded with the unit before it: no unit of its own to look for
    }
    // Every unit that folds to another, by what it folds to: built once.
    static const std::vector<std::pair<char16_t, char16_t>> folding = [] {
        std::vector<std::pair<char16_t, char16_t>> pairs;
        for (char32_t u = 0; u < 0x10000; ++u) {
            const char32_t folded = QChar::toCaseFolded(u);
            if (folded != u && !QChar::isSurrogate(u)) {
                pairs.emplace_back(static_cast<char16_t>(folded), static_cast<char16_t>(u));
            }
        }
        std::sort(pairs.begin(), pairs.end());
        return pairs;
    }();
    const auto folded = static_cast<char16_t>(QChar::toCaseFolded(char32_t(c)));
    units.count = 0;
    if (QChar::toCaseFolded(char32_t(folded)) == folded) {
        units.unit[units.count++] = folded;
    }
    const auto same = std::equal_range(folding.begin(), folding.end(), std::make_pair(folded, char16_t(0)),
                                       [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto it = same.first; it != same.second; ++it) {
        if (units.count == 4) {
            return false;
        }
        units.unit[units.count++] = it->second;
    }
    return units.count > 0;
}

bool inUnits(char16_t c, const TUnits& units)
{
    for (int i = 0; i < units.count; ++i) {
        if (units.unit[i] == c) {
            return true;
        }
    }
    return false;
}

// Whether the needle is at `at`, letter case folded as Qt folds it when asked. ASCII is folded here; the
// first other difference is left to Qt's own comparison of the whole stretch.
bool matchesAt(const char16_t* at, const char16_t* needle, qsizetype length, Qt::CaseSensitivity cs)
{
    if (cs == Qt::CaseSensitive) {
        return std::memcmp(at, needle, static_cast<size_t>(length) * sizeof(char16_t)) == 0;
    }
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t a = at[i];
        const char16_t b = needle[i];
        if (a == b) {
            continue;
        }
        if ((a | b) < 0x80) {
            const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c; };
            if (lower(a) != lower(b)) {
                return false;
            }
            continue;
        }
        return QStringView(at, length).compare(QStringView(needle, length), Qt::CaseInsensitive) == 0;
    }
    return true;
}

// Units of the needle looked for before it is compared whole: its first, its last and one in its middle
// (in a packet the first and last alone are often in place: FIELD1="..." beside FIELD10="...").
struct TProbes {
    qsizetype offset[3] = {};
    TUnits units[3];
    int count = 0;

    // False where a unit looked for has too many forms; Qt's own search is used then.
    bool prepare(const char16_t* needle, qsizetype length, Qt::CaseSensitivity cs)
    {
        const qsizetype offsets[3] = {0, ownFold(needle, length - 1, cs), ownFold(needle, length / 2, cs)};
        for (const qsizetype at : offsets) {
            if (std::find(offset, offset + count, at) != offset + count) {
                continue;
            }
            offset[count] = at;
            if (!unitsLike(needle[at], cs, units[count++])) {
                return false;
            }
        }
        return true;
    }

    bool at(const char16_t* h) const
    {
        for (int i = 0; i < count; ++i) {
            if (!inUnits(h[offset[i]], units[i])) {
                return false;
            }
        }
        return true;
    }

    // A low surrogate folds with the unit before it, so the probes stand on other units.
    static qsizetype ownFold(const char16_t* needle, qsizetype at, Qt::CaseSensitivity cs)
    {
        while (cs == Qt::CaseInsensitive && at > 0 && QChar::isLowSurrogate(needle[at])) {
            --at;
        }
        return at;
    }
};

// The unit of the needle the scan looks for: the one of its units (any of their forms) that a sample of
// the text holds least often, so that the needle is compared as seldom as can be. In a packet `<`, `"`,
// `=` and the letters of the attribute names are everywhere; a digit or a Japanese character seldom is.
struct TScanned {
    qsizetype offset = 0;
    TUnits units;
#ifdef TORVANE_SSE2
    __m128i wanted[4];
    __m128i caseBit; // a letter's two forms differing by 0x20 alone: (unit | 0x20) == wanted[0]
    bool byCaseBit = false;
#endif

    bool choose(QStringView haystack, const char16_t* needle, qsizetype length, Qt::CaseSensitivity cs)
    {
        constexpr qsizetype Pieces = 8;
        constexpr qsizetype Piece = 512;
        const char16_t* h = reinterpret_cast<const char16_t*>(haystack.utf16());
        const qsizetype size = haystack.size();
        const qsizetype step = std::max<qsizetype>(1, length / 6);
        qsizetype fewest = -1;
        for (qsizetype at = 0; at < length; at += step) {
            const qsizetype own = TProbes::ownFold(needle, at, cs);
            TUnits forms;
            if (!unitsLike(needle[own], cs, forms)) {
                continue;
            }
            qsizetype seen = 0;
            for (qsizetype piece = 0; piece < Pieces; ++piece) {
                const qsizetype begin = size <= Pieces * Piece ? piece * size / Pieces : piece * (size / Pieces);
                const qsizetype end =
                    std::min(size, size <= Pieces * Piece ? (piece + 1) * size / Pieces : begin + Piece);
                for (qsizetype i = begin; i < end; ++i) {
                    seen += inUnits(h[i], forms);
                }
            }
            if (fewest < 0 || seen < fewest) {
                fewest = seen;
                offset = own;
                units = forms;
            }
        }
        if (fewest < 0) {
            return false;
        }
#ifdef TORVANE_SSE2
        for (int i = 0; i < units.count; ++i) {
            wanted[i] = _mm_set1_epi16(static_cast<short>(units.unit[i]));
        }
        byCaseBit = units.count == 2 && (units.unit[0] ^ units.unit[1]) == 0x20;
        if (byCaseBit) {
            wanted[0] = _mm_set1_epi16(static_cast<short>(units.unit[0] | 0x20));
            caseBit = _mm_set1_epi16(0x20);
        }
#endif
        return true;
    }

#ifdef TORVANE_SSE2
    // How the eight units at a place are compared with it: one unit; a letter's two forms differing by
    // 0x20 alone; any other forms.
    enum Form { OneUnit, CaseBit, AnyForms };
    Form form() const
    {
        return byCaseBit ? CaseBit : units.count == 1 ? OneUnit : AnyForms;
    }

    // Which of the eight units at `h` it is, as _mm_movemask_epi8 gives them (two bits a unit).
    template <Form F> unsigned mask(const char16_t* h) const
    {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
        if constexpr (F == CaseBit) {
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_or_si128(chunk, caseBit), wanted[0])));
        }
        __m128i found = _mm_cmpeq_epi16(chunk, wanted[0]);
        if constexpr (F == AnyForms) {
            for (int i = 1; i < units.count; ++i) {
                found = _mm_or_si128(found, _mm_cmpeq_epi16(chunk, wanted[i]));
            }
        }
        return static_cast<unsigned>(_mm_movemask_epi8(found));
    }

    // The units at [at, at + 16) as two bits each, the lowest first.
    template <Form F> unsigned mask16(const char16_t* h) const
    {
        return mask<F>(h) | (mask<F>(h + 8) << 16);
    }
#endif
};

#ifdef TORVANE_SSE2
// Looks at the places [at, end] sixteen at a time, lowest first, while sixteen are left; `at` is left where
// it stopped. The first place `match` takes, or -1.
template <TScanned::Form F, typename Match>
qsizetype scanUp(const char16_t* h, qsizetype& at, qsizetype end, const TScanned& scanned, const Match& match)
{
    for (; at + 15 <= end; at += 16) {
        unsigned bits = scanned.mask16<F>(h + at);
        while (bits != 0) {
            const int bit = __builtin_ctz(bits);
            if (match(at + bit / 2)) {
                return at + bit / 2;
            }
            bits &= ~(3u << bit);
        }
    }
    return -1;
}

// Looks at the places [low, at] sixteen at a time, highest first, while sixteen are left.
template <TScanned::Form F, typename Match>
qsizetype scanDown(const char16_t* h, qsizetype& at, qsizetype low, const TScanned& scanned, const Match& match)
{
    for (; at - 15 >= low; at -= 16) {
        unsigned bits = scanned.mask16<F>(h + at - 15);
        while (bits != 0) {
            const int bit = 31 - __builtin_clz(bits);
            if (match(at - 15 + bit / 2)) {
                return at - 15 + bit / 2;
            }
            bits &= ~(3u << (bit - 1));
        }
    }
    return -1;
}
#endif

} // namespace

qsizetype findText(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs)
{
    const qsizetype length = needle.size();
    const char16_t* n = reinterpret_cast<const char16_t*>(needle.utf16());
    TProbes probes;
    TScanned scanned;
    if (length == 0 || from < 0 || !probes.prepare(n, length, cs) || !scanned.choose(haystack, n, length, cs)) {
        return haystack.indexOf(needle, from, cs);
    }
    const char16_t* h = reinterpret_cast<const char16_t*>(haystack.utf16());
    const qsizetype off = scanned.offset;
    const qsizetype end = haystack.size() - length + off; // the last place the scanned unit may be at
    qsizetype at = from + off;
    // At each place the scanned unit is at, the needle would start `off` before.
    const auto matchAt = [&](qsizetype place) {
        return probes.at(h + place - off) && matchesAt(h + place - off, n, length, cs);
    };
#ifdef TORVANE_SSE2
    qsizetype found = -1;
    switch (scanned.form()) {
    case TScanned::OneUnit:
        found = scanUp<TScanned::OneUnit>(h, at, end, scanned, matchAt);
        break;
    case TScanned::CaseBit:
        found = scanUp<TScanned::CaseBit>(h, at, end, scanned, matchAt);
        break;
    case TScanned::AnyForms:
        found = scanUp<TScanned::AnyForms>(h, at, end, scanned, matchAt);
        break;
    }
    if (found >= 0) {
        return found - off;
    }
#endif
    for (; at <= end; ++at) {
        if (inUnits(h[at], scanned.units) && matchAt(at)) {
            return at - off;
        }
    }
    return -1;
}

qsizetype findTextBackward(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs)
{
    const qsizetype length = needle.size();
    const char16_t* n = reinterpret_cast<const char16_t*>(needle.utf16());
    TProbes probes;
    TScanned scanned;
    if (length == 0 || from < 0 || !probes.prepare(n, length, cs) || !scanned.choose(haystack, n, length, cs)) {
        return haystack.lastIndexOf(needle, from, cs);
    }
    const char16_t* h = reinterpret_cast<const char16_t*>(haystack.utf16());
    const qsizetype off = scanned.offset;
    // The highest place the scanned unit may be at, down to the lowest (off).
    qsizetype at = std::min(from, haystack.size() - length) + off;
    // At each place the scanned unit is at, the needle would start `off` before.
    const auto matchAt = [&](qsizetype place) {
        return probes.at(h + place - off) && matchesAt(h + place - off, n, length, cs);
    };
#ifdef TORVANE_SSE2
    qsizetype found = -1;
    switch (scanned.form()) {
    case TScanned::OneUnit:
        found = scanDown<TScanned::OneUnit>(h, at, off, scanned, matchAt);
        break;
    case TScanned::CaseBit:
        found = scanDown<TScanned::CaseBit>(h, at, off, scanned, matchAt);
        break;
    case TScanned::AnyForms:
        found = scanDown<TScanned::AnyForms>(h, at, off, scanned, matchAt);
        break;
    }
    if (found >= 0) {
        return found - off;
    }
#endif
    for (; at >= off; --at) {
        if (inUnits(h[at], scanned.units) && matchAt(at)) {
            return at - off;
        }
    }
    return -1;
}

} // namespace torvane
