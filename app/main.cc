// The program's entry point: one command line, one operation, one exit code.
#include <cstdio>

#include "app/command_line.h"
#include "app/dispatch.h"
#include "app/stdout_console.h"
#include "platform/program_args.h"

int main(int argc, char** argv) {
  orvik::PrepareStandardOutput();
  const orvik::CommandLine args(orvik::ProgramArguments(argc, argv));
  orvik::StdoutConsole out;
  const int exit_code = orvik::RunOrvik(args, out);
  std::fflush(stdout);
  return exit_code;
}
