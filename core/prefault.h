#pragma once
// Fresh memory that is about to be filled, such as a buffer a large file is
// read into.

#include <cstddef>

namespace tolvar {

// Asks for the pages of a large block at once, which costs far less than a
// fault for each page as it is filled, and in huge pages for blocks of
// megabytes; where the system cannot, they come one by one as before. Small
// blocks are left alone.
void Prefault(void* at, std::size_t bytes);

}  // namespace tolvar
