// Reads the benchmarks' common command line and makes and removes their
// temporary registry.
#include "bench/support/bench_options.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "bench/support/measure.h"

namespace orvik::bench {

Options ParseOptions(int argc, char** argv) {
  Options options;
  options.orvik = DefaultOrvik();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep") == 0) {
      options.keep = true;
    } else {
      options.orvik = argv[i];
    }
  }
  return options;
}

std::string MakeTemporaryRegistry(const std::string& prefix) {
  // $TMPDIR chooses the file system measured (a reflink one, a slow disk).
  const char* tmpdir = getenv("TMPDIR");
  const std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  const std::string pattern = base + "/" + prefix + "-XXXXXX";
  std::vector<char> dir_template(pattern.begin(), pattern.end());
  dir_template.push_back('\0');
  if (mkdtemp(dir_template.data()) == nullptr) return "";
  const std::string dir = dir_template.data();
  setenv("ORVIK_REGISTRY", dir.c_str(), 1);
  return dir;
}

void FinishTemporaryRegistry(const std::string& dir, bool keep, const char* what) {
  if (keep) {
    std::printf("\n%s kept in %s\n", what, dir.c_str());
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
}

}  // namespace orvik::bench
