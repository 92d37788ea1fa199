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
    constexpr std::size_t kHuge = 2 << 20;
    const struct {
        std::size_t asked, size;
        bool aligned;
    } cases[] = {
        {0, 0, false},        {4096, 4096, false},          {kHuge - 1, kHuge - 1, false},
        {kHuge, kHuge, true}, {kHuge + 1, 2 * kHuge, true}, {5 << 20, 3 * kHuge, true},
    };
    for (const auto& c : cases) {
        std::size_t bytes = c.asked;
        const FilledBlock block = NewFilledBlock(bytes);
        ASSERT_NE(block, nullptr) << c.asked;
        EXPECT_EQ(bytes, c.size) << c.asked;
        if (c.aligned) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.get()) % kHuge, 0u) << c.asked;
        }
        if (bytes > 0) {
            std::memset(block.get(), 0x5A, bytes);
            EXPECT_EQ(static_cast<int>(block[bytes - 1]), 0x5A);
        }
    }
}

}  // namespace
}  // namespace tolvar
