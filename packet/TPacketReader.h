#pragma once

#include "TDialogs.h"
#include "TWorkspace.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

namespace torvane {

// Reads a packet text, every line break as CR LF, into the workspace: versions, fields (through
// AddFieldRow), key selections, LCID and rows. Refused fields are reported through `dialogs` and skipped; an
// integer conversion failure throws TFailure with what was read so far kept, and so does a packet whose data
// table would need more than `gridBytesLimit` bytes (gridMemoryBudget() when not given), before any row is
// read.
void readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                std::optional<qint64> gridBytesLimit = std::nullopt);

// The bytes a data table may take: half of the memory the system has available now.
qint64 gridMemoryBudget();

// The data page's show handler: when NeedsRebuild is set and the data page does not hold the newer work
// (TWorkspace::needsRead), clears it and reads the text that `crlfText`
// gives (asked for only then, as turning a large view into text costs time). True when it read.
bool TabSheet1Show(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs);

// A row value as cut out of its attribute, with character references and the five entities decoded.
QString decodeRowValue(QStringView value);
// The same, appended to `out`.
void appendDecodedRowValue(QString& out, QStringView value);

// Position of the first occurrence of `marker` lying wholly inside text positions [from, to), letter case
// ignored exactly as QStringView::indexOf(..., Qt::CaseInsensitive) ignores it; -1 when there is none. The
// reader's markers begin with an ASCII character, which this finds with a plain character scan, far faster
// than the general case-insensitive search on texts of many megabytes.
qsizetype findIgnoringCase(QStringView text, QStringView marker, qsizetype from, qsizetype to);

} // namespace torvane
