// Benchmark of LOAD and UNLOAD, in one run, on the largest real hive (SYSTEM,
// unpacked from the shared hives into a temporary directory):
//   - orvik LOAD of a copy of the hive, QUERY /s of it (output to a pipe),
//     EXPORT of it and UNLOAD without a change; then LOAD, one ADD of a value
//     under it and UNLOAD, which writes the change back in place; then the
//     same once more with the file touched before UNLOAD, which UNLOAD then
//     writes whole (as every UNLOAD after a change did before it wrote in
//     place). Each is a process of its own against a temporary registry, and
//     one ADD elsewhere in the registry (HKCU\Software\bench) is the
//     reference for the ADD under the hive;
//   - the peers on a copy of the same hive: hivexml, hivexregedit --export and
//     hivexsh -w setting one value (cd, setval, commit);
//   - the peak private memory of LOAD on the largest hive and on a small one
//     (SAM), sampled while the run lasts (a run of its own, since sampling
//     slows it);
//   - LOAD of the dirty classes hive of the shared data (dirty/UsrClass) with
//     its two logs, which it replays, against LOAD of the same hive's
//     recovered form (the replay written out as a clean file beforehand).
// Each timing is the best of a few rounds. The figures are printed with their
// ratios against the peers and the targets, never checked:
//   (LOAD + EXPORT + UNLOAD without a change) / hivexml < 1, LOAD / hivexml
//   <= 0.1, (LOAD + ADD + UNLOAD) / hivexsh's edit <= 1, UNLOAD in place /
//   UNLOAD written whole <= 0.2, ADD under the hive / ADD elsewhere <= 1.5,
//   ADD under the hive / hivexsh's edit < 1/3, LOAD's private peak on the
//   large hive / on the small one ~1, LOAD of the dirty hive / LOAD of its
//   recovered form <= 1.5.
//
//   load_bench [--keep] [--runs N] [--hives DIR] [path/to/orvik]
//
// N defaults to 3. The hives are taken from DIR, else from $ORVIK_REAL_HIVES,
// else from ../shared/hives beside the source tree (or a level further up);
// without them the benchmark says so and ends. --keep leaves the registry
// directory and the files in place and prints their path.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/bench_options.h"
#include "bench/support/measure.h"
#include "platform/posix/hive/hive_recovery.h"

namespace {

namespace fs = std::filesystem;
using orvik::bench::Measure;
using orvik::bench::MeasureOptions;
using orvik::bench::Run;

// The key the hives are loaded as, and the key of the hive that the ADD and
// hivexsh's edit change: a key of every SYSTEM hive that holds no values, so
// that hivexsh's setval (which replaces all of a key's values) sets just one.
const char* const kLoaded = "HKLM\\BenchHive";
const char* const kEditedKey = "Software";
const char* const kElsewhere = "HKCU\\Software\\bench";

// The best of the rounds of one timing: the shortest wall time, the smallest
// processor time and the largest private memory sampled.
struct Best {
  double seconds = 0;
  double cpu_seconds = 0;
  bool sampled = false;  // whether the private memory was sampled
  long peak_private_kib = 0;
  long peak_kib = 0;
  int rounds = 0;

  explicit Best(bool sampled_runs = false) : sampled(sampled_runs) {}

  void Add(const Run& run) {
    if (rounds == 0 || run.seconds < seconds) seconds = run.seconds;
    if (rounds == 0 || run.cpu_seconds < cpu_seconds) cpu_seconds = run.cpu_seconds;
    peak_private_kib = std::max(peak_private_kib, run.peak_private_kib);
    peak_kib = std::max(peak_kib, run.peak_kib);
    ++rounds;
  }
};

struct Arguments {
  int runs = 3;
  std::string hives;
  std::vector<char*> rest;  // for the common options
};

Arguments ReadArguments(int argc, char** argv) {
  Arguments arguments;
  arguments.rest.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      arguments.runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--hives") == 0 && i + 1 < argc) {
      arguments.hives = argv[++i];
    } else {
      arguments.rest.push_back(argv[i]);
    }
  }
  return arguments;
}

// The folder of the hives: the one given, else $ORVIK_REAL_HIVES, else the
// first of the places beside the source tree that holds SYSTEM.xz; empty
// when the chosen folder has no SYSTEM.xz.
std::string FindHives(const std::string& given) {
  std::vector<std::string> places;
  const char* env = std::getenv("ORVIK_REAL_HIVES");
  if (!given.empty()) {
    places.push_back(given);
  } else if (env != nullptr && *env != '\0') {
    places.push_back(env);
  } else {
    const std::string defaults = ORVIK_REAL_HIVES_DIRS;
    size_t start = 0;
    while (start <= defaults.size()) {
      const size_t end = std::min(defaults.find(':', start), defaults.size());
      places.push_back(defaults.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& place : places) {
    if (fs::exists(fs::path(place) / "SYSTEM.xz")) return place;
  }
  return "";
}

bool Installed(const char* program) {
  return access((std::string("/usr/bin/") + program).c_str(), X_OK) == 0;
}

MeasureOptions OutputTo(const std::string& out) {
  MeasureOptions options;
  options.out = out;
  return options;
}

// Output to a drained pipe, the private memory sampled meanwhile.
MeasureOptions Sampled() {
  MeasureOptions options;
  options.to_pipe = true;
  options.sample_private = true;
  return options;
}

// Runs orvik; ends the benchmark when it fails, as every later figure would
// be wrong, and leaves the registry and the files for a look.
Run Orvik(const std::string& orvik, const std::vector<std::string>& args,
          const MeasureOptions& options = {}) {
  const Run run = Measure(orvik, args, options);
  if (run.exit_code != 0) {
    std::string line = "orvik";
    for (const std::string& arg : args) line += " " + arg;
    std::printf("%s: exited with %d\nregistry and files left in %s\n", line.c_str(), run.exit_code,
                std::getenv("ORVIK_REGISTRY"));
    std::exit(1);
  }
  return run;
}

// A fresh copy of the hive at `to`, so that each round starts from the
// unchanged file.
void FreshCopy(const std::string& hive, const std::string& to) {
  fs::copy_file(hive, to, fs::copy_options::overwrite_existing);
}

// The dirty classes hive and its logs unpacked into `folder`, and its
// recovered form written to `recovered`; false when the data is not there.
bool UnpackDirtyClasses(const std::string& hives, const std::string& folder,
                        const std::string& recovered) {
  fs::create_directories(folder);
  for (const char* name : {"UsrClass.dat", "UsrClass.dat.LOG1", "UsrClass.dat.LOG2"}) {
    const std::string packed = hives + "/dirty/UsrClass/" + name + ".xz";
    if (!fs::exists(packed) ||
        Measure("xz", {"-dc", packed}, OutputTo(folder + "/" + name)).exit_code != 0) {
      return false;
    }
  }
  const std::string dirty = folder + "/UsrClass.dat";
  const int fd = open(dirty.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  orvik::posix::hive::HiveRecovery recovery;
  std::unique_ptr<orvik::posix::hive::ReplayedHive> hive;
  const bool built =
      recovery.Prepare(fd, dirty) == ERROR_SUCCESS && recovery.needed() &&
      orvik::posix::hive::ReplayedHive::Build(fd, recovery.replay(), &hive) == ERROR_SUCCESS;
  close(fd);
  if (!built) return false;
  std::ofstream out(recovered, std::ios::binary);
  out.write(reinterpret_cast<const char*>(hive->data()),
            static_cast<std::streamsize>(hive->size()));
  return static_cast<bool>(out);
}

void PrintLine(const char* what, const Best& best) {
  const std::string private_kib = best.sampled ? std::to_string(best.peak_private_kib) : "-";
  std::printf("%-38s %9.1f %9.1f %10s %10ld\n", what, best.seconds * 1000, best.cpu_seconds * 1000,
              private_kib.c_str(), best.peak_kib);
}

// "a / b" with its target, or why there is no figure.
void PrintRatio(const char* what, double a, double b, const char* target) {
  if (a <= 0 || b <= 0) {
    std::printf("  %-48s %8s   (target %s)\n", what, "n/a", target);
  } else {
    std::printf("  %-48s %8.3f   (target %s)\n", what, a / b, target);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments = ReadArguments(argc, argv);
  const orvik::bench::Options options =
      orvik::bench::ParseOptions(static_cast<int>(arguments.rest.size()), arguments.rest.data());
  const std::string& orvik = options.orvik;
  const int runs = arguments.runs;

  const std::string hives = FindHives(arguments.hives);
  if (hives.empty()) {
    std::printf(
        "The real hives are not there: give their folder with --hives DIR or ORVIK_REAL_HIVES. "
        "Nothing measured.\n");
    return 0;
  }
  const std::string small_name = fs::exists(fs::path(hives) / "SAM.xz") ? "SAM" : "BCD";
  const std::string dir = orvik::bench::MakeTemporaryRegistry("orvik-load-bench");
  if (dir.empty()) return 1;
  const std::string files = dir + "/files";
  fs::create_directories(files);

  // The hives, unpacked once; every run works on a copy.
  const std::string big = files + "/SYSTEM";
  const std::string small = files + "/" + small_name;
  for (const std::string* hive : {&big, &small}) {
    const std::string packed = hives + "/" + fs::path(*hive).filename().string() + ".xz";
    if (Measure("xz", {"-dc", packed}, OutputTo(*hive)).exit_code != 0) {
      std::printf("could not unpack %s\n", packed.c_str());
      orvik::bench::FinishTemporaryRegistry(dir, options.keep, "registry and files");
      return 1;
    }
  }
  std::printf("hives: SYSTEM %.1f MiB, %s %.1f MiB (from %s); best of %d rounds\n",
              static_cast<double>(fs::file_size(big)) / (1 << 20), small_name.c_str(),
              static_cast<double>(fs::file_size(small)) / (1 << 20), hives.c_str(), runs);
  std::fflush(stdout);

  const Run bare = Measure(orvik, {}, Sampled());
  // The key of the ADD elsewhere exists before the first timed ADD, as the
  // hive's key does.
  Orvik(orvik, {"ADD", kElsewhere, "/v", "seed", "/d", "y", "/f"});

  // orvik on the large hive, in the order an administrator would go.
  const std::string loaded_copy = files + "/SYSTEM.loaded";
  const std::string exported = files + "/SYSTEM.reg";
  const std::string edited = std::string(kLoaded) + "\\" + kEditedKey;
  Best load_sampled(true);
  Best load, query, export_, unload_unchanged, add_hive, add_elsewhere, unload, unload_whole;
  MeasureOptions to_pipe;
  to_pipe.to_pipe = true;
  for (int round = 0; round < runs; ++round) {
    const std::string value = "x" + std::to_string(round);
    // Looking only: LOAD (its private memory sampled), QUERY, EXPORT, UNLOAD.
    FreshCopy(big, loaded_copy);
    load_sampled.Add(Orvik(orvik, {"LOAD", kLoaded, loaded_copy}, Sampled()));
    query.Add(Orvik(orvik, {"QUERY", kLoaded, "/s"}, to_pipe));
    export_.Add(Orvik(orvik, {"EXPORT", kLoaded, exported}));
    unload_unchanged.Add(Orvik(orvik, {"UNLOAD", kLoaded}));
    // One value set: LOAD, ADD, UNLOAD in place.
    FreshCopy(big, loaded_copy);
    load.Add(Orvik(orvik, {"LOAD", kLoaded, loaded_copy}));
    add_hive.Add(Orvik(orvik, {"ADD", edited, "/v", value, "/d", "y", "/f"}));
    add_elsewhere.Add(Orvik(orvik, {"ADD", kElsewhere, "/v", value, "/d", "y", "/f"}));
    unload.Add(Orvik(orvik, {"UNLOAD", kLoaded}));
    // The same, the file touched before UNLOAD: written whole.
    FreshCopy(big, loaded_copy);
    Orvik(orvik, {"LOAD", kLoaded, loaded_copy});
    Orvik(orvik, {"ADD", edited, "/v", value, "/d", "y", "/f"});
    chmod(loaded_copy.c_str(), 0644);
    unload_whole.Add(Orvik(orvik, {"UNLOAD", kLoaded}));
  }

  // LOAD of the small hive, for its private peak.
  const std::string small_copy = small + ".loaded";
  Best load_small(true);
  for (int round = 0; round < runs; ++round) {
    FreshCopy(small, small_copy);
    load_small.Add(Orvik(orvik, {"LOAD", kLoaded, small_copy}, Sampled()));
    Orvik(orvik, {"UNLOAD", kLoaded});
  }

  // LOAD of the dirty classes hive, replaying its logs, and of its recovered
  // form; LOAD and UNLOAD leave both files as they are.
  const std::string dirty_folder = files + "/dirty";
  const std::string recovered = files + "/UsrClass.recovered";
  const bool have_dirty = UnpackDirtyClasses(hives, dirty_folder, recovered);
  Best load_dirty, load_recovered;
  for (int round = 0; round < runs && have_dirty; ++round) {
    load_dirty.Add(Orvik(orvik, {"LOAD", kLoaded, dirty_folder + "/UsrClass.dat"}));
    Orvik(orvik, {"UNLOAD", kLoaded});
    load_recovered.Add(Orvik(orvik, {"LOAD", kLoaded, recovered}));
    Orvik(orvik, {"UNLOAD", kLoaded});
  }
  if (!have_dirty)
    std::printf("no dirty classes hive in %s/dirty: its figures are not there\n", hives.c_str());

  // The peers on a copy of the same hive.
  const std::string peer_copy = files + "/SYSTEM.peer";
  const std::string script = files + "/edit.hivexsh";
  {
    std::FILE* file = std::fopen(script.c_str(), "w");
    if (file == nullptr) return 1;
    std::fprintf(file, "cd \\%s\nsetval 1\nx\nstring:y\ncommit\n", kEditedKey);
    std::fclose(file);
  }
  Best hivexml, hivexregedit, hivexsh;
  const char* missing = nullptr;
  for (const char* peer : {"hivexml", "hivexregedit", "hivexsh"}) {
    if (!Installed(peer)) missing = peer;
  }
  for (int round = 0; round < runs && missing == nullptr; ++round) {
    FreshCopy(big, peer_copy);
    const Run xml = Measure("hivexml", {peer_copy});
    const Run reg = Measure(
        "hivexregedit", {"--export", "--prefix", "HKEY_LOCAL_MACHINE\\BenchHive", peer_copy, "\\"},
        OutputTo(files + "/SYSTEM.hivex.reg"));
    const Run edit = Measure("hivexsh", {"-w", "-f", script, peer_copy});
    if (xml.exit_code != 0 || reg.exit_code != 0 || edit.exit_code != 0) {
      std::printf("a peer failed: hivexml %d, hivexregedit %d, hivexsh %d\n", xml.exit_code,
                  reg.exit_code, edit.exit_code);
      missing = "a working peer";
      break;
    }
    hivexml.Add(xml);
    hivexregedit.Add(reg);
    hivexsh.Add(edit);
  }
  if (missing != nullptr) {
    std::printf(
        "no %s: the ratios to the peers are not there (install libhivex-bin and "
        "libwin-hivex-perl)\n",
        missing);
    hivexml = hivexregedit = hivexsh = Best();
  }

  std::printf("\n%-38s %9s %9s %10s %10s\n", "best of the rounds", "wall ms", "cpu ms", "priv KiB",
              "rss KiB");
  Best bare_best(true);
  bare_best.Add(bare);
  PrintLine("orvik without arguments", bare_best);
  PrintLine("orvik LOAD SYSTEM", load);
  PrintLine("orvik LOAD SYSTEM, memory sampled", load_sampled);
  PrintLine("orvik QUERY /s (to a pipe)", query);
  PrintLine("orvik EXPORT", export_);
  PrintLine("orvik UNLOAD without a change", unload_unchanged);
  PrintLine("orvik ADD under the hive", add_hive);
  PrintLine("orvik ADD elsewhere", add_elsewhere);
  PrintLine("orvik UNLOAD after the ADD, in place", unload);
  PrintLine("orvik UNLOAD after the ADD, whole", unload_whole);
  PrintLine(("orvik LOAD " + small_name).c_str(), load_small);
  PrintLine("orvik LOAD UsrClass, dirty (2 logs)", load_dirty);
  PrintLine("orvik LOAD UsrClass, recovered", load_recovered);
  PrintLine("hivexml (to /dev/null)", hivexml);
  PrintLine("hivexregedit --export", hivexregedit);
  PrintLine("hivexsh -w: cd, setval, commit", hivexsh);
  std::printf(
      "(private memory is sampled every few ms in the runs that show it: a run too short for a "
      "sample shows 0; rss is the peak resident set, mapped file pages included)\n");

  const double load_export_unload = load.seconds + export_.seconds + unload_unchanged.seconds;
  const double load_add_unload = load.seconds + add_hive.seconds + unload.seconds;
  std::printf("\nratios by wall time:\n");
  PrintRatio("(LOAD + EXPORT + UNLOAD unchanged) / hivexml", load_export_unload, hivexml.seconds,
             "< 1");
  PrintRatio("(LOAD + ADD + UNLOAD) / hivexsh's edit", load_add_unload, hivexsh.seconds, "<= 1");
  PrintRatio("UNLOAD in place / UNLOAD whole", unload.seconds, unload_whole.seconds, "<= 0.2");
  PrintRatio("LOAD / hivexml", load.seconds, hivexml.seconds, "<= 0.1");
  PrintRatio("ADD under the hive / ADD elsewhere", add_hive.seconds, add_elsewhere.seconds,
             "<= 1.5");
  PrintRatio("ADD under the hive / hivexsh's edit", add_hive.seconds, hivexsh.seconds, "< 0.333");
  PrintRatio("EXPORT / hivexregedit --export", export_.seconds, hivexregedit.seconds, "none");
  PrintRatio("LOAD dirty UsrClass / LOAD its recovered form", load_dirty.seconds,
             load_recovered.seconds, "<= 1.5");
  std::printf("ratios by processor time (the machine may be shared):\n");
  PrintRatio("(LOAD + EXPORT + UNLOAD unchanged) / hivexml",
             load.cpu_seconds + export_.cpu_seconds + unload_unchanged.cpu_seconds,
             hivexml.cpu_seconds, "< 1");
  PrintRatio("(LOAD + ADD + UNLOAD) / hivexsh's edit",
             load.cpu_seconds + add_hive.cpu_seconds + unload.cpu_seconds, hivexsh.cpu_seconds,
             "<= 1");
  PrintRatio("UNLOAD in place / UNLOAD whole", unload.cpu_seconds, unload_whole.cpu_seconds,
             "<= 0.2");
  PrintRatio("LOAD / hivexml", load.cpu_seconds, hivexml.cpu_seconds, "<= 0.1");
  PrintRatio("ADD under the hive / ADD elsewhere", add_hive.cpu_seconds, add_elsewhere.cpu_seconds,
             "<= 1.5");
  PrintRatio("ADD under the hive / hivexsh's edit", add_hive.cpu_seconds, hivexsh.cpu_seconds,
             "< 0.333");
  PrintRatio("LOAD dirty UsrClass / LOAD its recovered form", load_dirty.cpu_seconds,
             load_recovered.cpu_seconds, "<= 1.5");
  std::printf("memory:\n");
  PrintRatio(("LOAD's private peak, SYSTEM / " + small_name).c_str(),
             static_cast<double>(load_sampled.peak_private_kib),
             static_cast<double>(load_small.peak_private_kib), "~1");
  PrintRatio("LOAD's private peak, SYSTEM / orvik alone",
             static_cast<double>(load_sampled.peak_private_kib),
             static_cast<double>(bare.peak_private_kib), "none");

  orvik::bench::FinishTemporaryRegistry(dir, options.keep, "registry and files");
  return 0;
}
