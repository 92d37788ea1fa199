#include "console/console_main.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <iostream>

#include "capi/libcapi20_driver.h"
#include "console/console_front_end.h"
#include "console/event_loop.h"
#include "core/program_start.h"
#include "core/single_instance.h"
#include "engine/engine.h"

namespace tolvar {

int RunConsole(const Options& options) {
    pid_t holder = 0;
    const auto instance = SingleInstance::Claim(options.registryPath, holder);
    if (!instance) {
        std::cout << "error: " << AlreadyRunningText(holder) << std::endl;
        return 3;
    }

    EventLoop loop;
    ConsoleFrontEnd ui(std::cout, [&loop] { loop.Quit(0); });
    ConsoleDevices devices(ui, StartDetached);
    Libcapi20Driver driver(options.remote);
    SystemClock clock;
    Engine engine({.capi = driver,
                   .clock = clock,
                   .timers = loop,
                   .io = loop,
                   .ui = ui,
                   .dialogs = ui,
                   .devices = devices.All(),
                   .registryPath = options.registryPath,
                   .post = [&loop](std::function<void()> fn) { loop.Post(std::move(fn)); }});

    // SIGINT and SIGTERM end the program as "B&eenden" does.
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    const int sigFd = signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigFd >= 0)
        loop.Watch(sigFd, [&] {
            signalfd_siginfo info;
            while (read(sigFd, &info, sizeof info) > 0) {
            }
            engine.Guard([&] { engine.cmQuitClick(); });
        });
    // A later start on the same settings file asks for the window.
    loop.Watch(instance->Fd(), [&] {
        if (instance->TakeRequest()) engine.Guard([&] { engine.ShowWindow(); });
    });

    engine.FormCreate();

    std::string pending;
    loop.Watch(STDIN_FILENO, [&] {
        char buf[4096];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // End of input does not end the program.
            loop.Unwatch(STDIN_FILENO);
            return;
        }
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            ExecuteConsoleCommand(engine, line, std::cout);
        }
    });

    const int code = loop.Run();
    engine.FormDestroy();
    if (sigFd >= 0) close(sigFd);
    return code;
}

}  // namespace tolvar
