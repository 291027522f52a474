// Listings and views of hives compared, for the end-to-end tests.
#include "tests/support/listings.h"

#include <algorithm>
#include <iterator>

namespace orvik::test {

namespace {

// The lines of `after` that `before` lacks, and of `before` that `after`
// lacks.
void Difference(std::vector<std::string> before, std::vector<std::string> after,
                std::vector<std::string>* added, std::vector<std::string>* removed) {
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(*added));
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::back_inserter(*removed));
}

}  // namespace

std::string Listing(std::string out, const std::string& from, const std::string& to) {
  const size_t start = out.find("HKEY_");
  out = start == std::string::npos ? "" : out.substr(start);
  if (from.empty()) return out;
  for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size())) {
    out.replace(at, from.size(), to);
  }
  return out;
}

::testing::AssertionResult OnlyTheChange(const std::vector<std::string>& original,
                                         const std::vector<std::string>& changed) {
  std::vector<std::string> added;
  std::vector<std::string> removed;
  Difference(original, changed, &added, &removed);
  size_t change = 0;
  for (const std::string& line : added) change += line.find("orviktest") != std::string::npos;
  if (change == 0 || removed.size() > 1 || added.size() - change != removed.size()) {
    auto failure = ::testing::AssertionFailure();
    for (const auto& line : added) failure << "added: " << line.substr(0, 200) << "\n";
    for (const auto& line : removed) failure << "removed: " << line.substr(0, 200) << "\n";
    return failure;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace orvik::test
