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

#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/bench_options.h"
#include "bench/support/bench_tree.h"
#include "bench/support/measure.h"

namespace {

using orvik::bench::Run;
using orvik::bench::Tree;

// Builds each tree and prints its line.
void BuildEach(Tree& small, Tree& large) {
  for (Tree* tree : {&small, &large}) {
    const double seconds = orvik::bench::BuildTree(*tree);
    std::printf("built %-9s %7ld keys %8ld values in %7.1f s (%.0f keys and values/s)\n",
                tree->label, tree->keys, tree->values, seconds,
                static_cast<double>(tree->keys + tree->values) / seconds);
    std::fflush(stdout);
  }
}

// Runs the program with standard output to a pipe that is read and thrown
// away; the private memory is sampled while the output drains.
Run Measure(const std::string& program, const std::vector<std::string>& args) {
  orvik::bench::MeasureOptions options;
  options.to_pipe = true;
  options.sample_private = true;
  return orvik::bench::Measure(program, args, options);
}

}  // namespace

int main(int argc, char** argv) {
  const orvik::bench::Options options = orvik::bench::ParseOptions(argc, argv);
  const std::string& orvik = options.orvik;
  const std::string dir = orvik::bench::MakeTemporaryRegistry("orvik-query-bench");
  if (dir.empty()) return 1;

  Tree small{"reference", "SOFTWARE\\BenchSmall", {10, 10, 10, 10}, 10};
  Tree large{"large", "SOFTWARE\\BenchLarge", {10, 10, 10, 100}, 10};
  if (!orvik::bench::BuildTreesApart(small, large, BuildEach)) return 1;

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

  orvik::bench::FinishTemporaryRegistry(dir, options.keep);
  return 0;
}
