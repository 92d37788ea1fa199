#include "core/prefault.h"

#include <sys/mman.h>

#include <cstdint>

namespace tolvar {

void Prefault(void* at, std::size_t bytes) {
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kHugePage = 2 << 20;
    if (bytes < 64 * kPage) return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(at) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(at) + bytes) & ~(kPage - 1);
#ifdef MADV_POPULATE_WRITE
    if (end <= begin) return;
    void* const start = reinterpret_cast<void*>(begin);
    // Blocks of megabytes in huge pages where the system gives them: a fault
    // for each 2 MB instead of each 4 KB.
    if (end - begin >= kHugePage) madvise(start, end - begin, MADV_HUGEPAGE);
    madvise(start, end - begin, MADV_POPULATE_WRITE);
#else
    (void)begin;
    (void)end;
#endif
}

}  // namespace tolvar
