// The benchmarks' common command line ([--keep] [path/to/orvik]) and their
// temporary registry, removed at the end unless --keep.
#pragma once

#include <string>

namespace orvik::bench {

struct Options {
  bool keep = false;  // --keep: leave the registry directory in place
  std::string orvik;  // the program measured; by default the orvik beside bench/
};

Options ParseOptions(int argc, char** argv);

// Makes a fresh directory <prefix>-XXXXXX in $TMPDIR (else /tmp) and points
// ORVIK_REGISTRY at it; empty when it cannot be made.
std::string MakeTemporaryRegistry(const std::string& prefix);

// Removes the directory, or with `keep` leaves it and prints
// "<what> kept in <dir>".
void FinishTemporaryRegistry(const std::string& dir, bool keep, const char* what = "registry");

}  // namespace orvik::bench
