#include "TCharacterReferences.h"

#include <QChar>

#include <algorithm>
#include <string_view>

namespace torvane {

namespace {

// Decodes the reference starting at `amp` (an "&"). On success returns its code point and sets `next` to the
// position after its ";"; returns 0 when the text there is no reference this reader knows.
char32_t decodeReference(QStringView value, qsizetype amp, qsizetype& next)
{
    const QStringView rest = value.mid(amp + 1);
    static const struct {
        std::u16string_view name;
        char16_t character;
    } entities[] = {{u"amp;", u'&'}, {u"lt;", u'<'}, {u"gt;", u'>'}, {u"quot;", u'"'}, {u"apos;", u'\''}};
    // Compared here unit by unit: a call into the library for each name would cost more than the comparison.
    for (const auto& entity : entities) {
        if (rest.size() >= static_cast<qsizetype>(entity.name.size()) &&
            std::equal(entity.name.begin(), entity.name.end(), rest.utf16())) {
            next = amp + 1 + entity.name.size();
            return entity.character;
        }
    }
    if (!rest.startsWith(u'#')) {
        return 0;
    }
    qsizetype k = 1;
    int base = 10;
    if (k < rest.size() && rest[k] == u'x') {
        base = 16;
        ++k;
    }
    const qsizetype digitsStart = k;
    char32_t code = 0;
    bool tooLarge = false;
    for (; k < rest.size(); ++k) {
        const char16_t c = rest[k].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (base == 16 && c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (base == 16 && c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            break;
        }
        if (!tooLarge) {
            code = code * static_cast<char32_t>(base) + static_cast<char32_t>(digit);
            tooLarge = code > 0x10FFFF;
        }
    }
    if (k == digitsStart || k >= rest.size() || rest[k] != u';' || tooLarge || code == 0 ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    next = amp + 1 + k + 1;
    return code;
}

} // namespace

QString decodeRowValue(QStringView value)
{
    if (!value.contains(u'&')) {
        return value.toString();
    }
    QString out;
    out.reserve(value.size());
    appendDecodedRowValue(out, value);
    return out;
}

void appendDecodedRowValue(QString& out, QStringView value)
{
    // A reference is never shorter than the characters it stands for: the value's length is room enough,
    // and the decoded characters are written in place.
    const qsizetype start = out.size();
    out.resize(start + value.size());
    char16_t* const first = reinterpret_cast<char16_t*>(out.data());
    char16_t* p = first + start;
    const char16_t* s = value.utf16();
    for (qsizetype k = 0; k < value.size();) {
        if (s[k] != u'&') {
            *p++ = s[k++];
            continue;
        }
        qsizetype next = k + 1;
        const char32_t code = decodeReference(value, k, next);
        if (code != 0) {
            if (QChar::requiresSurrogates(code)) {
                *p++ = QChar::highSurrogate(code);
                *p++ = QChar::lowSurrogate(code);
            } else {
                *p++ = static_cast<char16_t>(code);
            }
        } else {
            *p++ = u'&';
        }
        k = next;
    }
    out.resize(p - first);
}

void appendAttributeValue(QString& out, QStringView value)
{
    const qsizetype start = out.size();
    out.resize(start + value.size());
    char16_t* const first = reinterpret_cast<char16_t*>(out.data());
    char16_t* p = first + start;
    const char16_t* s = value.utf16();
    for (qsizetype k = 0; k < value.size();) {
        const char16_t c = s[k];
        if (c == u'&') {
            qsizetype next = k + 1;
            const char32_t code = decodeReference(value, k, next);
            if (code == 0) {
                *p++ = u'&';
            } else if (QChar::requiresSurrogates(code)) {
                *p++ = QChar::highSurrogate(code);
                *p++ = QChar::lowSurrogate(code);
            } else {
                *p++ = static_cast<char16_t>(code);
            }
            k = next;
            continue;
        }
        if (c == u'\r' && k + 1 < value.size() && s[k + 1] == u'\n') {
            ++k;
            continue;
        }
        *p++ = c == u'\t' || c == u'\n' || c == u'\r' ? u' ' : c;
        ++k;
    }
    out.resize(p - first);
}

} // namespace torvane
