#include "console/console_main.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <iostream>

#include "capi/libcapi20_driver.h"
#include "console/console_front_end.h"
#include "console/event_loop.h"
#include "engine/engine.h"

namespace tolvar {

int RunConsole(const Options& options) {
    EventLoop loop;
    ConsoleFrontEnd ui(std::cout, [&loop] { loop.Quit(0); });
    Libcapi20Driver driver(options.remote);
    SystemClock clock;
    Engine engine({driver, clock, loop, ui, options.registryPath,
                   [&loop](std::function<void()> fn) { loop.Post(std::move(fn)); }, true});

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
