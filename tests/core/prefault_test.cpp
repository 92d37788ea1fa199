// Blocks filled at once: blocks of megabytes come in whole huge pages on a
// huge-page boundary (else the system cannot back them with huge pages), small
// ones as asked for; every byte of either is there to be written.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "core/prefault.h"

namespace tolvar {
namespace {

TEST(FilledBlock, MegabytesComeInWholeHugePages) {
    const struct {
        std::size_t asked, size;
        bool aligned;
    } cases[] = {
        {0, 0, false},
        {4096, 4096, false},
        {kHugePage - 1, kHugePage - 1, false},
        {kHugePage, kHugePage, true},
        {kHugePage + 1, 2 * kHugePage, true},
        {5 << 20, 3 * kHugePage, true},
    };
    for (const auto& c : cases) {
        std::size_t bytes = c.asked;
        const FilledBlock block = NewFilledBlock(bytes);
        ASSERT_NE(block, nullptr) << c.asked;
        EXPECT_EQ(bytes, c.size) << c.asked;
        if (c.aligned) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.get()) % kHugePage, 0u) << c.asked;
        }
        if (bytes > 0) {
            std::memset(block.get(), 0x5A, bytes);
            EXPECT_EQ(static_cast<int>(block[bytes - 1]), 0x5A);
        }
    }
}

}  // namespace
}  // namespace tolvar
