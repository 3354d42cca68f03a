#include "TMemoryProbe.h"

#include <cstdio>

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace torvane {

qint64 gridMemoryBudget()
{
    // Half of what the system could still give without swapping, so that the values themselves, the text
    // and the window keep room.
    qint64 available = 0;
    if (std::FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        long long kib = 0;
        while (std::fgets(line, sizeof line, meminfo)) {
            if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) {
                available = static_cast<qint64>(kib) * 1024;
                break;
            }
        }
        std::fclose(meminfo);
    }
    if (available <= 0) {
        available = static_cast<qint64>(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE);
    }
    return available / 2;
}

void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace torvane
