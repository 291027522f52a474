// Start-up and dispatch: the operation word chooses a parser, whose result
// becomes the exit code; every failure that escapes is reported here.
#pragma once

#include <functional>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

// Runs one command line and returns the process exit code.
int RunOrvik(const CommandLine& args, Console& out);

// The one exception guard: returns what body returns, or, when an exception
// escapes it, reports the exception's message and returns 1.
int RunGuarded(Console& out, const std::function<int()>& body);

}  // namespace orvik
