#pragma once
// A deterministic host for the engine: fake CAPI, virtual time, a recording
// front end (also the dialogs and devices), a registry file in a fresh
// temporary folder, an event loop for descriptors that the test drives, and
// a queue of posted functions that the test runs by hand.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/io_service.h"
#include "core/virtual_time.h"
#include "engine/engine.h"
#include "support/fake_capi.h"
#include "support/files.h"
#include "support/recording_front_end.h"

namespace tolvar::test {

// Descriptor readiness on virtual time: the fake CAPI's descriptor is
// readable while it holds messages. A watch that starts while messages wait
// fires on the next turn of the loop, as a real one would.
class FakeIo final : public IoService {
  public:
    FakeIo(FakeCapi& capi, VirtualTime& time) : capi_(capi), time_(time) {}
    void Watch(int fd, std::function<void()> onReadable) override;
    void Unwatch(int fd) override;
    bool Watched(int fd) const { return watches_.count(fd) > 0; }
    // Runs the CAPI descriptor's callback while it is watched and readable.
    void Pump();

  private:
    FakeCapi& capi_;
    VirtualTime& time_;
    std::map<int, std::function<void()>> watches_;
};

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
    // Waits until a function is posted (from any thread) and runs what is
    // posted; false when nothing came within the time.
    bool RunPostedWhenThere(std::chrono::milliseconds within = std::chrono::seconds(10));
    // Queues a received message; it is fetched at once unless CAPI is held.
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
    FakeIo io{capi, time};
    RecordingFrontEnd ui;
    // Posted from any thread (the contact lookups post from theirs).
    void Post(std::function<void()> fn);
    std::size_t PostedCount();
    std::deque<std::function<void()>> posted;
    std::unique_ptr<Engine> engine;
    // Set before MakeEngine. Empty: the engine's own default ("Tolvar.txt" in
    // the current directory).
    std::string eventLogPath;
    // Set before MakeEngine: how the address book's reader thread starts.
    ThreadStarter startThread = StartThread;

  private:
    std::mutex postMutex_;
    std::condition_variable postedCv_;
};

}  // namespace tolvar::test
