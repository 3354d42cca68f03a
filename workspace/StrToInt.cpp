#include "StrToInt.h"

#include "TFailure.h"
#include "TMessageLanguage.h"

namespace torvane {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        return u - u'0';
    }
    if (u >= u'a' && u <= u'f') {
        return u - u'a' + 10;
    }
    if (u >= u'A' && u <= u'F') {
        return u - u'A' + 10;
    }
    return -1;
}

std::optional<std::int32_t> parseHex(QStringView digits)
{
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (QChar c : digits) {
        const int d = hexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int32_t> parseDecimal(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < u'0' || u > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (u - u'0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

} // namespace

std::optional<std::int32_t> tryStrToInt(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') {
        ++i;
    }
    const QStringView rest = text.mid(i);
    // The prefixes are looked at unit by unit: a hundred thousand field widths are read this way.
    const char16_t first = rest.isEmpty() ? u'\0' : rest[0].unicode();
    if (first == u'0' && rest.size() >= 2 && (rest[1] == u'x' || rest[1] == u'X')) {
        return parseHex(rest.mid(2));
    }
    if (first == u'$' || first == u'x' || first == u'X') {
        return parseHex(rest.mid(1));
    }
    return parseDecimal(rest);
}

std::int32_t StrToInt(const QString& text)
{
    if (const auto value = tryStrToInt(text)) {
        return *value;
    }
    throw TFailure(say(u"'%1' は整数ではありません", u"'%1' is not an integer").arg(text));
}

} // namespace torvane
