// Runs the strict hive checker for the tests.
#include "platform/posix/hive/testing/strict_check.h"

#include <sys/stat.h>

#include <cstdio>

namespace orvik::posix::hive::test {

namespace {

// The checker beside the source tree (its folder, or a level further up).
std::string Checker() {
  const std::string places = ORVIK_SHARED_TOOLS_DIRS;
  for (size_t from = 0; from < places.size();) {
    size_t colon = places.find(':', from);
    if (colon == std::string::npos) colon = places.size();
    const std::string path = places.substr(from, colon - from) + "/regf_strict.py";
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) return path;
    from = colon + 1;
  }
  return "";
}

}  // namespace

std::optional<std::vector<std::string>> StrictFindings(const std::string& file) {
  const std::string checker = Checker();
  if (checker.empty() || system("command -v python3 > /dev/null 2>&1") != 0) return std::nullopt;
  FILE* out = popen(("python3 '" + checker + "' '" + file + "' 2>&1").c_str(), "r");
  if (out == nullptr) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, out)) text.append(buffer, n);
  if (pclose(out) != 0) return std::vector<std::string>{"the checker failed: " + text};
  // Findings are "  [SEVERITY] RULE ..." with their examples below them.
  std::vector<std::string> findings;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(from, end - from);
    from = end + 1;
    if (line.rfind("  [", 0) == 0 && line.rfind("  [NOTE]", 0) != 0) {
      const size_t example_end = text.find('\n', from);
      findings.push_back(line + " |" + text.substr(from, example_end - from));
    }
  }
  return findings;
}

}  // namespace orvik::posix::hive::test
