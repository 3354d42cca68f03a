#pragma once

#include <QtGlobal>

namespace torvane {

// The bytes a data table may take: half of the memory the system has available now.
qint64 gridMemoryBudget();

} // namespace torvane
