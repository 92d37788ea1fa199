#pragma once
// The command line of tolvar.

#include <optional>
#include <string>
#include <vector>

#include "capi/libcapi20_driver.h"

namespace tolvar {

struct Options {
    bool console = false;
    bool help = false;
    bool version = false;
    bool stateDir = false;  // run in DefaultStateFolder(), as the menu entry starts it
    std::optional<RemoteCapi> remote;
    std::string registryPath;  // the default hive when not given
};

struct ParsedOptions {
    std::optional<Options> options;
    std::string error;  // set when options is empty
};

ParsedOptions ParseOptions(const std::vector<std::string>& args,
                           const std::string& defaultRegistry);
// $XDG_CONFIG_HOME/tolvar/registry.reg, else ~/.config/tolvar/registry.reg.
std::string DefaultRegistryPath();
// $XDG_STATE_HOME/tolvar, else ~/.local/state/tolvar: where the menu entry, the
// autostart entry and the service keep "Tolvar.txt".
std::string DefaultStateFolder();
// Makes folder (private, with its parents) when missing and makes it the
// current directory. The reason on failure.
std::optional<std::string> EnterFolder(const std::string& folder);
std::string UsageText();
inline constexpr const char* kVersionText = "tolvar 2.7";
// Exit status when --state-dir cannot be made or entered.
inline constexpr int kStateFolderExitCode = 4;

}  // namespace tolvar
