#include "TTextSearch.h"

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

#ifdef TORVANE_SSE2
// The positions of the eight units at `at` that are one of `units`, as _mm_movemask_epi8 gives them (two
// bits a unit).
inline __m128i unitMask(const char16_t* at, const TUnits& units, const __m128i* wanted)
{
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i mask = _mm_cmpeq_epi16(chunk, wanted[0]);
    for (int i = 1; i < units.count; ++i) {
        mask = _mm_or_si128(mask, _mm_cmpeq_epi16(chunk, wanted[i]));
    }
    return mask;
}

// The candidates of the eight positions from `at`: the first unit of the needle in place and its last too.
inline unsigned candidates(const char16_t* at, qsizetype lastOffset, const TUnits& first, const __m128i* firstWanted,
                           const TUnits& last, const __m128i* lastWanted)
{
    const __m128i both = _mm_and_si128(unitMask(at, first, firstWanted), unitMask(at + lastOffset, last, lastWanted));
    return static_cast<unsigned>(_mm_movemask_epi8(both));
}

void wanted(const TUnits& units, __m128i* out)
{
    for (int i = 0; i < units.count; ++i) {
        out[i] = _mm_set1_epi16(static_cast<short>(units.unit[i]));
    }
}
#endif

// Where in the needle the second unit looked for stands: its last, or the last that folds on its own.
qsizetype lastLookedAt(const char16_t* needle, qsizetype length, Qt::CaseSensitivity cs)
{
    qsizetype at = length - 1;
    while (cs == Qt::CaseInsensitive && at > 0 && QChar::isLowSurrogate(needle[at])) {
        --at;
    }
    return at;
}

} // namespace

qsizetype findText(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs)
{
    const qsizetype length = needle.size();
    const qsizetype size = haystack.size();
    if (length == 0 || from < 0) {
        return haystack.indexOf(needle, from, cs);
    }
    TUnits first;
    TUnits last;
    const char16_t* n = reinterpret_cast<const char16_t*>(needle.utf16());
    const qsizetype lastOffset = lastLookedAt(n, length, cs);
    if (!unitsLike(n[0], cs, first) || !unitsLike(n[lastOffset], cs, last)) {
        return haystack.indexOf(needle, from, cs);
    }
    const char16_t* h = reinterpret_cast<const char16_t*>(haystack.utf16());
    const qsizetype lastStart = size - length; // the last position a match may start at
    qsizetype i = from;
#ifdef TORVANE_SSE2
    __m128i firstWanted[4];
    __m128i lastWanted[4];
    wanted(first, firstWanted);
    wanted(last, lastWanted);
    for (; i + 7 <= lastStart; i += 8) {
        unsigned mask = candidates(h + i, lastOffset, first, firstWanted, last, lastWanted);
        while (mask != 0) {
            const int bit = __builtin_ctz(mask);
            const qsizetype at = i + bit / 2;
            if (matchesAt(h + at, n, length, cs)) {
                return at;
            }
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i <= lastStart; ++i) {
        if (inUnits(h[i], first) && inUnits(h[i + lastOffset], last) && matchesAt(h + i, n, length, cs)) {
            return i;
        }
    }
    return -1;
}

qsizetype findTextBackward(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs)
{
    const qsizetype length = needle.size();
    const qsizetype size = haystack.size();
    if (length == 0 || from < 0) {
        return haystack.lastIndexOf(needle, from, cs);
    }
    TUnits first;
    TUnits last;
    const char16_t* n = reinterpret_cast<const char16_t*>(needle.utf16());
    const qsizetype lastOffset = lastLookedAt(n, length, cs);
    if (!unitsLike(n[0], cs, first) || !unitsLike(n[lastOffset], cs, last)) {
        return haystack.lastIndexOf(needle, from, cs);
    }
    const char16_t* h = reinterpret_cast<const char16_t*>(haystack.utf16());
    qsizetype i = std::min(from, size - length); // the highest position left to look at
#ifdef TORVANE_SSE2
    __m128i firstWanted[4];
    __m128i lastWanted[4];
    wanted(first, firstWanted);
    wanted(last, lastWanted);
    for (; i >= 7; i -= 8) {
        // Positions i - 7 .. i, the highest first.
        unsigned mask = candidates(h + i - 7, lastOffset, first, firstWanted, last, lastWanted);
        while (mask != 0) {
            const int bit = 31 - __builtin_clz(mask);
            const qsizetype at = i - 7 + bit / 2;
            if (matchesAt(h + at, n, length, cs)) {
                return at;
            }
            mask &= ~(3u << (bit - 1));
        }
    }
#endif
    for (; i >= 0; --i) {
        if (inUnits(h[i], first) && inUnits(h[i + lastOffset], last) && matchesAt(h + i, n, length, cs)) {
            return i;
        }
    }
    return -1;
}

} // namespace torvane
