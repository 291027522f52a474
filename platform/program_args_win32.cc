// Command-line arguments and standard output on Windows.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform/command_line_split.h"
#include "platform/platform.h"
#include "platform/program_args.h"

namespace orvik {

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> args = SplitCommandLine(GetCommandLineA());
  if (!args.empty()) args.erase(args.begin());  // the program's own name
  return args;
}

void PrepareStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace orvik
