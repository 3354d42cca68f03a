#pragma once

#include "TDialogs.h"
#include "TWorkspace.h"

#include <QString>

#include <functional>
#include <optional>

namespace torvane {

// Reads a packet text, every line break as CR LF, into the workspace: versions, fields (through
// AddFieldRow), LCID, key selections and rows. A well-formed text reads as an XML reader reads it (quote
// kinds, white space, references; comments, CDATA sections, processing instructions and a document type are
// no data); a text that is not well-formed is scanned for the packet's markers as it always has been. The
// plain form the writer writes is scanned either way, which is the fast road. Refused fields are reported through
// `dialogs` and skipped; an integer conversion failure throws TFailure with what was read so far kept, and so does a
// packet whose data table would need more than `gridBytesLimit` bytes (gridMemoryBudget() when not given), before any
// row is read.
void readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                std::optional<qint64> gridBytesLimit = std::nullopt);

// Reads a text that checkXml finds well-formed as an XML reader reads it: the reading readPacket gives such a
// text in any form but the plain one the writer writes, and must give the plain form too (the reader's fuzz
// target holds the two readings together). A text that is not well-formed is read only up to its fault.
void readPacketAsXml(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                     std::optional<qint64> gridBytesLimit = std::nullopt);

// The data page's show handler: when NeedsRebuild is set and the data page does not hold the newer work
// (TWorkspace::needsRead), clears it and reads the text that `crlfText`
// gives (asked for only then, as turning a large view into text costs time). True when it read.
bool TabSheet1Show(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs);

} // namespace torvane
