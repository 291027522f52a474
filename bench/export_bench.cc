// Benchmark of EXPORT: builds two trees in a temporary registry through the
// platform calls, a large one (100 thousand keys, 1 million values) and one
// ten times smaller, exports each with the built program and prints
//   - values exported per second, as a ratio to the target of 500 thousand;
//   - the small tree's rate as a ratio to the large tree's (target: at most
//     1.5, the rate holds as the tree grows);
//   - the peak memory of the run as a ratio to the size of the file written
//     (target: at most 1.5), and to the peak of orvik without arguments.
//
//   export_bench [--keep] [path/to/orvik]   (default: the orvik beside bench/)
//
// --keep leaves the registry directory and the files in place and prints
// their path.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTargetValuesPerSecond = 500000;

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

// A leaf's worth of values of the common types; the binary ones are long
// enough to be wrapped over several lines.
void FillLeaf(HKEY key, Tree& tree, long serial) {
  for (int i = 0; i < tree.values_per_leaf; ++i) {
    const std::string name = "Value" + std::to_string(i);
    const std::string number = std::to_string(serial * 100 + i);
    switch (i % 5) {
      case 0:
        SetValue(key, name, REG_SZ, "Some \"setting\" text " + number + std::string(1, '\0'));
        break;
      case 1: {
        const auto n = static_cast<uint32_t>(serial * 100 + i);
        SetValue(key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&n), 4));
        break;
      }
      case 2:
        SetValue(key, name, REG_BINARY, std::string(40, static_cast<char>(i)) + number);
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

void BuildTree(Tree& tree) {
  HKEY top = nullptr;
  Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tree.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &top, nullptr),
        "RegCreateKeyExA");
  ++tree.keys;
  long serial = 0;
  Build(top, tree, 0, serial);
  RegCloseKey(top);
}

// Builds the trees in a child process, in one transaction, so that this
// process stays as small as a shell would be: a program started from here
// counts this process's pages in its own peak memory.
bool BuildTreesApart(Tree& small, Tree& large) {
  int report[2];
  if (pipe(report) != 0) return false;
  const pid_t builder = fork();
  if (builder == 0) {
    close(report[0]);
    orvik::posix::SetCommitPolicy(orvik::posix::CommitPolicy::kPerRun);
    const Clock::time_point start = Clock::now();
    BuildTree(small);
    BuildTree(large);
    orvik::posix::CloseRegistryStore();
    std::printf("built both trees in %.1f s\n", Seconds(Clock::now() - start));
    std::fflush(stdout);
    const long counts[4] = {small.keys, small.values, large.keys, large.values};
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

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time of the program
  long peak_kib = 0;
  int exit_code = -1;
};

// Runs the program with standard output to /dev/null in a process of its
// own, so that the peak memory its children report is this run's alone.
Run Measure(const std::string& program, const std::vector<std::string>& args) {
  int report[2];
  if (pipe(report) != 0) std::exit(1);
  const Clock::time_point start = Clock::now();
  const pid_t runner = fork();
  if (runner == 0) {
    close(report[0]);
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) < 0) {
      _exit(127);
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const long cpu_micros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L +
                            usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    const long figures[3] = {usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                             cpu_micros};
    if (write(report[1], figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) {
      _exit(126);
    }
    _exit(0);
  }
  close(report[1]);
  long figures[3] = {0, -1, 0};
  const ssize_t got = read(report[0], figures, sizeof figures);
  close(report[0]);
  int status = 0;
  waitpid(runner, &status, 0);
  Run run;
  run.seconds = Seconds(Clock::now() - start);
  if (got == static_cast<ssize_t>(sizeof figures)) {
    run.peak_kib = figures[0];
    run.exit_code = static_cast<int>(figures[1]);
    run.cpu_seconds = static_cast<double>(figures[2]) / 1e6;
  }
  return run;
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
  char dir_template[] = "/tmp/orvik-export-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  setenv("ORVIK_REGISTRY", dir.c_str(), 1);

  Tree small{"small", "SOFTWARE\\BenchSmall", {10, 10, 10, 10}, 10};
  Tree large{"large", "SOFTWARE\\BenchLarge", {10, 10, 10, 100}, 10};
  if (!BuildTreesApart(small, large)) return 1;

  const Run bare = Measure(orvik, {});
  std::printf("\norvik without arguments: peak %ld KiB\n", bare.peak_kib);
  std::printf(
      "rates by wall time, and by the program's own CPU time (the machine may be shared)\n\n");
  std::printf("%-6s %8s %8s %8s %8s %9s %9s %9s %9s %9s\n", "EXPORT", "values", "file MiB",
              "wall s", "cpu s", "wall/500K", "cpu/500K", "peak KiB", "vs file", "vs bare");
  Run runs[2];
  for (int i = 0; i < 2; ++i) {
    const Tree& tree = i == 0 ? small : large;
    const std::string file = dir + "/" + tree.label + ".reg";
    const Run run = Measure(orvik, {"EXPORT", "HKLM\\" + tree.key, file});
    if (run.exit_code != 0) {
      std::printf("%s: EXPORT exited with %d\n", tree.label, run.exit_code);
      return 1;
    }
    runs[i] = run;
    const double file_kib = static_cast<double>(std::filesystem::file_size(file)) / 1024.0;
    const auto values = static_cast<double>(tree.values);
    std::printf("%-6s %8ld %8.1f %8.2f %8.2f %9.2f %9.2f %9ld %9.2f %9.2f\n", tree.label,
                tree.values, file_kib / 1024.0, run.seconds, run.cpu_seconds,
                values / run.seconds / kTargetValuesPerSecond,
                values / run.cpu_seconds / kTargetValuesPerSecond, run.peak_kib,
                static_cast<double>(run.peak_kib) / file_kib,
                static_cast<double>(run.peak_kib) / static_cast<double>(bare.peak_kib));
  }
  const double small_values = static_cast<double>(small.values);
  const double large_values = static_cast<double>(large.values);
  std::printf("\nsmall tree's rate vs the large tree's: wall %.2f, cpu %.2f\n",
              (small_values / runs[0].seconds) / (large_values / runs[1].seconds),
              (small_values / runs[0].cpu_seconds) / (large_values / runs[1].cpu_seconds));
  std::printf(
      "targets: x/500K >= 1; peak vs file <= 1.5 on the large tree; small vs large <= 1.5\n");

  if (keep) {
    std::printf("\nregistry and files kept in %s\n", dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  return 0;
}
