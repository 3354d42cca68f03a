#include "TMarkerSearch.h"

#include <QChar>

#include <array>
#include <vector>

namespace torvane {

namespace {

constexpr qsizetype NotFound = -1;

// For every ASCII character, the UTF-16 units (surrogates aside) whose case folding equals its own, so that
// a search for a marker can jump from one possible first character to the next. Besides the two letter
// cases this holds the few others that fold to an ASCII letter, such as the Kelvin sign for "k".
const std::array<std::vector<char16_t>, 128>& asciiFoldPartners()
{
    static const std::array<std::vector<char16_t>, 128> partners = [] {
        std::array<std::vector<char16_t>, 128> table;
        for (char32_t u = 0; u <= 0xFFFF; ++u) {
            if (QChar::isSurrogate(u)) {
                continue;
            }
            const char32_t folded = QChar::toCaseFolded(u);
            if (folded < 128) {
                table[folded].push_back(static_cast<char16_t>(u));
            }
        }
        return table;
    }();
    return partners;
}

} // namespace

// Whether two texts of the same length are equal with letter case ignored, exactly as
// QStringView::compare(..., Qt::CaseInsensitive) ignores it. Markers and the text around them are mostly
// ASCII, where folding only maps A to Z onto a to z: that is compared here, unit by unit. A non-ASCII unit
// on either side may fold onto an ASCII letter (the long s onto "s", the Kelvin sign onto "k") or form a
// surrogate pair, so from the first one on the library's full comparison decides.
bool equalIgnoringCase(QStringView a, QStringView b)
{
    const char16_t* x = a.utf16();
    const char16_t* y = b.utf16();
    const qsizetype n = a.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t p = x[i];
        const char16_t q = y[i];
        if (p == q) {
            continue;
        }
        if (p >= 128 || q >= 128) {
            return a.compare(b, Qt::CaseInsensitive) == 0;
        }
        if ((p | 0x20) != (q | 0x20) || (p | 0x20) < u'a' || (p | 0x20) > u'z') {
            return false;
        }
    }
    return true;
}

// Appends `text` case-folded code point by code point, the folding that case-insensitive comparison uses.
void appendFolded(QString& out, QStringView text)
{
    // Names are mostly ASCII, where only A to Z change; that case is written straight into the buffer.
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
    if (ascii) {
        const qsizetype start = out.size();
        out.resize(start + text.size());
        char16_t* to = reinterpret_cast<char16_t*>(out.data()) + start;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            *to++ = u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u;
        }
        return;
    }
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, text[i + 1]));
            out += QChar::fromUcs4(folded);
            ++i;
        } else {
            out += QChar(static_cast<char16_t>(QChar::toCaseFolded(static_cast<char32_t>(c.unicode()))));
        }
    }
}

qsizetype findIgnoringCase(QStringView text, QStringView marker, qsizetype from, qsizetype to)
{
    const qsizetype n = marker.size();
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, text.size());
    const qsizetype lastStart = to - n;
    if (n == 0) {
        return from <= to ? from : NotFound;
    }
    if (lastStart < from) {
        return NotFound;
    }
    const QChar first = marker.front();
    if (first.unicode() >= 128) {
        const qsizetype found = text.mid(from, to - from).indexOf(marker, 0, Qt::CaseInsensitive);
        return found == NotFound ? NotFound : from + found;
    }

    const std::vector<char16_t>& units = asciiFoldPartners()[QChar::toCaseFolded(first.unicode())];
    const QStringView starts = text.first(lastStart + 1);
    const QStringView rest = marker.mid(1);
    // The next position of each possible first character; each is searched again only once passed.
    std::array<qsizetype, 4> next{};
    const size_t count = std::min(units.size(), next.size());
    if (count < units.size()) {
        const qsizetype found = text.mid(from, to - from).indexOf(marker, 0, Qt::CaseInsensitive);
        return found == NotFound ? NotFound : from + found;
    }
    for (size_t u = 0; u < count; ++u) {
        next[u] = starts.indexOf(QChar(units[u]), from);
    }
    for (;;) {
        qsizetype k = NotFound;
        for (size_t u = 0; u < count; ++u) {
            if (next[u] != NotFound && (k == NotFound || next[u] < k)) {
                k = next[u];
            }
        }
        if (k == NotFound) {
            return NotFound;
        }
        if (equalIgnoringCase(text.mid(k + 1, n - 1), rest)) {
            return k;
        }
        for (size_t u = 0; u < count; ++u) {
            if (next[u] == k) {
                next[u] = starts.indexOf(QChar(units[u]), k + 1);
            }
        }
    }
}

} // namespace torvane
