// Benchmark of the hive files, in one run, on the largest real hive (SYSTEM,
// unpacked from the shared hives) and on a registry of one million values:
//   - our reader walking the whole hive (every key and value read), against
//     hivexml dumping it (target: less time) and reglookup listing it;
//   - orvik RESTORE of the hive into an empty key, and orvik SAVE of it;
//   - orvik SAVE of a tree of 1 million values (1000 keys of 1000 values):
//     values per second against the target of 1 million per second, and the
//     peak memory of the SAVE process against twice the hive's size.
// Figures are printed as ratios, never checked.
//
//   hive_bench [HIVES_DIR]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/handles/registry_session.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_walk.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using orvik::posix::hive::HiveReader;
using orvik::posix::hive::KeyNode;
using orvik::posix::hive::ValueNode;

constexpr int kRuns = 3;  // best of

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Run {
  double seconds = 0;
  long peak_kib = 0;  // the child's maximum resident set
  int status = -1;
};

// Runs a program with standard output to /dev/null; its time and peak memory.
Run RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd = "") {
  std::vector<std::string> text = {program};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  Run run;
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    rusage usage{};
    wait4(pid, &run.status, 0, &usage);
    run.peak_kib = usage.ru_maxrss;
  }
  run.seconds = Seconds(start);
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

Run Best(const std::string& program, const std::vector<std::string>& args) {
  Run best;
  best.seconds = 1e9;
  for (int i = 0; i < kRuns; ++i) {
    const Run run = RunProgram(program, args);
    if (run.seconds < best.seconds) best = run;
  }
  return best;
}

class CountingVisitor : public orvik::posix::hive::HiveVisitor {
 public:
  LONG EnterKey(const KeyNode&, const std::u16string&, const std::string&) override {
    ++keys;
    return ERROR_SUCCESS;
  }
  LONG Value(const ValueNode&, const std::string& data) override {
    ++values;
    bytes += static_cast<long>(data.size());
    return ERROR_SUCCESS;
  }
  LONG LeaveKey(const KeyNode&) override { return ERROR_SUCCESS; }
  long keys = 0, values = 0, bytes = 0;
};

std::string BuildDirectory() {
  return fs::canonical("/proc/self/exe").parent_path().parent_path().string();
}

std::string FindHives(int argc, char** argv) {
  std::vector<std::string> places;
  if (argc > 1) places.push_back(argv[1]);
  if (const char* env = std::getenv("ORVIK_REAL_HIVES")) places.push_back(env);
  const fs::path source = fs::canonical(BuildDirectory()).parent_path();
  places.push_back((source / "../shared/hives").string());
  places.push_back((source / "../../shared/hives").string());
  for (const auto& place : places) {
    if (fs::exists(fs::path(place) / "SYSTEM.xz")) return place;
  }
  return "";
}

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
  }
}

// A registry of 1000 keys of 1000 REG_DWORD and REG_SZ values, made in one
// transaction.
void BuildMillion(const std::string& registry) {
  setenv("ORVIK_REGISTRY", registry.c_str(), 1);
  orvik::posix::SetCommitPolicy(orvik::posix::CommitPolicy::kPerRun);
  HKEY base = nullptr;
  Require(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Million", 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &base, nullptr) == ERROR_SUCCESS,
          "creating the base key");
  for (int k = 0; k < 1000; ++k) {
    HKEY key = nullptr;
    const std::string name = "key" + std::to_string(k);
    Require(RegCreateKeyExA(base, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) == ERROR_SUCCESS,
            "creating a key");
    for (int v = 0; v < 1000; ++v) {
      const std::string value = "value" + std::to_string(v);
      if (v % 2 == 0) {
        const DWORD data = static_cast<DWORD>(v);
        RegSetValueExA(key, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4);
      } else {
        const std::string data = "text " + value;
        RegSetValueExA(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
      }
    }
    RegCloseKey(key);
  }
  RegCloseKey(base);
  orvik::posix::CloseRegistryStore();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string hives = FindHives(argc, argv);
  if (hives.empty()) {
    std::fprintf(stderr, "The real hives are not there (give their folder as the argument).\n");
    return 1;
  }
  const fs::path temp =
      fs::temp_directory_path() / ("orvik-hive-bench-" + std::to_string(getpid()));
  fs::create_directories(temp);
  const std::string hive = (temp / "SYSTEM").string();
  Require(std::system(("xz -dc '" + hives + "/SYSTEM.xz' > '" + hive + "'").c_str()) == 0,
          "unpacking SYSTEM");
  const double hive_mib = static_cast<double>(fs::file_size(hive)) / (1 << 20);
  std::printf("Hive: SYSTEM, %.1f MiB\n", hive_mib);

  // Our reader: the whole walk, every value's data read.
  double walk = 1e9;
  CountingVisitor counted;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    std::unique_ptr<HiveReader> reader;
    Require(HiveReader::Open(hive, &reader) == ERROR_SUCCESS, "opening the hive");
    CountingVisitor visitor;
    Require(orvik::posix::hive::WalkHive(*reader, visitor) == ERROR_SUCCESS, "walking the hive");
    walk = std::min(walk, Seconds(start));
    counted = visitor;
  }
  const Run hivexml = Best("hivexml", {hive});
  const Run reglookup = Best("reglookup", {hive});
  std::printf("Our reader walks %ld keys and %ld values (%.1f MiB of data) in %.1f ms\n",
              counted.keys, counted.values, static_cast<double>(counted.bytes) / (1 << 20),
              walk * 1000);
  std::printf("  hivexml dumps it in %.1f ms: ours takes %.3f of its time (target < 1)\n",
              hivexml.seconds * 1000, walk / hivexml.seconds);
  std::printf("  reglookup lists it in %.1f ms: ours takes %.3f of its time\n",
              reglookup.seconds * 1000, walk / reglookup.seconds);

  // RESTORE and SAVE through the program, in a fresh registry.
  const std::string orvik = BuildDirectory() + "/orvik";
  const std::string registry = (temp / "registry").string();
  setenv("ORVIK_REGISTRY", registry.c_str(), 1);
  const Run restore = RunProgram(orvik, {"RESTORE", "HKLM\\SOFTWARE\\Restored", hive});
  Require(restore.status == 0, "orvik RESTORE");
  const std::string saved = (temp / "saved.hiv").string();
  const Run save = RunProgram(orvik, {"SAVE", "HKLM\\SOFTWARE\\Restored", saved});
  Require(save.status == 0, "orvik SAVE");
  const double saved_mib = static_cast<double>(fs::file_size(saved)) / (1 << 20);
  std::printf("orvik RESTORE of it into an empty key: %.1f ms (%.2f times hivexml's dump)\n",
              restore.seconds * 1000, restore.seconds / hivexml.seconds);
  std::printf(
      "orvik SAVE of it: %.1f ms, %.0f values/s (%.2f of the 1M/s target); peak memory "
      "%.1f MiB for a %.1f MiB hive: %.2f of the hive's size (target <= 2)\n",
      save.seconds * 1000, static_cast<double>(counted.values) / save.seconds,
      static_cast<double>(counted.values) / save.seconds / 1e6,
      static_cast<double>(save.peak_kib) / 1024, saved_mib,
      static_cast<double>(save.peak_kib) / 1024 / saved_mib);

  // SAVE of one million values.
  const std::string million = (temp / "million").string();
  const auto build_start = Clock::now();
  BuildMillion(million);
  const double build = Seconds(build_start);
  setenv("ORVIK_REGISTRY", million.c_str(), 1);
  const std::string million_hive = (temp / "million.hiv").string();
  const Run big = RunProgram(orvik, {"SAVE", "HKLM\\SOFTWARE\\Million", million_hive});
  Require(big.status == 0, "orvik SAVE of 1M values");
  const double big_mib = static_cast<double>(fs::file_size(million_hive)) / (1 << 20);
  std::printf("Registry of 1M values built in %.1f s\n", build);
  std::printf(
      "orvik SAVE of 1M values: %.0f ms, %.0f values/s (%.2f of the 1M/s target); peak memory "
      "%.1f MiB for a %.1f MiB hive: %.2f of the hive's size (target <= 2)\n",
      big.seconds * 1000, 1e6 / big.seconds, 1.0 / big.seconds,
      static_cast<double>(big.peak_kib) / 1024, big_mib,
      static_cast<double>(big.peak_kib) / 1024 / big_mib);

  fs::remove_all(temp);
  return 0;
}
