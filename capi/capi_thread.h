#pragma once
// The signal thread: waits on CAPI and hands each signal to the main thread
// synchronously, so exactly one received message is in flight.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "capi/capi_driver.h"

namespace tolvar {

// A call into the main thread that returns only after the handler has run.
class SignalHandOver {
  public:
    // post: queue a function to run on the main thread (thread-safe).
    // onSignal: runs on the main thread; true when a message was fetched.
    using Post = std::function<void(std::function<void()>)>;
    SignalHandOver(Post post, std::function<bool()> onSignal);

    // Signal thread: blocks until the main thread has run onSignal, or until
    // Stop. Returns onSignal's result, false when stopped.
    bool Deliver();
    // Main thread: wake a waiting Deliver and refuse every later one.
    void Stop();

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool stopped = false;
        std::uint64_t handled = 0;
        bool lastResult = false;
    };
    Post post_;
    std::function<bool()> onSignal_;
    std::shared_ptr<State> state_;
};

class TCAPIThread {
  public:
    // Starts running at once.
    TCAPIThread(CapiDriver& driver, std::uint32_t applId, SignalHandOver& handOver);
    ~TCAPIThread();
    TCAPIThread(const TCAPIThread&) = delete;
    TCAPIThread& operator=(const TCAPIThread&) = delete;

    // Sets the terminate flag and wakes the thread from a back-off.
    void Terminate();
    // Terminate and wait for the thread to end.
    void Join();

    // How long one wait for a signal lasts, and the longest back-off after errors.
    static constexpr std::uint32_t kWaitMs = 250;
    static constexpr std::uint32_t kMaxBackoffMs = 2000;

  private:
    void Execute();
    void Sleep(std::uint32_t ms);

    CapiDriver& driver_;
    const std::uint32_t applId_;
    SignalHandOver& handOver_;
    std::atomic<bool> terminated_{false};
    std::mutex sleepMutex_;
    std::condition_variable sleepCv_;
    std::thread thread_;
};

}  // namespace tolvar
