#pragma once

#include "TWorkspace.h"

#include <QString>

#include <optional>

namespace torvane {

// The PARAMS line, without a line break.
QString BuildParamsLine(const TWorkspace& workspace);
// A row value as it stands between the quotes of its attribute.
QString escapeRowValue(const QString& value);
// The whole packet text, every line ending in CR LF. `spare` is a string no longer needed (the text the
// view showed before): its characters are written over when it has the room and is not shared.
QString writePacket(const TWorkspace& workspace, QString spare = QString());

// What showing the XML page does: when NeedsRebuild is set and the XML text does not hold the newer work
// (TWorkspace::needsWrite), returns the packet text for the view, written over `spare` as writePacket()
// does, and clears NeedsRebuild; otherwise returns nullopt and drops `spare` (the caller gives one only
// when a packet is to be written). A failure (out of memory) leaves NeedsRebuild set.
std::optional<QString> writeWorkspaceAsText(TWorkspace& workspace, QString spare = QString());

} // namespace torvane
