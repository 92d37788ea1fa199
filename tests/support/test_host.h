#pragma once
// A deterministic host for the engine: fake CAPI, virtual time, a recording
// front end, a registry file in a fresh temporary folder, and a queue of
// posted functions that the test runs by hand.

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/virtual_time.h"
#include "engine/engine.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/recording_front_end.h"

namespace tolvar::test {

class TestHost {
  public:
    TestHost();
    ~TestHost();

    // Creates the engine (not yet started).
    Engine& MakeEngine();
    // FormCreate, then the posted WM_START_LISTEN.
    Engine& Start();
    // Runs every posted function, in order.
    void RunPosted();
    // Queues a received message and signals it.
    void Receive(std::vector<std::uint8_t> message, std::vector<std::uint8_t> data = {});

    void WriteHive(const std::string& text);
    std::string ReadHive() const;

  private:
    TempDir scratch_;

  public:
    std::filesystem::path dir;
    std::string registryPath;
    VirtualTime time;
    FakeCapi capi;
    RecordingFrontEnd ui;
    std::deque<std::function<void()>> posted;
    std::unique_ptr<Engine> engine;
    // Set before MakeEngine. Empty: the engine's own default ("Tolvar.txt" in
    // the current directory, StartDetached).
    std::string eventLogPath;
    std::function<bool(const std::string&)> startProgram;
};

}  // namespace tolvar::test
