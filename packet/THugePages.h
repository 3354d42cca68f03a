#pragma once

#include <QtGlobal>

#include <cstdint>

#include <sys/mman.h>

namespace torvane {

// A large buffer written from end to end at once (a file's bytes, their decoded text) takes a page fault for
// every 4 KB of fresh memory: a packet of some tens of megabytes spends more time in those faults than in
// decoding. Where the system hands out huge pages on request, asking for them for the buffer's whole 2 MB
// pages makes that one fault every 2 MB, and the passes over the text that follow miss the TLB less often.
// Small buffers are left alone: they come from the heap, whose pages are mostly there already.
inline void preferHugePages(void* data, qsizetype size)
{
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t HugePage = 2 * 1024 * 1024;
    if (size < qsizetype(4 * HugePage)) {
        return;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (at + HugePage - 1) & ~(HugePage - 1);
    const std::uintptr_t end = (at + static_cast<std::uintptr_t>(size)) & ~(HugePage - 1);
    // Only advice: where huge pages are off or none is free, the buffer takes small pages as before.
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

} // namespace torvane
