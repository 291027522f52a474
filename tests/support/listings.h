// For the end-to-end tests of hives: listings of one tree loaded under
// different keys made comparable, and the lines two views of a hive differ in.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik::test {

// The listing of QUERY /s without its banner, with every header line's key
// path from `from` on replaced by `to`, so that listings of one tree loaded
// under different keys compare equal.
std::string Listing(std::string out, const std::string& from, const std::string& to);

// Views of a hive (lines of hive_views.h) before and after one change under
// a key whose name holds "orviktest": they differ only by the lines of that
// key and its values, and by the root key's line (its last-write time moved).
::testing::AssertionResult OnlyTheChange(const std::vector<std::string>& original,
                                         const std::vector<std::string>& changed);

}  // namespace orvik::test
