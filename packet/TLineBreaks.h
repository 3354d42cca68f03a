#pragma once

#include <QString>

namespace torvane {

// Packets, the XML view and files all hold line breaks as CR LF. Text from elsewhere (a file saved by
// another editor, the clipboard, an input method) may break lines with a lone LF or a lone CR as well.

// Whether every CR in `text` is followed by an LF and every LF follows a CR.
inline bool hasCrLfBreaksOnly(QStringView text)
{
    const char16_t* begin = text.utf16();
    qsizetype pairs = 0;
    for (qsizetype i = text.indexOf(u'\n'); i >= 0; i = text.indexOf(u'\n', i + 1)) {
        if (i == 0 || begin[i - 1] != u'\r') {
            return false;
        }
        ++pairs;
    }
    return text.count(u'\r') == pairs;
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
