// Benchmark of EXPORT: builds two trees in a temporary registry through the
// platform calls, a large one (100 thousand keys, 1 million values) and one
// ten times smaller, exports each with the built program and prints
//   - values exported per second, as a ratio to the target of 500 thousand;
//   - the small tree's rate as a ratio to the large tree's (target: at most
//     1.5, the rate holds as the tree grows);
//   - the peak private memory of the run as a ratio to the size of the file
//     written (target: at most 1.5), and to the peak of orvik without
//     arguments; pages of the mapped database are the page cache's, not the
//     run's, so the resident size is only printed beside it.
//
//   export_bench [--keep] [path/to/orvik]   (default: the orvik beside bench/)
//
// --keep leaves the registry directory and the files in place and prints
// their path.

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/support/bench_options.h"
#include "bench/support/bench_tree.h"
#include "bench/support/measure.h"
#include "platform/posix/handles/registry_session.h"

namespace {

using orvik::bench::Clock;
using orvik::bench::Measure;
using orvik::bench::Run;
using orvik::bench::Seconds;
using orvik::bench::Tree;

constexpr double kTargetValuesPerSecond = 500000;

// The binary values are long enough to be wrapped over several lines, and
// the texts hold quotes to escape.
Tree ExportTree(const char* label, const char* key, int last_fanout) {
  Tree tree{label, key, {10, 10, 10, last_fanout}, 10};
  tree.text = "Some \"setting\" text ";
  tree.binary_bytes = 40;
  return tree;
}

// Builds both trees in one transaction.
void BuildBoth(Tree& small, Tree& large) {
  orvik::posix::SetCommitPolicy(orvik::posix::CommitPolicy::kPerRun);
  const Clock::time_point start = Clock::now();
  orvik::bench::BuildTree(small);
  orvik::bench::BuildTree(large);
  orvik::posix::CloseRegistryStore();
  std::printf("built both trees in %.1f s\n", Seconds(Clock::now() - start));
}

}  // namespace

int main(int argc, char** argv) {
  const orvik::bench::Options options = orvik::bench::ParseOptions(argc, argv);
  const std::string& orvik = options.orvik;
  const std::string dir = orvik::bench::MakeTemporaryRegistry("orvik-export-bench");
  if (dir.empty()) return 1;

  Tree small = ExportTree("small", "SOFTWARE\\BenchSmall", 10);
  Tree large = ExportTree("large", "SOFTWARE\\BenchLarge", 100);
  if (!orvik::bench::BuildTreesApart(small, large, BuildBoth)) return 1;

  const orvik::bench::MeasureOptions sampled{"/dev/null", true, true};
  const Run bare = Measure(orvik, {}, sampled);
  std::printf("\norvik without arguments: private peak %ld KiB\n", bare.peak_private_kib);
  std::printf(
      "rates by wall time, and by the program's own CPU time (the machine may be shared)\n\n");
  std::printf("%-6s %8s %8s %8s %8s %9s %9s %9s %9s %9s %9s\n", "EXPORT", "values", "file MiB",
              "wall s", "cpu s", "wall/500K", "cpu/500K", "priv KiB", "vs file", "vs bare",
              "rss KiB");
  Run runs[2];
  for (int i = 0; i < 2; ++i) {
    const Tree& tree = i == 0 ? small : large;
    const std::string file = dir + "/" + tree.label + ".reg";
    const Run run = Measure(orvik, {"EXPORT", "HKLM\\" + tree.key, file}, sampled);
    if (run.exit_code != 0) {
      std::printf("%s: EXPORT exited with %d\n", tree.label, run.exit_code);
      return 1;
    }
    runs[i] = run;
    const double file_kib = static_cast<double>(std::filesystem::file_size(file)) / 1024.0;
    const auto values = static_cast<double>(tree.values);
    std::printf("%-6s %8ld %8.1f %8.2f %8.2f %9.2f %9.2f %9ld %9.2f %9.2f %9ld\n", tree.label,
                tree.values, file_kib / 1024.0, run.seconds, run.cpu_seconds,
                values / run.seconds / kTargetValuesPerSecond,
                values / run.cpu_seconds / kTargetValuesPerSecond, run.peak_private_kib,
                static_cast<double>(run.peak_private_kib) / file_kib,
                // a run too short to be sampled has no private peak to compare with
                bare.peak_private_kib > 0 ? static_cast<double>(run.peak_private_kib) /
                                                static_cast<double>(bare.peak_private_kib)
                                          : 0.0,
                run.peak_kib);
  }
  const double small_values = static_cast<double>(small.values);
  const double large_values = static_cast<double>(large.values);
  std::printf("\nsmall tree's rate vs the large tree's: wall %.2f, cpu %.2f\n",
              (small_values / runs[0].seconds) / (large_values / runs[1].seconds),
              (small_values / runs[0].cpu_seconds) / (large_values / runs[1].cpu_seconds));
  std::printf(
      "targets: x/500K >= 1; peak vs file <= 1.5 on the large tree; small vs large <= 1.5\n");

  orvik::bench::FinishTemporaryRegistry(dir, options.keep, "registry and files");
  return 0;
}
