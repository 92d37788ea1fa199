#pragma once
// The real main window on a deterministic engine (fake CAPI, virtual time,
// scripted dialogs and recorded devices), headless. Header only: it is for
// the tests that link the window.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "engine/engine.h"
#include "support/files.h"
#include "support/hive_header.h"
#include "support/test_host.h"

namespace tolvar::test {

class WindowHost {
  public:
    ~WindowHost() { Stop(); }

    // The window and its engine on the settings file (keys: hive text
    // without the header; empty: the file stays as it is). tray: whether the
    // desktop has one (the close box hides with one, minimises without).
    void Start(const std::string& keys = "", std::optional<bool> tray = true) {
        if (!keys.empty()) WriteAll(registry, kHiveHeader + keys);
        form = std::make_unique<TMainForm>(tray);
        form->SetDialogs(&dialogs);
        engine = std::make_unique<Engine>(
            EngineHost{.capi = capi,
                       .clock = time,
                       .timers = time,
                       .io = io,
                       .ui = *form,
                       .dialogs = dialogs,
                       .devices = dialogs.AllDevices(),
                       .registryPath = registry,
                       .post = [this](std::function<void()> fn) { Post(std::move(fn)); },
                       .eventLogPath = dir.File("Tolvar.txt"),
                       .trashPath = dir.File("Trash")});
        form->SetEngine(engine.get());
        engine->FormCreate();
        RunPosted();
    }
    // Callable from any thread, as the event log's writer and the contact
    // lookups post.
    void Post(std::function<void()> fn) {
        std::lock_guard lock(postedMutex);
        posted.push_back(std::move(fn));
    }
    void RunPosted() {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(postedMutex);
                if (posted.empty()) return;
                fn = std::move(posted.front());
                posted.erase(posted.begin());
            }
            fn();
        }
    }
    void Stop() {
        if (engine) engine->FormDestroy();
        if (form) form->SetEngine(nullptr);
        engine.reset();
        form.reset();
    }
    template <typename W>
    W* Find(const char* name) const {
        return form->findChild<W*>(name);
    }

    TempDir dir;
    std::string registry = dir.File("registry.reg");
    FakeCapi capi;
    VirtualTime time;
    FakeIo io{capi, time};
    // The window's boxes and dialogs are scripted, the devices recorded.
    RecordingFrontEnd dialogs;
    std::mutex postedMutex;
    std::vector<std::function<void()>> posted;  // guarded by postedMutex
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<Engine> engine;
};

}  // namespace tolvar::test
