#pragma once

#include "TDialogs.h"
#include "TWorkspace.h"

#include <QString>
#include <QStringView>

#include <functional>

namespace torvane {

// Reads a packet text, every line break as CR LF, into the workspace: versions, fields (through
// AddFieldRow), key selections and rows. Refused fields are reported through `dialogs` and skipped; an
// integer conversion failure throws TFailure with what was read so far kept.
void readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs);

// The data page's show handler: when NeedsRebuild is set, clears it and reads the text that `crlfText`
// gives (asked for only then, as turning a large view into text costs time). True when it read.
bool TabSheet1Show(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs);

// A row value as cut out of its attribute, with character references and the five entities decoded.
QString decodeRowValue(QStringView value);

} // namespace torvane
