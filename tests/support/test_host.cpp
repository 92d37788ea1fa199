#include "support/test_host.h"

namespace tolvar::test {

void FakeIo::Watch(int fd, std::function<void()> onReadable) {
    watches_[fd] = std::move(onReadable);
    if (fd == FakeCapi::kFd && capi_.HasPending()) time_.Schedule(0, [this] { Pump(); });
}

void FakeIo::Unwatch(int fd) {
    watches_.erase(fd);
}

void FakeIo::Pump() {
    while (capi_.HasPending()) {
        const auto it = watches_.find(FakeCapi::kFd);
        if (it == watches_.end()) return;
        auto fn = it->second;  // the callback may unwatch
        const int before = capi_.getCalls;
        fn();
        if (capi_.getCalls == before || capi_.getResult != 0) return;  // nothing taken
    }
}

TestHost::TestHost() : dir(scratch_.Path()), registryPath(scratch_.File("registry.reg")) {}

// The engine goes before its scratch folder.
TestHost::~TestHost() {
    engine.reset();
}

Engine& TestHost::MakeEngine() {
    EngineHost host{.capi = capi,
                    .clock = time,
                    .timers = time,
                    .io = io,
                    .ui = ui,
                    .dialogs = ui,
                    .devices = ui.AllDevices(),
                    .registryPath = registryPath,
                    .post = [this](std::function<void()> fn) { Post(std::move(fn)); }};
    host.eventLogPath = eventLogPath.empty() ? scratch_.File("Tolvar.txt") : eventLogPath;
    // Beside the log, so a cleared log is moved there and the user's trash stays untouched.
    host.trashPath = scratch_.File("Trash");
    host.startThread = startThread;
    engine = std::make_unique<Engine>(std::move(host));
    return *engine;
}

Engine& TestHost::Start() {
    if (!engine) MakeEngine();
    engine->FormCreate();
    RunPosted();
    return *engine;
}

void TestHost::Post(std::function<void()> fn) {
    {
        std::lock_guard guard(postMutex_);
        posted.push_back(std::move(fn));
    }
    postedCv_.notify_all();
}

std::size_t TestHost::PostedCount() {
    std::lock_guard guard(postMutex_);
    return posted.size();
}

void TestHost::RunPosted() {
    while (true) {
        std::function<void()> fn;
        {
            std::lock_guard guard(postMutex_);
            if (posted.empty()) return;
            fn = std::move(posted.front());
            posted.pop_front();
        }
        fn();
    }
}

bool TestHost::RunPostedWhenThere(std::chrono::milliseconds within) {
    {
        std::unique_lock lock(postMutex_);
        if (!postedCv_.wait_for(lock, within, [this] { return !posted.empty(); })) return false;
    }
    RunPosted();
    return true;
}

void TestHost::Receive(std::vector<std::uint8_t> message, std::vector<std::uint8_t> data) {
    capi.Feed(std::move(message), std::move(data));
    io.Pump();
}

void TestHost::WriteHive(const std::string& text) {
    WriteAll(registryPath, text);
}

std::string TestHost::ReadHive() const {
    return ReadAll(registryPath);
}

}  // namespace tolvar::test
