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
std::string UsageText();
inline constexpr const char* kVersionText = "tolvar 2.7";

}  // namespace tolvar
