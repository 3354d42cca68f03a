#pragma once

#include "TDelimitedText.h"

#include <QStringList>

#include <variant>

namespace torvane {

// CSV text as the data table takes it: the first record names the fields, the others are records.
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

// Reads CSV text (RFC 4180, as fromCsvText) for the data table. Refused: a quoted value that is never
// closed, text without a header row, a header name that is empty or repeats one before it (compared as
// field names are, case aside), and a record with more values than the header.
std::variant<TCsvRecords, TCsvRefusal> readCsvRecords(QStringView csvText);

} // namespace torvane
