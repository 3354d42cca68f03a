#include "TDelimitedText.h"

namespace torvane {

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

void appendValue(QString& out, const QString& value, QChar separator)
{
    const bool quoted =
        value.contains(separator) || value.contains(u'"') || value.contains(u'\n') || value.contains(u'\r');
    if (!quoted) {
        out += value;
        return;
    }
    out += u'"';
    for (const QChar c : value) {
        if (c == u'"') {
            out += u'"';
        }
        out += c;
    }
    out += u'"';
}

// `markEmptyRecord`: which records of one empty value are written "" so that they are no blank line.
enum class TMarkEmpty { Last, All };

QString write(const TTextTable& rows, QChar separator, QLatin1String lineBreak, TMarkEmpty markEmptyRecord)
{
    QString out;
    for (const auto& row : rows) {
        const bool marked = markEmptyRecord == TMarkEmpty::All ||
                            (markEmptyRecord == TMarkEmpty::Last && &row == &rows.back() && rows.size() > 1);
        if (marked && row.size() == 1 && row.front().isEmpty()) {
            out += QLatin1String("\"\"");
        }
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0) {
                out += separator;
            }
            appendValue(out, row[i], separator);
        }
        out += lineBreak;
    }
    return out;
}

// The one reader of both forms. `strict`: an unclosed quote fails, and blank lines hold no record (CSV);
// otherwise an unclosed quote is read as it stands, and a blank line is a row of one empty value, except a
// blank line that ends the text after other rows: many programs end their clipboard text with one.
std::optional<TTextTable> read(QStringView text, QChar separator, bool strict, int* errorLine)
{
    TTextTable rows;
    std::vector<QString> row;
    const qsizetype n = text.size();
    const auto valueEnd = [&](qsizetype from) {
        while (from < n && text[from] != separator && !isLineBreak(text[from])) {
            ++from;
        }
        return from;
    };
    int line = 1;
    qsizetype i = 0;
    while (i < n) {
        if (strict && row.empty() && isLineBreak(text[i])) {
            i += (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
            ++line;
            continue;
        }
        QString value;
        bool plain = true;
        if (text[i] == u'"') {
            int lines = 0;
            qsizetype j = i + 1;
            bool closed = false;
            for (; j < n; ++j) {
                const QChar c = text[j];
                if (c == u'"') {
                    if (j + 1 < n && text[j + 1] == u'"') {
                        value += c;
                        ++j;
                        continue;
                    }
                    closed = true;
                    ++j;
                    break;
                }
                if (c == u'\n' || (c == u'\r' && !(j + 1 < n && text[j + 1] == u'\n'))) {
                    ++lines;
                }
                value += c;
            }
            if (closed) {
                // Anything between the closing quote and the separator is kept as it stands.
                const qsizetype end = valueEnd(j);
                value += text.mid(j, end - j);
                i = end;
                line += lines;
                plain = false;
            } else if (strict) {
                if (errorLine) {
                    *errorLine = line;
                }
                return std::nullopt;
            }
        }
        if (plain) {
            const qsizetype end = valueEnd(i);
            value = text.mid(i, end - i).toString();
            i = end;
        }
        row.push_back(std::move(value));
        if (i < n && text[i] == separator) {
            ++i;
            if (i == n) {
                row.emplace_back();
            } else {
                continue;
            }
        } else if (i < n) {
            i += (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ? 2 : 1;
            ++line;
        }
        rows.push_back(std::move(row));
        row.clear();
    }
    if (!strict && rows.size() > 1 && rows.back().size() == 1 && rows.back().front().isEmpty() && n > 0 &&
        isLineBreak(text[n - 1])) {
        // Only a bare blank line: a last value written "" is a row.
        const qsizetype lastBreak = (n >= 2 && text[n - 2] == u'\r' && text[n - 1] == u'\n') ? n - 2 : n - 1;
        if (lastBreak > 0 && isLineBreak(text[lastBreak - 1])) {
            rows.pop_back();
        }
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
    return *read(text, u'\t', false, nullptr);
}

QString toCsvText(const TTextTable& rows)
{
    return write(rows, u',', QLatin1String("\r\n"), TMarkEmpty::All);
}

std::optional<TTextTable> fromCsvText(QStringView text, int* errorLine, QChar separator)
{
    return read(text, separator, true, errorLine);
}

} // namespace torvane
