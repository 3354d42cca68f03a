#pragma once

#include <QString>
#include <QStringView>

namespace torvane {

// A row value as the packet holds it, between the quotes of its attribute. The writer escapes with these,
// and the data table tells a large value by them: both must count a character the same way.

// What a character of a row value is written as when it cannot stand as it is, else nullptr. Every such
// character sorts at or below ">".
constexpr const char* escapeOf(char16_t c, bool last)
{
    switch (c) {
    case u'&':
        return "&amp;";
    case u'<':
        return "&lt;";
    case u'>':
        return "&gt;";
    case u'"':
        return "&quot;";
    case u'\r':
        return "&#13;";
    case u'\n':
        return "&#10;";
    case u'\t':
        return "&#9;";
    // A value ending in "=" would end in `="` once written, which reads as the start of an attribute.
    case u'=':
        return last ? "&#61;" : nullptr;
    default:
        return nullptr;
    }
}

// The most characters escapeOf() writes for one character: the room a row value is given for each of its
// characters, as the writer's row builder writes escapes without checking for room.
constexpr qsizetype LongestEscape = 6;

constexpr bool escapesFitTheirRoom()
{
    for (char16_t c = 0; c < 128; ++c) {
        for (const bool last : {false, true}) {
            const char* escaped = escapeOf(c, last);
            qsizetype length = 0;
            while (escaped && escaped[length] != '\0') {
                ++length;
            }
            if (length > LongestEscape) {
                return false;
            }
        }
    }
    return true;
}
static_assert(escapesFitTheirRoom(), "an escape is longer than the room LongestEscape gives each character");

// The characters escapeOf() may change, as bits: digits and most punctuation also sort below ">", and a
// switch on each of them costs more than the copying.
constexpr quint64 EscapableBits = (1ULL << '&') | (1ULL << '<') | (1ULL << '>') | (1ULL << '"') | (1ULL << '\r') |
                                  (1ULL << '\n') | (1ULL << '\t') | (1ULL << '=');

inline bool mayNeedEscape(char16_t c)
{
    return c < 64 && ((EscapableBits >> c) & 1) != 0;
}

// A row value that takes this many characters in the packet, or more, is a large value: kept whole, written
// back whole, shown as "<BLOB>" in the data table and not edited there.
constexpr qsizetype BlobLength = 16380;
// True for a large value: one whose text between the quotes of its attribute is BlobLength or longer.
bool isBlobValue(QStringView value);

} // namespace torvane
