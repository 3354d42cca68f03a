#pragma once

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>
#include <vector>

namespace torvane {

// Rows of values, as tab-separated clipboard text and CSV files hold them.
using TTextTable = std::vector<std::vector<QString>>;

// Tab-separated text as spreadsheets put it on the clipboard: a row a line, each line ending in "\n"; a
// value holding a tab, a line break or a double quote is written in double quotes with "" for ". A last row
// of one empty value after other rows is written "", since a blank last line is read as no row.
QString toTabText(const TTextTable& rows);
// Tab-separated text as LibreOffice Calc and Excel put it on the clipboard. A line break (CR LF, LF or CR)
// ends a row, the last one included; a quoted value may hold tabs and line breaks. A blank line is a row of
// one empty value, except a blank line ending the text after other rows ("x\ty\n\n"): many programs end
// their clipboard text so. A quote that is never closed is read as the text it stands in.
TTextTable fromTabText(QStringView text);

// A CSV file's text (RFC 4180): records ending in CR LF; a value holding a comma, a line break or a double
// quote is quoted as above, and a record of one empty value is written "" so that it is no blank line.
QString toCsvText(const TTextTable& rows);
// Appends one record of toCsvText's form (its CR LF included) to `out`: the writer of CSV files that go out
// a record at a time.
void appendCsvRecord(QString& out, const QStringView* values, int count);
// Reads CSV text with RFC 4180 quoting; blank lines hold no record. A quote that is never closed makes
// the text malformed: nullopt, with the line where the quoted value began in `errorLine`. Files from
// spreadsheets may separate values by a tab or a semicolon instead of the comma.
std::optional<TTextTable> fromCsvText(QStringView text, int* errorLine = nullptr, QChar separator = u',');

// A record as scanCsvText hands it on: its values, views valid during the call only.
using TCsvRecordSink = std::function<void(const QStringView* values, int count)>;
// Reads CSV text as fromCsvText does, handing each record to `record` as it is read instead of collecting
// the records: a value is copied only where its quotes must be undone. False where a quoted value is never
// closed (its line in `errorLine`), after the records before it were handed on.
bool scanCsvText(QStringView text, const TCsvRecordSink& record, int* errorLine = nullptr, QChar separator = u',');

} // namespace torvane
