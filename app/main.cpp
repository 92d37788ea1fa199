// tolvar: the program entry. Chooses the window or the console front end.

#include <csignal>
#include <filesystem>
#include <iostream>

#include "cli/options.h"
#include "console/console_main.h"
#ifdef TOLVAR_HAVE_DESKTOP
#include "app/desktop_main.h"
#endif

int main(int argc, char** argv) {
    // A remote CAPI server that went away must not kill us on the next write.
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = tolvar::ParseOptions(args, tolvar::DefaultRegistryPath());
    if (!parsed.options) {
        std::cerr << "tolvar: " << parsed.error << "\n\n" << tolvar::UsageText();
        return 2;
    }
    tolvar::Options o = *parsed.options;
    if (o.help) {
        std::cout << tolvar::UsageText();
        return 0;
    }
    if (o.version) {
        std::cout << tolvar::kVersionText << '\n';
        return 0;
    }
    // The menu and autostart entries start here, as the service does, so that
    // desktop and headless runs keep one "Tolvar.txt"; a terminal start keeps
    // its folder.
    if (o.stateDir) {
        // A settings file named relative to where the user started.
        std::error_code ec;
        const auto registry = std::filesystem::absolute(o.registryPath, ec);
        if (!ec) o.registryPath = registry.string();
        if (const auto error = tolvar::EnterFolder(tolvar::DefaultStateFolder())) {
            std::cerr << "tolvar: --state-dir: " << *error << '\n';
            return tolvar::kStateFolderExitCode;
        }
    }
#ifdef TOLVAR_HAVE_DESKTOP
    if (!o.console) return tolvar::RunDesktop(argc, argv, o);
#else
    if (!o.console) {
        std::cerr << "tolvar: built without the desktop front end; use --console\n";
        return 2;
    }
#endif
    return tolvar::RunConsole(o);
}
