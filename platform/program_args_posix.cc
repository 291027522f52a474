// Command-line arguments and standard output on POSIX systems.
#include "platform/program_args.h"

namespace orvik {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') args.emplace_back(argv[i]);
  }
  return args;
}

void PrepareStandardOutput() {}

}  // namespace orvik
