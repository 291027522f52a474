// The program's command-line arguments, after its own name, as the platform
// delivers them. On Windows the wide command line is split by
// SplitCommandLine and each argument converted to the ANSI code page without
// best-fit look-alikes; on POSIX each argv element is one argument, exactly
// as the shell delivered it, except that empty elements are skipped (an
// empty argument cannot occupy a position).
#pragma once

#include <string>
#include <vector>

namespace orvik {

struct ProgramArgs {
  std::vector<std::string> arguments;
  // The 1-based position of the first argument that holds a character the
  // ANSI code page cannot represent, 0 when every one can. A look-alike in
  // its place (a fullwidth quote taken for a quote, another file's name)
  // would change what the command does.
  int unrepresentable = 0;
};

ProgramArgs ProgramArguments(int argc, char** argv);

// Prepares standard output and standard error for Orvik's lines, which end
// in CR LF on every platform: on Windows the streams must not translate
// line ends.
void PrepareStandardOutput();

}  // namespace orvik
