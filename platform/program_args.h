// The program's command-line arguments, after its own name, as the platform
// delivers them. On Windows the raw command line is split by
// SplitCommandLine; on POSIX each argv element is one argument, exactly as the
// shell delivered it, except that empty elements are skipped (an empty
// argument cannot occupy a position).
#pragma once

#include <string>
#include <vector>

namespace orvik {

std::vector<std::string> ProgramArguments(int argc, char** argv);

// Prepares standard output for Orvik's lines, which end in CR LF on every
// platform: on Windows the stream must not translate line ends.
void PrepareStandardOutput();

}  // namespace orvik
