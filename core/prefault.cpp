#include "core/prefault.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace tolvar {

namespace {

constexpr std::size_t kPage = 4096;

}  // namespace

void Prefault(void* at, std::size_t bytes) {
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

FilledBlock NewFilledBlock(std::size_t& bytes) {
    void* block = nullptr;
    if (bytes >= kHugePage) {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        block = std::aligned_alloc(kHugePage, bytes);
    } else {
        block = std::malloc(bytes == 0 ? 1 : bytes);
    }
    if (block == nullptr) throw std::bad_alloc();
    Prefault(block, bytes);
    return FilledBlock(static_cast<std::byte*>(block));
}

}  // namespace tolvar
