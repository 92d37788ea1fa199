#include "support/test_host.h"

namespace tolvar::test {

TestHost::TestHost() : dir(scratch_.Path()), registryPath(scratch_.File("registry.reg")) {}

// The engine goes before its scratch folder.
TestHost::~TestHost() {
    engine.reset();
}

Engine& TestHost::MakeEngine() {
    EngineHost host{
        capi, time,         time,
        ui,   registryPath, [this](std::function<void()> fn) { posted.push_back(std::move(fn)); },
        false};
    if (!eventLogPath.empty()) host.eventLogPath = eventLogPath;
    if (startProgram) host.startProgram = startProgram;
    engine = std::make_unique<Engine>(std::move(host));
    return *engine;
}

Engine& TestHost::Start() {
    if (!engine) MakeEngine();
    engine->FormCreate();
    RunPosted();
    return *engine;
}

void TestHost::RunPosted() {
    while (!posted.empty()) {
        auto fn = std::move(posted.front());
        posted.pop_front();
        fn();
    }
}

void TestHost::Receive(std::vector<std::uint8_t> message, std::vector<std::uint8_t> data) {
    capi.Feed(std::move(message), std::move(data));
    engine->WMCapiSignal();
}

void TestHost::WriteHive(const std::string& text) {
    WriteAll(registryPath, text);
}

std::string TestHost::ReadHive() const {
    return ReadAll(registryPath);
}

}  // namespace tolvar::test
