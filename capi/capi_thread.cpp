#include "capi/capi_thread.h"

#include <algorithm>
#include <chrono>

namespace tolvar {

SignalHandOver::SignalHandOver(Post post, std::function<bool()> onSignal)
    : post_(std::move(post)), onSignal_(std::move(onSignal)), state_(std::make_shared<State>()) {}

bool SignalHandOver::Deliver() {
    std::unique_lock lock(state_->mutex);
    if (state_->stopped) return false;
    const std::uint64_t ticket = state_->handled + 1;
    lock.unlock();
    // The posted function may run after Stop (or after this object is gone):
    // it holds the state, not this.
    post_([state = state_, onSignal = onSignal_] {
        {
            std::lock_guard guard(state->mutex);
            if (state->stopped) return;
        }
        const bool result = onSignal();
        std::lock_guard guard(state->mutex);
        state->lastResult = result;
        ++state->handled;
        state->cv.notify_all();
    });
    lock.lock();
    state_->cv.wait(lock, [&] { return state_->stopped || state_->handled >= ticket; });
    return !state_->stopped && state_->lastResult;
}

void SignalHandOver::Stop() {
    std::lock_guard guard(state_->mutex);
    state_->stopped = true;
    state_->cv.notify_all();
}

TCAPIThread::TCAPIThread(CapiDriver& driver, std::uint32_t applId, SignalHandOver& handOver)
    : driver_(driver), applId_(applId), handOver_(handOver), thread_([this] { Execute(); }) {}

TCAPIThread::~TCAPIThread() {
    Join();
}

void TCAPIThread::Terminate() {
    {
        std::lock_guard guard(sleepMutex_);
        terminated_ = true;
    }
    sleepCv_.notify_all();
}

void TCAPIThread::Join() {
    Terminate();
    if (thread_.joinable()) thread_.join();
}

void TCAPIThread::Sleep(std::uint32_t ms) {
    std::unique_lock lock(sleepMutex_);
    sleepCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void TCAPIThread::Execute() {
    using Clock = std::chrono::steady_clock;
    std::uint32_t backoff = 0;
    while (!terminated_) {
        const auto start = Clock::now();
        const std::uint32_t result = driver_.WaitForSignal(applId_, kWaitMs);
        if (terminated_) break;
        bool ok;
        if (result == 0) {
            // A signal whose fetch finds nothing counts as a failure: a dead
            // connection can look readable for ever.
            ok = handOver_.Deliver();
        } else {
            // A wait that ran its full time is an idle line, not an error.
            ok = Clock::now() - start >= std::chrono::milliseconds(kWaitMs / 2);
        }
        if (ok) {
            backoff = 0;
        } else {
            backoff = std::min(kMaxBackoffMs, backoff == 0 ? 50u : backoff * 2);
            Sleep(backoff);
        }
    }
}

}  // namespace tolvar
