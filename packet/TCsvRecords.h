#pragma once

#include "TDelimitedText.h"

#include <QStringList>

#include <variant>

namespace torvane {

// CSV text as the data table takes it: the first record names the fields, the others are records; or,
// for a file without a header row, every record is one and the columns are named 列1, 列2, ….
struct TCsvRecords {
    // The header's names, one a column.
    QStringList names;
    // The records below the header, none with more values than there are names.
    TTextTable records;
};

// Why CSV text is not read into the data table, in the words the window shows.
struct TCsvRefusal {
    QString message;
};

// Reads CSV text (RFC 4180, as fromCsvText, values separated by `separator`) for the data table. Refused:
// a quoted value that is never closed, text without a header row (without any record when `header` is
// false), a header name that is empty or repeats one before it (compared as field names are, case aside),
// and a record with more values than the header.
std::variant<TCsvRecords, TCsvRefusal> readCsvRecords(QStringView csvText, QChar separator = u',', bool header = true);

} // namespace torvane
