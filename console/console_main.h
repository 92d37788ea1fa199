#pragma once

#include "cli/options.h"

namespace tolvar {

// Runs the program with the console front end until "quit", SIGINT or SIGTERM.
int RunConsole(const Options& options);

}  // namespace tolvar
