#pragma once

#include "TDialogs.h"
#include "TWorkspace.h"

#include <QStringView>

#include <optional>

namespace torvane {

// The XML road of the reader: reads a well-formed text as an XML reader reads it (all of it, or with `rowsOnly`
// only its rows, the rest having been read alike by the plain road). A text that is not well-formed is read
// only up to its fault.
void readWellFormed(TWorkspace& ws, QStringView text, TDialogs& dialogs, std::optional<qint64> gridLimit,
                    bool rowsOnly);

} // namespace torvane
