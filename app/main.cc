// The program's entry point: one command line, one operation, one exit code.
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/dispatch.h"
#include "app/stdout_console.h"
#include "platform/program_args.h"

int main(int argc, char** argv) {
  orvik::PrepareStandardOutput();
  const orvik::CommandLine args(orvik::ProgramArguments(argc, argv));
  orvik::StdoutConsole out;
  int exit_code = orvik::RunOrvik(args, out);
  // Output that did not arrive is no success. Standard output is gone, so
  // this one line goes to standard error.
  if (std::string reason; !out.Finish(&reason)) {
    std::fprintf(stderr, "Error: cannot write to standard output: %s\r\n", reason.c_str());
    exit_code = 1;
  }
  return exit_code;
}
