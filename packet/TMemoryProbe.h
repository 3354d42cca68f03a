#pragma once

#include <QtGlobal>

namespace torvane {

// The bytes a data table may take: half of the memory the system has available now.
qint64 gridMemoryBudget();

// Gives the memory that was freed back to the system, where the C library keeps it otherwise: glibc holds
// on to freed heap for the process's next allocations, so that after an import or a load of a large packet
// the window went on occupying a gigabyte it no longer used. Called after the large frees only (it walks the
// heap). Does nothing with other C libraries.
void returnFreedMemory();

} // namespace torvane
