// The signal thread: synchronous hand-over, no spinning on errors, clean stop.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "capi/capi_thread.h"

namespace tolvar {
namespace {

// A driver whose wait answers at once with a fixed result, counting calls.
class InstantDriver final : public CapiDriver {
  public:
    explicit InstantDriver(std::uint32_t waitResult) : waitResult_(waitResult) {}
    std::uint32_t Register(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                           std::uint32_t& id) override {
        id = 1;
        return 0;
    }
    std::uint32_t Release(std::uint32_t) override { return 0; }
    std::uint32_t PutMessage(std::uint32_t, Bytes, Bytes) override { return 0; }
    std::uint32_t GetMessage(std::uint32_t, CapiMessageView&) override {
        return kCapiReceiveQueueEmpty;
    }
    std::uint32_t WaitForSignal(std::uint32_t, std::uint32_t) override {
        ++waits;
        return waitResult_;
    }
    std::string GetManufacturer() override { return ""; }
    std::atomic<int> waits{0};

  private:
    std::uint32_t waitResult_;
};

// The "main thread" of the test: a queue drained by hand.
class MainQueue {
  public:
    void Post(std::function<void()> fn) {
        std::lock_guard g(m_);
        q_.push_back(std::move(fn));
        cv_.notify_all();
    }
    // Runs one posted function, waiting up to a second for it.
    bool RunOne() {
        std::unique_lock l(m_);
        if (!cv_.wait_for(l, std::chrono::seconds(1), [&] { return !q_.empty(); })) return false;
        auto fn = std::move(q_.front());
        q_.pop_front();
        l.unlock();
        fn();
        return true;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> q_;
};

TEST(SignalThread, HandsOverOneSignalAtATime) {
    InstantDriver driver(0);  // a message always waits
    MainQueue main;
    std::atomic<int> inHandler{0}, handled{0};
    bool overlapped = false;
    SignalHandOver handOver([&](std::function<void()> fn) { main.Post(std::move(fn)); },
                            [&] {
                                if (++inHandler > 1) overlapped = true;
                                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                --inHandler;
                                ++handled;
                                return true;
                            });
    TCAPIThread thread(driver, 1, handOver);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(main.RunOne());
    // While the main thread does not run the hand-over, the thread waits no further.
    const int waitsSoFar = driver.waits;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(driver.waits, waitsSoFar + 1);
    handOver.Stop();
    thread.Join();
    EXPECT_EQ(handled, 5);
    EXPECT_FALSE(overlapped);
}

TEST(SignalThread, BacksOffWhenWaitFailsAtOnce) {
    InstantDriver driver(0x1101);  // e.g. no CAPI reachable
    SignalHandOver handOver([](std::function<void()>) {}, [] { return true; });
    TCAPIThread thread(driver, 1, handOver);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    thread.Join();
    // A tight loop would have made hundreds of thousands of calls.
    EXPECT_LT(driver.waits, 12);
}

TEST(SignalThread, BacksOffWhenSignalsFetchNothing) {
    InstantDriver driver(0);
    MainQueue main;
    std::atomic<int> fetches{0};
    SignalHandOver handOver([&](std::function<void()> fn) { main.Post(std::move(fn)); },
                            [&] {
                                ++fetches;
                                return false;  // the fetch found nothing
                            });
    TCAPIThread thread(driver, 1, handOver);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    while (std::chrono::steady_clock::now() < end) main.RunOne();
    handOver.Stop();
    thread.Join();
    EXPECT_LT(fetches, 12);
}

TEST(SignalThread, StopWhileHandOverIsPendingEndsTheThread) {
    InstantDriver driver(0);
    // Nobody ever runs the posted hand-over: Stop alone must free the thread.
    SignalHandOver handOver([](std::function<void()>) {}, [] { return true; });
    TCAPIThread thread(driver, 1, handOver);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    handOver.Stop();
    thread.Join();
    SUCCEED();
}

}  // namespace
}  // namespace tolvar
