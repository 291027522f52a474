// Runs a built program in a process of its own, with its output to a file or
// a drained pipe, and reports its times, peak memory and exit code.
#include "bench/support/measure.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace orvik::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The process's private (anonymous) resident memory in KiB; -1 once it is gone.
long PrivateKib(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return -1;
  long kib = -1;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "RssAnon:", 8) == 0) {
      kib = std::strtol(line + 8, nullptr, 10);
      break;
    }
  }
  std::fclose(file);
  return kib;
}

// Reads the program's output until it ends and throws it away; returns the
// peak private memory sampled meanwhile when `sample`.
long Drain(int output, pid_t pid, bool sample) {
  long peak_private = 0;
  char buffer[1 << 16];
  for (;;) {
    pollfd ready{output, POLLIN, 0};
    if (poll(&ready, 1, 2) > 0) {
      const ssize_t got = read(output, buffer, sizeof buffer);
      if (got == 0 || (got < 0 && errno != EINTR)) break;
    }
    if (sample) peak_private = std::max(peak_private, PrivateKib(pid));
  }
  return peak_private;
}

// In the runner process: starts the program, waits for it and writes its
// figures to `report`. Never returns.
[[noreturn]] void RunAndReport(const std::string& program, const std::vector<std::string>& args,
                               const MeasureOptions& options, int report) {
  int output[2] = {-1, -1};
  if (options.to_pipe && pipe(output) != 0) _exit(125);
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.to_pipe) {
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, output[0]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, options.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  pid_t pid = 0;
  int status = -1;
  if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    _exit(127);
  }
  long peak_private = 0;
  if (options.to_pipe) {
    close(output[1]);
    peak_private = Drain(output[0], pid, options.sample_private);
  }
  if (waitpid(pid, &status, 0) < 0) _exit(127);
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const long cpu_micros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L +
                          usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  const long figures[4] = {usage.ru_maxrss, peak_private,
                           WIFEXITED(status) ? WEXITSTATUS(status) : -1, cpu_micros};
  if (write(report, figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) {
    _exit(126);
  }
  _exit(0);
}

}  // namespace

Run Measure(const std::string& program, const std::vector<std::string>& args,
            const MeasureOptions& options) {
  int report[2];
  if (pipe(report) != 0) std::exit(1);
  const Clock::time_point start = Clock::now();
  const pid_t runner = fork();
  if (runner == 0) {
    close(report[0]);
    RunAndReport(program, args, options, report[1]);
  }
  close(report[1]);
  long figures[4] = {0, 0, -1, 0};
  const ssize_t got = read(report[0], figures, sizeof figures);
  close(report[0]);
  int status = 0;
  waitpid(runner, &status, 0);
  Run run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (got == static_cast<ssize_t>(sizeof figures)) {
    run.peak_kib = figures[0];
    run.peak_private_kib = figures[1];
    run.exit_code = static_cast<int>(figures[2]);
    run.cpu_seconds = static_cast<double>(figures[3]) / 1e6;
  }
  return run;
}

std::string BesideBench(const std::string& name) {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / name).string();
}

std::string DefaultOrvik() { return BesideBench("orvik"); }

}  // namespace orvik::bench
