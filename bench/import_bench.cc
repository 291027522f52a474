// Benchmark of orvik-regedit, the editor IMPORT starts. Imports a generated
// file of 1 million values in 100 thousand keys and a reference ten times
// smaller, each into a fresh registry, and reports values per second against
// the target of 250 thousand, and the peak memory of the large run against
// the reference's (flat: about 1). Then, when the real hives and hivexregedit
// are there, exports the largest hive with hivexregedit and times importing
// that file against `hivexregedit --merge` of it into a copy of the hive
// (target: at most half its time).
//
//   import_bench [path/to/orvik-regedit]   (default: the one beside bench/)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/support/bench_options.h"
#include "bench/support/measure.h"

namespace {

using orvik::bench::Measure;
using orvik::bench::MeasureOptions;
using orvik::bench::Run;
namespace fs = std::filesystem;

constexpr double kTargetValuesPerSecond = 250000;
constexpr double kTargetOfMerge = 0.5;

// Standard output to the file `out`.
MeasureOptions OutputTo(const std::string& out) {
  MeasureOptions options;
  options.out = out;
  return options;
}

// Writes a REGEDIT4 file of `keys` keys with ten values each, of the common
// types, the way EXPORT writes them. Returns the number of values.
long WriteFile(const std::string& path, long keys) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::exit(1);
  std::fputs("REGEDIT4\r\n", file);
  long values = 0;
  for (long k = 0; k < keys; ++k) {
    std::fprintf(file, "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Group%ld\\Key%ld]\r\n", k / 100,
                 k);
    for (int i = 0; i < 10; ++i) {
      const long n = k * 10 + i;
      switch (i % 5) {
        case 0:
          std::fprintf(file, "\"Value%d\"=\"Some setting text %ld\"\r\n", i, n);
          break;
        case 1:
          std::fprintf(file, "\"Value%d\"=dword:%08lx\r\n", i, n);
          break;
        case 2:
          std::fprintf(
              file, "\"Value%d\"=hex:%02x,%02x,%02x,%02x,00,01,02,03,04,05,06,07,08,09,0a,0b\r\n",
              i, static_cast<unsigned>(n & 0xff), static_cast<unsigned>((n >> 8) & 0xff),
              static_cast<unsigned>((n >> 16) & 0xff), static_cast<unsigned>(i));
          break;
        case 3:
          std::fprintf(file, "\"Value%d\"=hex(7):66,69,72,73,74,00,%02x,00,00\r\n", i,
                       static_cast<unsigned>('0' + i));
          break;
        default:
          std::fprintf(
              file, "\"Value%d\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,64,69,72,00\r\n", i);
          break;
      }
      ++values;
    }
  }
  std::fclose(file);
  return values;
}

std::string LargestHive() {
  const std::string places = ORVIK_REAL_HIVES_DIRS;
  size_t start = 0;
  while (start <= places.size()) {
    const size_t end = std::min(places.find(':', start), places.size());
    const fs::path hive = fs::path(places.substr(start, end - start)) / "SYSTEM.xz";
    if (fs::exists(hive)) return hive.string();
    start = end + 1;
  }
  return "";
}

Run Import(const std::string& regedit, const std::string& registry, const std::string& file) {
  setenv("ORVIK_REGISTRY", registry.c_str(), 1);
  return Measure(regedit, {"/s", file});
}

}  // namespace

int main(int argc, char** argv) {
  const std::string regedit = argc > 1 ? argv[1] : orvik::bench::BesideBench("orvik-regedit");
  // Each case gets its registry below it.
  const std::string made = orvik::bench::MakeTemporaryRegistry("orvik-import-bench");
  if (made.empty()) return 1;
  const fs::path dir = made;

  struct Case {
    const char* label;
    long keys;
    long values = 0;
    Run run;
  } cases[] = {{"reference", 10000, 0, {}}, {"large", 100000, 0, {}}};
  std::printf("%-10s %8s %9s %9s %12s %11s %10s %11s\n", "file", "values", "MB", "seconds",
              "values/s", "vs target", "peak KiB", "vs reference");
  for (Case& c : cases) {
    const std::string file = (dir / (std::string(c.label) + ".reg")).string();
    c.values = WriteFile(file, c.keys);
    c.run = Import(regedit, (dir / c.label).string(), file);
    if (c.run.exit_code != 0) {
      std::printf("%s: orvik-regedit exited with %d\n", c.label, c.run.exit_code);
      continue;
    }
    const double rate = static_cast<double>(c.values) / c.run.seconds;
    std::printf("%-10s %8ld %9.1f %9.2f %12.0f %11.2f %10ld %11.2f\n", c.label, c.values,
                static_cast<double>(fs::file_size(file)) / 1e6, c.run.seconds, rate,
                rate / kTargetValuesPerSecond, c.run.peak_kib,
                static_cast<double>(c.run.peak_kib) / static_cast<double>(cases[0].run.peak_kib));
    fs::remove_all(dir / c.label);
    fs::remove(file);
  }

  const std::string hive_xz = LargestHive();
  if (hive_xz.empty() || access("/usr/bin/hivexregedit", X_OK) != 0) {
    std::printf("\nno real hive or no hivexregedit: the comparison with its merge is skipped\n");
  } else {
    const std::string hive = (dir / "SYSTEM").string();
    const std::string reg = (dir / "SYSTEM.reg").string();
    const char* prefix = "HKEY_LOCAL_MACHINE\\SYSTEM";
    Measure("xz", {"-dc", hive_xz}, OutputTo(hive));
    Measure("hivexregedit", {"--export", "--prefix", prefix, hive, "\\"}, OutputTo(reg));
    fs::copy_file(hive, hive + ".merged");
    const Run merge =
        Measure("hivexregedit", {"--merge", "--prefix", prefix, hive + ".merged", reg});
    const Run ours = Import(regedit, (dir / "hive-registry").string(), reg);
    std::printf("\nSYSTEM hive's export, %.1f MB:\n",
                static_cast<double>(fs::file_size(reg)) / 1e6);
    std::printf("  hivexregedit --merge  %6.2f s (exit %d), peak %ld KiB\n", merge.seconds,
                merge.exit_code, merge.peak_kib);
    std::printf("  orvik-regedit         %6.2f s (exit %d), peak %ld KiB\n", ours.seconds,
                ours.exit_code, ours.peak_kib);
    std::printf("  time of the merge's: %.2f (target at most %.2f)\n", ours.seconds / merge.seconds,
                kTargetOfMerge);
  }
  fs::remove_all(dir);
  return 0;
}
