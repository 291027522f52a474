// Command-line arguments and standard output on POSIX systems.
#include "platform/program_args.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orvik {

ProgramArgs ProgramArguments(int argc, char** argv) {
  ProgramArgs args;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '\0') args.arguments.emplace_back(argv[i]);
  }
  return args;
}

void PrepareStandardOutput() {
  // A standard stream that was closed gets a descriptor that cannot be
  // written, so that no file the run opens takes its number (and its
  // output), and a line written to it fails as it should.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int placeholder = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (placeholder >= 0 && placeholder != fd) close(placeholder);
    }
  }
}

}  // namespace orvik
