#include "support/test_host.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace tolvar::test {

TestHost::TestHost() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tolvar-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir = tmpl;
    registryPath = (dir / "registry.reg").string();
}

TestHost::~TestHost() {
    engine.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
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
    std::ofstream(registryPath, std::ios::binary) << text;
}

std::string TestHost::ReadHive() const {
    std::ifstream in(registryPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace tolvar::test
