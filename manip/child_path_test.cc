// Joining a parent's path and a subkey's name, with and without the lead
// bytes of code page 932 (表 is 95 5C).
#include "manip/child_path.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page_932.h"

namespace orvik {
namespace {

struct Case {
  std::string parent;
  std::string name;
  std::string path;
};

TEST(ChildPath, OneSeparatorBetweenParentAndName) {
  const Case cases[] = {
      {"", "a", "a"},
      {"software", "a", "software\\a"},
      {"software\\", "a", "software\\a"},
      {"\\", "a", "\\a"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChildPath(c.parent, c.name), c.path) << c.parent;
}

TEST(ChildPath, AParentEndingInADoubleByteCharacterGetsItsSeparator) {
  const test::CodePage932 cp932;
  const Case cases[] = {
      {"software\\\x95\x5C", "a", "software\\\x95\x5C\\a"},
      {"software\\\x95\x5C\\", "a", "software\\\x95\x5C\\a"},
      {"software\\", "a", "software\\a"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChildPath(c.parent, c.name), c.path) << c.parent;
}

}  // namespace
}  // namespace orvik
