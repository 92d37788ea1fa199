#include "console/event_loop.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>

namespace tolvar {

EventLoop::EventLoop() {
    int fds[2];
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0 || pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("epoll_create1 or pipe2 failed");
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = wakeRead_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeRead_, &e) != 0)
        throw std::runtime_error("epoll_ctl failed");
}

EventLoop::~EventLoop() {
    close(wakeRead_);
    close(wakeWrite_);
    close(epoll_);
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
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = fd;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0) {
        if (errno != EPERM) throw std::runtime_error("epoll_ctl failed");
        alwaysReady_.push_back(fd);
    }
    watches_.emplace_back(fd, std::make_shared<std::function<void()>>(std::move(onReadable)));
}

void EventLoop::Unwatch(int fd) {
    if (std::erase_if(watches_, [fd](const auto& w) { return w.first == fd; }) == 0) return;
    if (std::erase(alwaysReady_, fd) == 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
}

void EventLoop::Readable(int fd) {
    if (fd == wakeRead_) {
        RunPosted();
        return;
    }
    // A handler may unwatch, this descriptor or another: found again.
    for (const auto& w : watches_)
        if (w.first == fd) {
            const auto fn = w.second;
            (*fn)();
            return;
        }
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
    epoll_event events[16];
    while (!quit_) {
        int timeout = -1;
        if (!alwaysReady_.empty()) {
            timeout = 0;
        } else if (!timers_.empty()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                timers_.begin()->first.first - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX));
        }
        const int ready = epoll_wait(epoll_, events, 16, timeout);
        if (ready < 0 && errno != EINTR) throw std::runtime_error("epoll_wait failed");
        for (int i = 0; i < ready && !quit_; ++i) Readable(events[i].data.fd);
        if (!alwaysReady_.empty()) {
            const std::vector<int> always = alwaysReady_;  // the callbacks may unwatch
            for (const int fd : always)
                if (!quit_) Readable(fd);
        }
        RunDueTimers();
    }
    return exitCode_;
}

}  // namespace tolvar
