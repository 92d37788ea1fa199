#pragma once
// Fresh memory that is about to be filled, such as a buffer a large file is
// read into.

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace tolvar {

// 2 MB: the huge page of x86-64, the unit in which the kernel can back a block.
inline constexpr std::size_t kHugePage = 2 << 20;

// Asks for the pages of a large block at once, which costs far less than a
// fault for each page as it is filled, and in huge pages for blocks of
// megabytes; where the system cannot, they come one by one as before. Small
// blocks are left alone.
void Prefault(void* at, std::size_t bytes);

struct FreeBlock {
    void operator()(std::byte* block) const { std::free(block); }
};
using FilledBlock = std::unique_ptr<std::byte[], FreeBlock>;

// A block that is about to be filled whole, its pages asked for at once. A
// block of megabytes is rounded up to whole huge pages and starts on one, so
// that it takes a fault for each 2 MB; bytes becomes its size. Throws
// std::bad_alloc.
FilledBlock NewFilledBlock(std::size_t& bytes);

}  // namespace tolvar
