// Benchmark of COPY /s and COMPARE /s: builds a large tree (100 thousand
// keys, 1 million values) and a reference ten times smaller in a temporary
// registry, then with the built program, on each tree: COPY /s into a key
// that does not exist yet, COMPARE /s of the tree with its copy (identical),
// and COMPARE /s again after one value deep inside the copy was changed.
// Reports values per second and the run's peak private memory, as ratios against
// targets (COPY 100 thousand values/s, COMPARE 500 thousand value pairs/s)
// and against the same operation on the smaller tree; peak memory should
// stay within 1.5 times the smaller tree's. Rates are of the elapsed time;
// the run's processor time is shown beside it.
//
//   copy_compare_bench [--keep] [path/to/orvik]   (default: the orvik beside bench/)

#include <cstdio>
#include <string>

#include "bench/support/bench_options.h"
#include "bench/support/bench_tree.h"
#include "bench/support/measure.h"
#include "platform/change_group.h"

namespace {

using orvik::bench::Check;
using orvik::bench::Clock;
using orvik::bench::Measure;
using orvik::bench::Run;
using orvik::bench::Seconds;
using orvik::bench::Tree;

constexpr double kCopyTarget = 100000;     // values per second
constexpr double kCompareTarget = 500000;  // value pairs per second
constexpr double kPeakLimit = 1.5;         // times the smaller tree's peak

// Peak memory is the run's private memory: pages of the mapped database are
// the page cache's, not the run's (the resident size is printed beside it).
const orvik::bench::MeasureOptions kSampled{"/dev/null", true, true};

// Builds each tree in one change group and prints its line.
void BuildEach(Tree& small, Tree& large) {
  for (Tree* tree : {&small, &large}) {
    const Clock::time_point start = Clock::now();
    orvik::BeginChangeGroup();
    orvik::bench::BuildTree(*tree);
    Check(orvik::EndChangeGroup(), "EndChangeGroup");
    std::printf("built %-9s %7ld keys %8ld values in %6.1f s\n", tree->label, tree->keys,
                tree->values, Seconds(Clock::now() - start));
    std::fflush(stdout);
  }
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
  figures.peak_kib = run.peak_private_kib;
  std::printf("%-22s %-9s %8ld %8.2f %6.2f %10.0f %8.2f", operation, tree.label, tree.values,
              run.seconds, run.cpu_seconds, figures.rate, figures.rate / target);
  if (reference != nullptr && reference->rate > 0) {
    std::printf(" %8.2f %9ld %8.2f%s %9ld\n", figures.rate / reference->rate, figures.peak_kib,
                static_cast<double>(figures.peak_kib) / static_cast<double>(reference->peak_kib),
                static_cast<double>(figures.peak_kib) >
                        kPeakLimit * static_cast<double>(reference->peak_kib)
                    ? "  (over 1.5)"
                    : "",
                run.peak_kib);
  } else {
    std::printf(" %8s %9ld %8s %9ld\n", "-", figures.peak_kib, "-", run.peak_kib);
  }
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const orvik::bench::Options options = orvik::bench::ParseOptions(argc, argv);
  const std::string& orvik = options.orvik;
  const std::string dir = orvik::bench::MakeTemporaryRegistry("orvik-copy-compare-bench");
  if (dir.empty()) return 1;

  Tree small{"reference", "SOFTWARE\\BenchSmall", {10, 10, 10, 10}, 10};
  Tree large{"large", "SOFTWARE\\BenchLarge", {10, 10, 10, 100}, 10};
  if (!orvik::bench::BuildTreesApart(small, large, BuildEach)) return 1;

  std::printf("\n%-22s %-9s %8s %8s %6s %10s %8s %8s %9s %8s %9s\n", "operation", "tree", "values",
              "seconds", "cpu s", "values/s", "/target", "/smaller", "priv KiB", "/smaller",
              "rss KiB");
  Figures copy_small;
  Figures same_small;
  Figures differ_small;
  for (const Tree* tree : {&small, &large}) {
    const bool is_small = tree == &small;
    const std::string source = "HKLM\\" + tree->key;
    const std::string copy = source + "Copy";
    const Run copied = Measure(orvik, {"COPY", source, copy, "/s"}, kSampled);
    const Figures c =
        Report("COPY /s", *tree, copied, 0, kCopyTarget, is_small ? nullptr : &copy_small);
    const Run same = Measure(orvik, {"COMPARE", source, copy, "/s"}, kSampled);
    const Figures s = Report("COMPARE /s identical", *tree, same, 0, kCompareTarget,
                             is_small ? nullptr : &same_small);
    // One value of the deepest key of the copy changes.
    const std::string changed_key = copy + orvik::bench::DeepestKey(*tree).substr(tree->key.size());
    Measure(orvik, {"ADD", changed_key, "/v", "Value0", "/d", "changed"});
    const Run differ = Measure(orvik, {"COMPARE", source, copy, "/s"}, kSampled);
    const Figures d = Report("COMPARE /s one change", *tree, differ, 2, kCompareTarget,
                             is_small ? nullptr : &differ_small);
    if (is_small) {
      copy_small = c;
      same_small = s;
      differ_small = d;
    }
  }

  orvik::bench::FinishTemporaryRegistry(dir, options.keep);
  return 0;
}
