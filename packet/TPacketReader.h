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
// no data); a text that is not well-formed is scanned for the packet's markers, the only reading it has. The
// plain form the writer writes is scanned either way, which is the fast road. Refused fields are reported through
// `dialogs` and skipped; an integer conversion failure throws TFailure with what was read so far kept, and so does a
// packet whose data table would need more than `gridBytesLimit` bytes (gridMemoryBudget() when not given), before any
// row is read. Returns the road the rows were read by:
enum class TReadRoad {
    // The plain form the writer and the dataset library write, read by its markers.
    Plain,
    // An XML reader's reading of a well-formed text in another form.
    Xml,
    // The markers of a text that is not well-formed.
    Scan,
};
TReadRoad readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                     std::optional<qint64> gridBytesLimit = std::nullopt);

// Reads a text that firstXmlFault finds well-formed as an XML reader reads it: the reading readPacket gives such a
// text in any form but the plain one the writer writes, and must give the plain form too (the reader's fuzz
// target holds the two readings together). A text that is not well-formed is read only up to its fault.
void readPacketAsXml(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                     std::optional<qint64> gridBytesLimit = std::nullopt);

// Reads any text by the packet's markers alone: the reading readPacket gives a text that is not well-formed.
// The tests hold every road to the same rules with it.
void readPacketByScan(TWorkspace& workspace, const QString& text, TDialogs& dialogs);

// What showing the data page does: when NeedsRebuild is set and the data page does not hold the newer work
// (TWorkspace::needsRead), clears it and reads the text that `crlfText`
// gives (asked for only then, as turning a large view into text costs time). True when it read.
bool readTextIntoWorkspace(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs);

} // namespace torvane
