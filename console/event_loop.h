#pragma once
// A small epoll event loop for the console front end: timers, functions
// posted from other threads, and descriptors to watch. epoll rather than poll:
// a descriptor that turns readable wakes the loop without every other one
// being looked at again, which is part of the reaction to a call.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "core/io_service.h"
#include "core/timer.h"

namespace tolvar {

class EventLoop final : public TimerService, public IoService {
  public:
    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    Id Schedule(std::uint32_t delayMs, std::function<void()> fn) override;
    void Cancel(Id id) override;

    // Thread-safe: fn runs on the loop's thread, in posting order.
    void Post(std::function<void()> fn);
    // onReadable runs whenever fd can be read (or hit end of file).
    void Watch(int fd, std::function<void()> onReadable) override;
    void Unwatch(int fd) override;

    // Runs until Quit; returns the exit code given to Quit.
    int Run();
    void Quit(int code = 0);

  private:
    using TimePoint = std::chrono::steady_clock::time_point;
    void RunPosted();
    void Readable(int fd);
    void RunDueTimers();

    int epoll_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    // Few, so kept side by side; shared, so that a callback that unwatches
    // its own descriptor survives.
    std::vector<std::pair<int, std::shared_ptr<std::function<void()>>>> watches_;
    // Descriptors epoll cannot watch (a regular file or /dev/null as input):
    // always readable, as poll would say.
    std::vector<int> alwaysReady_;
    bool quit_ = false;
    int exitCode_ = 0;
    Id nextId_ = 1;
    std::map<std::pair<TimePoint, Id>, std::function<void()>> timers_;
    std::mutex postMutex_;
    std::vector<std::function<void()>> posted_;
};

}  // namespace tolvar
