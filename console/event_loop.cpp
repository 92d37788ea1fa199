#include "console/event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>

namespace tolvar {

EventLoop::EventLoop() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
}

EventLoop::~EventLoop() {
    close(wakeRead_);
    close(wakeWrite_);
}

TimerService::Id EventLoop::Schedule(std::uint32_t delayMs, std::function<void()> fn) {
    const Id id = nextId_++;
    timers_.emplace(
        std::make_pair(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), id),
        std::move(fn));
    return id;
}

void EventLoop::Cancel(Id id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->first.second == id) {
            timers_.erase(it);
            return;
        }
    }
}

void EventLoop::Post(std::function<void()> fn) {
    {
        std::lock_guard guard(postMutex_);
        posted_.push_back(std::move(fn));
    }
    const char byte = 1;
    // A full pipe already guarantees a wake-up.
    [[maybe_unused]] auto n = write(wakeWrite_, &byte, 1);
}

void EventLoop::Watch(int fd, std::function<void()> onReadable) {
    Unwatch(fd);
    watches_.emplace_back(fd, std::move(onReadable));
}

void EventLoop::Unwatch(int fd) {
    std::erase_if(watches_, [fd](const auto& w) { return w.first == fd; });
}

void EventLoop::Quit(int code) {
    quit_ = true;
    exitCode_ = code;
}

void EventLoop::RunPosted() {
    char drain[64];
    while (read(wakeRead_, drain, sizeof drain) > 0) {
    }
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard guard(postMutex_);
        batch.swap(posted_);
    }
    for (auto& fn : batch) {
        if (quit_) return;
        fn();
    }
}

void EventLoop::RunDueTimers() {
    const auto now = std::chrono::steady_clock::now();
    while (!quit_ && !timers_.empty() && timers_.begin()->first.first <= now) {
        auto node = timers_.extract(timers_.begin());
        node.mapped()();
    }
}

int EventLoop::Run() {
    while (!quit_) {
        int timeout = -1;
        if (!timers_.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                timers_.begin()->first.first - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX));
        }
        std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}};
        for (const auto& w : watches_) fds.push_back({w.first, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed");
        if (ready > 0) {
            if (fds[0].revents & POLLIN) RunPosted();
            for (std::size_t i = 1; i < fds.size() && !quit_; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                // A handler may unwatch; find it again by descriptor.
                for (const auto& w : watches_)
                    if (w.first == fds[i].fd) {
                        auto fn = w.second;
                        fn();
                        break;
                    }
            }
        }
        RunDueTimers();
    }
    return exitCode_;
}

}  // namespace tolvar
