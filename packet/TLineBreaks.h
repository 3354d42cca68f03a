#pragma once

#include <QString>

namespace torvane {

// The XML view holds lines separated by "\n"; the reader and packet files see every line break as CR LF.
inline QString toCrLf(const QString& viewText)
{
    QString out;
    out.reserve(viewText.size() + viewText.size() / 32 + 16);
    qsizetype start = 0;
    for (qsizetype i = viewText.indexOf(u'\n'); i >= 0; i = viewText.indexOf(u'\n', start)) {
        out += QStringView(viewText).mid(start, i - start);
        out += QLatin1String("\r\n");
        start = i + 1;
    }
    out += QStringView(viewText).mid(start);
    return out;
}

// A CR LF pair, a lone LF and a lone CR each end a line; the result separates lines with "\n". Works in
// place, as a loaded file can be tens of megabytes.
inline QString toViewText(QString text)
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
