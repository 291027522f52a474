// Runs a built program in a process of its own and measures its elapsed and
// processor time and its peak memory, for the benchmarks.
#pragma once

#include <string>
#include <vector>

namespace orvik::bench {

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;     // user and system time of the program
  long peak_kib = 0;          // peak resident set, mapped file pages included
  long peak_private_kib = 0;  // peak private (anonymous) memory, when sampled
  int exit_code = -1;
};

struct MeasureOptions {
  // Where standard output goes: a file (created or emptied), or, when
  // `to_pipe`, a pipe that is read and thrown away.
  std::string out = "/dev/null";
  bool to_pipe = false;
  // Samples the private memory while the output drains (needs `to_pipe`).
  bool sample_private = false;
};

// Runs `program` (looked up in PATH when it has no slash) with `args` in a
// process of its own, so that the peak memory its children report is this
// run's alone.
Run Measure(const std::string& program, const std::vector<std::string>& args,
            const MeasureOptions& options = {});

// The path of a program built beside bench/ (the build directory's top).
std::string BesideBench(const std::string& name);

// The orvik beside bench/.
std::string DefaultOrvik();

}  // namespace orvik::bench
