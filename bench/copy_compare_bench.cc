// Benchmark of COPY /s and COMPARE /s: builds a large tree (100 thousand
// keys, 1 million values) and a reference ten times smaller in a temporary
// registry, then with the built program, on each tree: COPY /s into a key
// that does not exist yet, COMPARE /s of the tree with its copy (identical),
// and COMPARE /s again after one value deep inside the copy was changed.
// Reports values per second and the run's peak memory, as ratios against the
// targets (COPY 100 thousand values/s, COMPARE 500 thousand value pairs/s)
// and against the same operation on the smaller tree; peak memory should
// stay within 1.5 times the smaller tree's. Rates are of the elapsed time;
// the run's processor time is shown beside it.
//
//   copy_compare_bench [--keep] [path/to/orvik]   (default: the orvik beside bench/)
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/change_group.h"
#include "platform/platform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kCopyTarget = 100000;     // values per second
constexpr double kCompareTarget = 500000;  // value pairs per second
constexpr double kPeakLimit = 1.5;         // times the smaller tree's peak

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

// The path of the last leaf, deep inside the tree.
std::string DeepestKey(const Tree& tree) {
  std::string path = tree.key;
  for (const int fanout : tree.fanouts) path += "\\Key" + std::to_string(fanout - 1);
  return path;
}

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;  // user and system time of the run
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
    const long cpu_us = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L +
                        usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    const long figures[3] = {usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1, cpu_us};
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

// Builds the trees in a child process, so that this process stays as small
// as a shell would be (a program started from here counts its pages).
bool BuildTreesApart(Tree& small, Tree& large) {
  int report[2];
  if (pipe(report) != 0) return false;
  const pid_t builder = fork();
  if (builder == 0) {
    close(report[0]);
    long counts[4] = {};
    int i = 0;
    for (Tree* tree : {&small, &large}) {
      const Clock::time_point start = Clock::now();
      orvik::BeginChangeGroup();
      BuildTree(*tree);
      Check(orvik::EndChangeGroup(), "EndChangeGroup");
      std::printf("built %-9s %7ld keys %8ld values in %6.1f s\n", tree->label, tree->keys,
                  tree->values, Seconds(Clock::now() - start));
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

struct Figures {
  double rate = 0;
  long peak_kib = 0;
};

// Runs one operation on the tree and prints its line; `reference` holds the
// smaller tree's figures (empty while measuring the smaller tree itself).
Figures Report(const char* operation, const Tree& tree, const Run& run, int expected_exit,
               double target, const Figures* reference) {
  Figures figures;
  if (run.exit_code != expected_exit) {
    std::printf("%-22s %-9s exited with %d, not %d\n", operation, tree.label, run.exit_code,
                expected_exit);
    return figures;
  }
  figures.rate = static_cast<double>(tree.values) / run.seconds;
  figures.peak_kib = run.peak_kib;
  std::printf("%-22s %-9s %8ld %8.2f %6.2f %10.0f %8.2f", operation, tree.label, tree.values,
              run.seconds, run.cpu_seconds, figures.rate, figures.rate / target);
  if (reference != nullptr && reference->rate > 0) {
    std::printf(
        " %8.2f %9ld %8.2f%s\n", figures.rate / reference->rate, run.peak_kib,
        static_cast<double>(run.peak_kib) / static_cast<double>(reference->peak_kib),
        static_cast<double>(run.peak_kib) > kPeakLimit * static_cast<double>(reference->peak_kib)
            ? "  (over 1.5)"
            : "");
  } else {
    std::printf(" %8s %9ld %8s\n", "-", run.peak_kib, "-");
  }
  return figures;
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
  char dir_template[] = "/tmp/orvik-copy-compare-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  setenv("ORVIK_REGISTRY", dir.c_str(), 1);

  Tree small{"reference", "SOFTWARE\\BenchSmall", {10, 10, 10, 10}, 10};
  Tree large{"large", "SOFTWARE\\BenchLarge", {10, 10, 10, 100}, 10};
  if (!BuildTreesApart(small, large)) return 1;

  std::printf("\n%-22s %-9s %8s %8s %6s %10s %8s %8s %9s %8s\n", "operation", "tree", "values",
              "seconds", "cpu s", "values/s", "/target", "/smaller", "peak KiB", "/smaller");
  Figures copy_small;
  Figures same_small;
  Figures differ_small;
  for (const Tree* tree : {&small, &large}) {
    const bool is_small = tree == &small;
    const std::string source = "HKLM\\" + tree->key;
    const std::string copy = source + "Copy";
    const Run copied = Measure(orvik, {"COPY", source, copy, "/s"});
    const Figures c =
        Report("COPY /s", *tree, copied, 0, kCopyTarget, is_small ? nullptr : &copy_small);
    const Run same = Measure(orvik, {"COMPARE", source, copy, "/s"});
    const Figures s = Report("COMPARE /s identical", *tree, same, 0, kCompareTarget,
                             is_small ? nullptr : &same_small);
    // One value of the deepest key of the copy changes.
    const std::string changed_key = copy + DeepestKey(*tree).substr(tree->key.size());
    Measure(orvik, {"ADD", changed_key, "/v", "Value0", "/d", "changed"});
    const Run differ = Measure(orvik, {"COMPARE", source, copy, "/s"});
    const Figures d = Report("COMPARE /s one change", *tree, differ, 2, kCompareTarget,
                             is_small ? nullptr : &differ_small);
    if (is_small) {
      copy_small = c;
      same_small = s;
      differ_small = d;
    }
  }

  if (keep) {
    std::printf("\nregistry kept in %s\n", dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  return 0;
}
