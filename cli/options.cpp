#include "cli/options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tolvar {

ParsedOptions ParseOptions(const std::vector<std::string>& args,
                           const std::string& defaultRegistry) {
    Options o;
    o.registryPath = defaultRegistry;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        if (a == "--console") {
            o.console = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--state-dir") {
            o.stateDir = true;
        } else if (a == "--capi") {
            std::string text;
            if (!value(text)) return {std::nullopt, "--capi needs DRIVER:HOST:PORT"};
            o.remote = ParseRemoteCapi(text);
            if (!o.remote)
                return {std::nullopt, "--capi: \"" + text + "\" is not DRIVER:HOST:PORT"};
            if (o.remote->driver != "rcapi" && o.remote->driver != "fritzbox")
                return {std::nullopt,
                        "--capi: unknown driver \"" + o.remote->driver + "\" (rcapi or fritzbox)"};
        } else if (a == "--registry") {
            if (!value(o.registryPath) || o.registryPath.empty())
                return {std::nullopt, "--registry needs a file name"};
        } else {
            return {std::nullopt, "unknown option \"" + a + "\""};
        }
    }
    return {o, ""};
}

std::string DefaultRegistryPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg == '/') return std::string(xdg) + "/tolvar/registry.reg";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/tolvar/registry.reg";
}

std::string DefaultStateFolder() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg != nullptr && *xdg == '/') return std::string(xdg) + "/tolvar";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/tolvar";
}

std::optional<std::string> EnterFolder(const std::string& folder) {
    // Made as the service's state folder is: private to the user.
    const mode_t old = umask(077);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    umask(old);
    if (ec) return folder + ": " + ec.message();
    if (chdir(folder.c_str()) != 0) return folder + ": " + std::strerror(errno);
    return std::nullopt;
}

std::string UsageText() {
    return "Usage: tolvar [--console] [--capi DRIVER:HOST:PORT] [--registry FILE] [--state-dir]\n"
           "\n"
           "Watches an ISDN line through CAPI 2.0 and logs every incoming call.\n"
           "\n"
           "  --console          run without a window: effects as lines on standard\n"
           "                     output, commands on standard input\n"
           "  --capi D:HOST:PORT use libcapi20's remote module D (rcapi or fritzbox)\n"
           "                     at HOST:PORT instead of its own configuration\n"
           "  --registry FILE    the settings file (default " +
           DefaultRegistryPath() +
           ")\n"
           "  --state-dir        run in " +
           DefaultStateFolder() +
           "\n"
           "                     (made when missing), where the event log Tolvar.txt\n"
           "                     then lies; the menu entry starts tolvar so\n"
           "  --help, --version\n";
}

}  // namespace tolvar
