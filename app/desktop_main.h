#pragma once

#include "cli/options.h"

namespace tolvar {

// Runs the program with its window and tray icon until "B&eenden".
int RunDesktop(int argc, char** argv, const Options& options);

}  // namespace tolvar
