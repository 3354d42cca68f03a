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

// A CR LF pair, a lone LF and a lone CR each end a line; the result separates lines with "\n".
inline QString toViewText(const QString& text)
{
    if (!text.contains(u'\r')) {
        return text;
    }
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < n && text[i + 1] == u'\n') {
                ++i;
            }
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace torvane
