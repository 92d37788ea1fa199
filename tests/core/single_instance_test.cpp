// One running copy per settings file.

#include "core/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace tolvar {
namespace {

TEST(SingleInstance, OneHolderPerFileAndTheSecondStartAsksItToShow) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tolvar-single-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "registry.reg").string();
    pid_t holder = -1;
    auto first = SingleInstance::Claim(file, holder);
    ASSERT_TRUE(first);
    // The same file by another spelling of its path is the same file.
    const std::string again = (dir / "." / "registry.reg").string();
    EXPECT_FALSE(SingleInstance::Claim(again, holder));
    EXPECT_EQ(holder, ::getpid());
    EXPECT_FALSE(first->TakeRequest());  // the probe asked for nothing
    EXPECT_TRUE(SingleInstance::AskToShow(file));
    EXPECT_TRUE(first->TakeRequest());
    // Another file, another copy.
    pid_t none = -1;
    EXPECT_TRUE(SingleInstance::Claim((dir / "other.reg").string(), none));
    // Freed with its holder.
    first.reset();
    EXPECT_FALSE(SingleInstance::AskToShow(file));
    EXPECT_TRUE(SingleInstance::Claim(file, holder));
    EXPECT_EQ(AlreadyRunningText(42), "Tolvar läuft bereits (PID 42)");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tolvar
