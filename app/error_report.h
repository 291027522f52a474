// The report of a failure that reached the entry point.
#pragma once

#include <string_view>

#include "manip/console.h"

namespace orvik {

// Sets exit_code to 1, then prints an empty line, the message and an empty
// line.
void ReportError(Console& out, std::string_view message, int& exit_code);

}  // namespace orvik
