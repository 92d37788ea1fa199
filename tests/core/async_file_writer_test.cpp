// The writer thread of the event log: requests that pile up collapse into the
// newest, failures come back as outcomes, nothing asked for is dropped at the end.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "core/async_file_writer.h"
#include "support/files.h"

namespace tolvar {
namespace {

// Holds the writer inside its first build until released.
class Gate {
  public:
    void Wait() {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    void AwaitEntry() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

TEST(AsyncFileWriter, PiledUpRequestsCollapseIntoTheNewest) {
    test::TempDir dir;
    const std::string path = dir.File("Tolvar.txt");
    std::atomic<int> built{0}, told{0};
    Gate gate;
    AsyncFileWriter writer(path, [&] { ++told; });
    writer.Submit([&] {
        ++built;
        gate.Wait();
        return std::string_view("erste\r\n");
    });
    gate.AwaitEntry();
    for (int i = 2; i <= 5; ++i)
        writer.Submit([&, text = std::to_string(i) + "\r\n"] {
            ++built;
            return std::string_view(text);
        });
    gate.Open();
    writer.Finish();
    EXPECT_EQ(built, 2);  // the first, then only the newest of the four behind it
    EXPECT_EQ(test::ReadAll(path), "5\r\n");
    const auto outcome = writer.TakeOutcome();
    EXPECT_TRUE(outcome.any);
    EXPECT_FALSE(outcome.firstError);
    EXPECT_FALSE(writer.TakeOutcome().any);
    // The news of a write goes out after it ended; the last may still be on its way.
    while (told < 2) std::this_thread::yield();
}

TEST(AsyncFileWriter, FailuresComeBackAndTheOldFileStays) {
    test::TempDir dir;
    const std::string path = dir.File("Tolvar.txt");
    test::WriteAll(path, "alt\r\n");
    AsyncFileWriter writer(path);
    {
        test::DiskFull full;
        writer.Submit([text = std::string(1000, 'x')] { return std::string_view(text); });
        writer.Finish();
    }
    auto outcome = writer.TakeOutcome();
    ASSERT_TRUE(outcome.firstError);
    EXPECT_FALSE(outcome.lastSucceeded);
    EXPECT_EQ(test::ReadAll(path), "alt\r\n");
    // Content that cannot be made is a failed write too.
    writer.Submit([]() -> std::string_view { throw std::bad_alloc(); });
    writer.Submit([] { return std::string_view("neu\r\n"); });
    writer.Finish();
    outcome = writer.TakeOutcome();
    EXPECT_TRUE(outcome.lastSucceeded);
    EXPECT_EQ(test::ReadAll(path), "neu\r\n");
}

TEST(AsyncFileWriter, EndFinishesWhatWasAskedAndCancelDropsOnlyWaitingRequests) {
    test::TempDir dir;
    const std::string path = dir.File("Tolvar.txt");
    {
        AsyncFileWriter writer(path);
        writer.Submit([] { return std::string_view("zuletzt\r\n"); });
    }
    EXPECT_EQ(test::ReadAll(path), "zuletzt\r\n");

    Gate gate;
    AsyncFileWriter writer(path);
    EXPECT_FALSE(writer.Cancel());
    writer.Submit([&] {
        gate.Wait();
        return std::string_view("läuft\r\n");
    });
    gate.AwaitEntry();
    writer.Submit([] { return std::string_view("wartet\r\n"); });
    EXPECT_TRUE(writer.Cancel());
    gate.Open();
    writer.Finish();
    EXPECT_EQ(test::ReadAll(path), "läuft\r\n");
}

}  // namespace
}  // namespace tolvar
