#include "bytes.h"

#include <cstdint>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace varnook {

void adviseHugePages(void* block, std::size_t size) noexcept
{
#ifdef _WIN32
    // Windows gives large pages only to holders of a privilege: none asked.
    (void)block;
    (void)size;
#else
    constexpr std::size_t kHugePage = 2 * 1024 * 1024;
    if (size < 4 * kHugePage) {
        return;
    }
    const auto first = (reinterpret_cast<std::uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kHugePage - 1);
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#endif
}

} // namespace varnook
