// For tests: the strict checker of the shared tools (regf_strict.py), which
// applies the rules Windows applies when it loads a hive, run on a file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvik::posix::hive::test {

// The checker's findings worse than NOTE, one line each ("[SEVERITY] RULE
// xCOUNT: rule" and its first example); nullopt when the checker or python3
// is not there.
std::optional<std::vector<std::string>> StrictFindings(const std::string& file);

}  // namespace orvik::posix::hive::test
