// The program's entry point: one command line, one operation, one exit code.
#include <cstdio>
#include <string>
#include <utility>

#include "app/command_line.h"
#include "app/dispatch.h"
#include "app/stdout_console.h"
#include "platform/program_args.h"
#include "registry/exception.h"

int main(int argc, char** argv) {
  orvik::PrepareStandardOutput();
  orvik::ProgramArgs program = orvik::ProgramArguments(argc, argv);
  const orvik::CommandLine args(std::move(program.arguments));
  orvik::StdoutConsole out;
  int exit_code = 0;
  if (program.unrepresentable > 0) {
    // Nothing runs on a command line that the code page changed.
    exit_code = orvik::RunGuarded(out, [&program]() -> int {
      throw orvik::Exception("Error: Argument " + std::to_string(program.unrepresentable) +
                             " holds characters that the ANSI code page cannot represent");
    });
  } else {
    exit_code = orvik::RunOrvik(args, out);
  }
  // Output that did not arrive is no success. Standard output is gone, so
  // this one line goes to standard error.
  if (std::string reason; !out.Finish(&reason)) {
    std::fprintf(stderr, "Error: cannot write to standard output: %s\r\n", reason.c_str());
    exit_code = 1;
  }
  return exit_code;
}
