#include "TDelimitedText.h"

#include <algorithm>
#include <cstring>

namespace torvane {

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

bool needsQuotes(QStringView value, QChar separator)
{
    // Letters, digits and most signs lie above all four characters looked for (when the separator is one
    // of the usual ones): one comparison passes them.
    const char16_t above = std::max<char16_t>(separator.unicode(), u'"');
    for (const QChar c : value) {
        if (c.unicode() <= above && (c == separator || c == u'"' || c == u'\n' || c == u'\r')) {
            return true;
        }
    }
    return false;
}

void appendRecord(QString& out, const QStringView* values, int count, QChar separator, QLatin1String lineBreak,
                  bool marked)
{
    // Written through a pointer into room made once for the longest the record can become (every value
    // quoted, every character a doubled quote): appending piece by piece checked the room each time, and a
    // table of a million rows has ten million values.
    qsizetype longest = 2 + count + lineBreak.size();
    for (int i = 0; i < count; ++i) {
        longest += 2 * values[i].size() + 2;
    }
    const qsizetype start = out.size();
    out.resize(start + longest);
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* p = begin + start;
    if (marked && count == 1 && values[0].isEmpty()) {
        *p++ = u'"';
        *p++ = u'"';
    }
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            *p++ = separator.unicode();
        }
        const QStringView value = values[i];
        const qsizetype n = value.size();
        if (n == 0) {
            continue;
        }
        const char16_t* chars = value.utf16();
        if (!needsQuotes(value, separator)) {
            std::memcpy(p, chars, static_cast<size_t>(n) * sizeof(char16_t));
            p += n;
            continue;
        }
        *p++ = u'"';
        for (qsizetype k = 0; k < n; ++k) {
            if (chars[k] == u'"') {
                *p++ = u'"';
            }
            *p++ = chars[k];
        }
        *p++ = u'"';
    }
    for (const char c : lineBreak) {
        *p++ = static_cast<char16_t>(c);
    }
    out.truncate(p - begin);
}

// `markEmptyRecord`: which records of one empty value are written "" so that they are no blank line.
enum class TMarkEmpty { Last, All };

QString write(const TTextTable& rows, QChar separator, QLatin1String lineBreak, TMarkEmpty markEmptyRecord)
{
    QString out;
    std::vector<QStringView> views;
    for (const auto& row : rows) {
        const bool marked = markEmptyRecord == TMarkEmpty::All ||
                            (markEmptyRecord == TMarkEmpty::Last && &row == &rows.back() && rows.size() > 1);
        views.assign(row.begin(), row.end());
        appendRecord(out, views.data(), static_cast<int>(views.size()), separator, lineBreak, marked);
    }
    return out;
}

// The one reader of both forms, handing each record on as views. `strict`: an unclosed quote fails, and
// blank lines hold no record (CSV); otherwise an unclosed quote is read as it stands, and a blank line is a
// record of one empty value. Plain values and quoted ones without doubled quotes are views into `text`; the
// others are undone into one buffer that the record's values share.
bool scan(QStringView text, QChar separator, bool strict, int* errorLine, const TCsvRecordSink& record)
{
    // A value: `length` characters from `start` in the text, or in the buffer.
    struct TSpan {
        qsizetype start;
        qsizetype length;
        bool undone;
    };
    std::vector<TSpan> spans;
    std::vector<QStringView> values;
    QString undone;
    const qsizetype n = text.size();
    const auto valueEnd = [&](qsizetype from) {
        while (from < n && text[from] != separator && !isLineBreak(text[from])) {
            ++from;
        }
        return from;
    };
    const auto handOn = [&] {
        values.resize(spans.size());
        for (size_t k = 0; k < spans.size(); ++k) {
            const TSpan& span = spans[k];
            values[k] =
                span.undone ? QStringView(undone).mid(span.start, span.length) : text.mid(span.start, span.length);
        }
        record(values.data(), static_cast<int>(values.size()));
        spans.clear();
        undone.truncate(0);
    };
    int line = 1;
    qsizetype i = 0;
    while (i < n) {
        if (strict && spans.empty() && isLineBreak(text[i])) {
            i += (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
            ++line;
            continue;
        }
        bool plain = true;
        if (text[i] == u'"') {
            int lines = 0;
            const qsizetype first = i + 1;
            const qsizetype undoneStart = undone.size();
            // The characters from `from` on are still to be copied, once anything had to be.
            qsizetype from = first;
            bool copied = false;
            bool closed = false;
            qsizetype j = first;
            for (; j < n; ++j) {
                const QChar c = text[j];
                if (c == u'"') {
                    if (j + 1 < n && text[j + 1] == u'"') {
                        undone += text.mid(from, j + 1 - from);
                        copied = true;
                        ++j;
                        from = j + 1;
                        continue;
                    }
                    closed = true;
                    break;
                }
                if (c == u'\n' || (c == u'\r' && !(j + 1 < n && text[j + 1] == u'\n'))) {
                    ++lines;
                }
            }
            if (closed) {
                // Anything between the closing quote and the separator is kept as it stands.
                const qsizetype end = valueEnd(j + 1);
                if (copied || end > j + 1) {
                    undone += text.mid(from, j - from);
                    undone += text.mid(j + 1, end - j - 1);
                    spans.push_back({undoneStart, undone.size() - undoneStart, true});
                } else {
                    spans.push_back({first, j - first, false});
                }
                i = end;
                line += lines;
                plain = false;
            } else if (strict) {
                if (errorLine) {
                    *errorLine = line;
                }
                return false;
            } else {
                undone.truncate(undoneStart);
            }
        }
        if (plain) {
            const qsizetype end = valueEnd(i);
            spans.push_back({i, end - i, false});
            i = end;
        }
        if (i < n && text[i] == separator) {
            ++i;
            if (i == n) {
                spans.push_back({i, 0, false});
            } else {
                continue;
            }
        } else if (i < n) {
            i += (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
            ++line;
        }
        handOn();
    }
    return true;
}

std::optional<TTextTable> read(QStringView text, QChar separator, bool strict, int* errorLine)
{
    TTextTable rows;
    const bool read = scan(text, separator, strict, errorLine, [&rows](const QStringView* values, int count) {
        auto& row = rows.emplace_back();
        row.reserve(static_cast<size_t>(count));
        for (int k = 0; k < count; ++k) {
            row.push_back(values[k].toString());
        }
    });
    if (!read) {
        return std::nullopt;
    }
    return rows;
}

} // namespace

QString toTabText(const TTextTable& rows)
{
    return write(rows, u'\t', QLatin1String("\n"), TMarkEmpty::Last);
}

TTextTable fromTabText(QStringView text)
{
    TTextTable rows = *read(text, u'\t', false, nullptr);
    const qsizetype n = text.size();
    if (rows.size() > 1 && rows.back().size() == 1 && rows.back().front().isEmpty() && n > 0 &&
        isLineBreak(text[n - 1])) {
        // Many programs end their clipboard text with a blank line; only a bare one is no row (a last value
        // written "" is one).
        const qsizetype lastBreak = (n >= 2 && text[n - 2] == u'\r' && text[n - 1] == u'\n') ? n - 2 : n - 1;
        if (lastBreak > 0 && isLineBreak(text[lastBreak - 1])) {
            rows.pop_back();
        }
    }
    return rows;
}

QString toCsvText(const TTextTable& rows)
{
    return write(rows, u',', QLatin1String("\r\n"), TMarkEmpty::All);
}

std::optional<TTextTable> fromCsvText(QStringView text, int* errorLine, QChar separator)
{
    return read(text, separator, true, errorLine);
}

void appendCsvRecord(QString& out, const QStringView* values, int count)
{
    appendRecord(out, values, count, u',', QLatin1String("\r\n"), true);
}

bool scanCsvText(QStringView text, const TCsvRecordSink& record, int* errorLine, QChar separator)
{
    return scan(text, separator, true, errorLine, record);
}

} // namespace torvane
