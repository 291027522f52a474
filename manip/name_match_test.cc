// Pairing names with case ignored: the exact spelling, another case, and the
// first of several equal names.
#include "manip/name_match.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

TEST(NameIndexTest, FindsTheFirstNameEqualWithCaseIgnored) {
  const TStringList names = {"Version", "\xC3\x84pfel", "", "count", "b", "B", "@"};
  const NameIndex index(names);
  const struct {
    std::string name;
    size_t expected;
  } cases[] = {
      {"Version", 0},
      {"VERSION", 0},
      {"version", 0},
      {"\xC3\xA4PFEL", 1},
      {"", 2},
      {"COUNT", 3},
      {"b", 4},
      {"B", 5},
      {"@", 6},
      {"Versio", NameIndex::npos},
      {"counts", NameIndex::npos},
      {"\xC3\xA4", NameIndex::npos},
  };
  for (const auto& c : cases) EXPECT_EQ(index.Find(c.name), c.expected) << c.name;
  // Spelled otherwise, the first of two equal names counts.
  const TStringList twice = {"x", "Ab", "AB"};
  EXPECT_EQ(NameIndex(twice).Find("aB"), 1u);
}

TEST(NameIndexTest, AnEmptyListFindsNothing) {
  const TStringList none;
  EXPECT_EQ(NameIndex(none).Find("x"), NameIndex::npos);
  EXPECT_EQ(NameIndex(none).Find(""), NameIndex::npos);
}

}  // namespace
}  // namespace orvik
