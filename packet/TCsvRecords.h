#pragma once

#include "TDelimitedText.h"
#include "TStringGrid.h"

#include <QStringList>

#include <limits>
#include <variant>

namespace torvane {

// CSV text as the data table takes it: the first record names the fields, the others are records; or,
// for a file without a header row, every record is one and the columns are named 列1, 列2, ….
struct TCsvRecords {
    // The header's names, one a column.
    QStringList names;
    // The records below the header, each a row of the data table's form with its values in the file's
    // column order; none has more values than there are names. Fewer than `count` when fewer were kept.
    std::vector<TGridRow> records;
    // How many records the text holds.
    qsizetype count = 0;
};

// Why CSV text is not read into the data table, in the words the window shows.
struct TCsvRefusal {
    QString message;
};

// Reads CSV text (RFC 4180, as fromCsvText, values separated by `separator`) for the data table, keeping
// the first `keep` records (a preview needs no more than a few, but counts them all). Refused: a quoted
// value that is never closed, text without a header row (without any record when `header` is false), a
// header name that is empty or repeats one before it (compared as field names are, case aside), and a
// record with more values than the header.
std::variant<TCsvRecords, TCsvRefusal> readCsvRecords(QStringView csvText, QChar separator = u',', bool header = true,
                                                      qsizetype keep = std::numeric_limits<qsizetype>::max());

} // namespace torvane
