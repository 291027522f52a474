// Benchmark of QUERY /s: builds two trees in a temporary registry through the
// platform calls, a large one (100 thousand keys, 1 million values) and a
// reference ten times smaller, then lists each with the built program and
// reports values listed per second (output to a pipe) and the peak memory of
// the run, private (anonymous, sampled while the output drains) and resident
// (mapped pages of the database included), against the reference measured in
// the same run and each against its target. `orvik` with no arguments is
// measured as a second reference.
//
//   query_bench [--keep] [path/to/orvik]   (default: the orvik beside bench/)
//
// --keep leaves the registry directory in place and prints its path, for
// profiling runs against the same trees.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Tree {
  const char* label;
  std::string key;           // under HKEY_LOCAL_MACHINE
  std::vector<int> fanouts;  // children per level; the last level holds the values
  int values_per_leaf;
  long keys = 0;
  long values = 0;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Check(LONG result, const char* what) {
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "%s failed with %ld\n", what, static_cast<long>(result));
    std::exit(1);
  }
}

void SetValue(HKEY key, const std::string& name, DWORD type, const std::string& data) {
  Check(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size())),
        "RegSetValueExA");
}

// Values of the common types, a leaf's worth.
void FillLeaf(HKEY key, Tree& tree, long serial) {
  for (int i = 0; i < tree.values_per_leaf; ++i) {
    const std::string name = "Value" + std::to_string(i);
    const std::string number = std::to_string(serial * 100 + i);
    switch (i % 5) {
      case 0:
        SetValue(key, name, REG_SZ, "Some setting text " + number + std::string(1, '\0'));
        break;
      case 1: {
        const auto n = static_cast<uint32_t>(serial * 100 + i);
        SetValue(key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&n), 4));
        break;
      }
      case 2:
        SetValue(key, name, REG_BINARY, std::string(16, static_cast<char>(i)) + number);
        break;
      case 3:
        SetValue(key, name, REG_MULTI_SZ,
                 "first" + std::string(1, '\0') + number + std::string(2, '\0'));
        break;
      default:
        SetValue(key, name, REG_EXPAND_SZ, "%SystemRoot%\\dir" + number + std::string(1, '\0'));
        break;
    }
    ++tree.values;
  }
}

void Build(HKEY parent, Tree& tree, size_t level, long& serial) {
  for (int child = 0; child < tree.fanouts[level]; ++child) {
    HKEY key = nullptr;
    const std::string name = "Key" + std::to_string(child);
    Check(RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr),
          "RegCreateKeyExA");
    ++tree.keys;
    if (level + 1 == tree.fanouts.size()) {
      FillLeaf(key, tree, serial++);
    } else {
      Build(key, tree, level + 1, serial);
    }
    RegCloseKey(key);
  }
}

double BuildTree(Tree& tree) {
  const Clock::time_point start = Clock::now();
  HKEY top = nullptr;
  Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tree.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &top, nullptr),
        "RegCreateKeyExA");
  ++tree.keys;
  long serial = 0;
  Build(top, tree, 0, serial);
  RegCloseKey(top);
  return Seconds(Clock::now() - start);
}

struct Run {
  double seconds = 0;
  long peak_kib = 0;          // peak resident set, mapped file pages included
  long peak_private_kib = 0;  // peak private (anonymous) memory, sampled
  int exit_code = -1;
};

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

// Runs the program with standard output to a pipe that is read and thrown
// away, in a process of its own, so that the peak memory its children report
// is this run's alone. The private memory is sampled while the output drains.
Run Measure(const std::string& program, const std::vector<std::string>& args) {
  int report[2];
  if (pipe(report) != 0) std::exit(1);
  const Clock::time_point start = Clock::now();
  const pid_t runner = fork();
  if (runner == 0) {
    close(report[0]);
    int output[2];
    if (pipe(output) != 0) _exit(125);
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      _exit(127);
    }
    close(output[1]);
    long peak_private = 0;
    char buffer[1 << 16];
    for (;;) {
      pollfd ready{output[0], POLLIN, 0};
      if (poll(&ready, 1, 2) > 0) {
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR)) break;
      }
      peak_private = std::max(peak_private, PrivateKib(pid));
    }
    if (waitpid(pid, &status, 0) < 0) _exit(127);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const long figures[3] = {usage.ru_maxrss, peak_private,
                             WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    if (write(report[1], figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) {
      _exit(126);
    }
    _exit(0);
  }
  close(report[1]);
  long figures[3] = {0, 0, -1};
  const ssize_t got = read(report[0], figures, sizeof figures);
  close(report[0]);
  int status = 0;
  waitpid(runner, &status, 0);
  Run run;
  run.seconds = Seconds(Clock::now() - start);
  if (got == static_cast<ssize_t>(sizeof figures)) {
    run.peak_kib = figures[0];
    run.peak_private_kib = figures[1];
    run.exit_code = static_cast<int>(figures[2]);
  }
  return run;
}

// Builds the trees in a child process. A program started from here counts
// the pages of this process in its own peak memory, so this process must stay
// as small as a shell would be.
bool BuildTreesApart(Tree& small, Tree& large) {
  int report[2];
  if (pipe(report) != 0) return false;
  const pid_t builder = fork();
  if (builder == 0) {
    close(report[0]);
    long counts[4] = {};
    int i = 0;
    for (Tree* tree : {&small, &large}) {
      const double seconds = BuildTree(*tree);
      std::printf("built %-9s %7ld keys %8ld values in %7.1f s (%.0f keys and values/s)\n",
                  tree->label, tree->keys, tree->values, seconds,
                  static_cast<double>(tree->keys + tree->values) / seconds);
      std::fflush(stdout);
      counts[i++] = tree->keys;
      counts[i++] = tree->values;
    }
    const bool sent =
        write(report[1], counts, sizeof counts) == static_cast<ssize_t>(sizeof counts);
    _exit(sent ? 0 : 1);
  }
  close(report[1]);
  long counts[4] = {};
  const ssize_t got = read(report[0], counts, sizeof counts);
  close(report[0]);
  int status = 0;
  waitpid(builder, &status, 0);
  if (got != static_cast<ssize_t>(sizeof counts)) return false;
  small.keys = counts[0];
  small.values = counts[1];
  large.keys = counts[2];
  large.values = counts[3];
  return true;
}

std::string DefaultOrvik() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "orvik").string();
}

}  // namespace

int main(int argc, char** argv) {
  bool keep = false;
  std::string orvik = DefaultOrvik();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else {
      orvik = argv[i];
    }
  }
  char dir_template[] = "/tmp/orvik-query-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  setenv("ORVIK_REGISTRY", dir.c_str(), 1);

  Tree small{"reference", "SOFTWARE\\BenchSmall", {10, 10, 10, 10}, 10};
  Tree large{"large", "SOFTWARE\\BenchLarge", {10, 10, 10, 100}, 10};
  if (!BuildTreesApart(small, large)) return 1;

  const Run bare = Measure(orvik, {});
  std::printf("\norvik without arguments: %.3f s, peak %ld KiB, private %ld KiB\n\n", bare.seconds,
              bare.peak_kib, bare.peak_private_kib);
  std::printf("%-9s %8s %9s %12s %7s %10s %10s %9s\n", "QUERY /s", "values", "seconds", "values/s",
              "ratio", "peak KiB", "private", "ratio");
  double reference_rate = 0;
  long reference_private = 0;
  double large_rate = 0;
  long large_private = 0;
  for (const Tree* tree : {&small, &large}) {
    const Run run = Measure(orvik, {"QUERY", "HKLM\\" + tree->key, "/s"});
    if (run.exit_code != 0) {
      std::printf("%s: QUERY exited with %d\n", tree->label, run.exit_code);
      continue;
    }
    const double rate = static_cast<double>(tree->values) / run.seconds;
    if (tree == &small) {
      reference_rate = rate;
      reference_private = run.peak_private_kib;
    } else {
      large_rate = rate;
      large_private = run.peak_private_kib;
    }
    std::printf("%-9s %8ld %9.2f %12.0f %7.2f %10ld %10ld %9.2f\n", tree->label, tree->values,
                run.seconds, rate, rate / reference_rate, run.peak_kib, run.peak_private_kib,
                static_cast<double>(run.peak_private_kib) / static_cast<double>(reference_private));
  }
  // Each figure against its target: 1.00 or more meets it.
  std::printf("\nagainst the targets (>= 1.00 meets the target):\n");
  std::printf("  QUERY /s of the large tree, values/s / 1000000:          %.2f\n",
              large_rate / 1e6);
  std::printf("  1.5 x the reference's private peak / the large tree's:  %.2f\n",
              1.5 * static_cast<double>(reference_private) / static_cast<double>(large_private));

  if (keep) {
    std::printf("\nregistry kept in %s\n", dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  return 0;
}
