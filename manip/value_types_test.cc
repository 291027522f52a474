// Tests of the type names printed and accepted, and of asking the registry
// for a value's type.
#include "manip/value_types.h"

#include <gtest/gtest.h>

#include <string>

#include "registry/test_registry.h"

namespace orvik {
namespace {

TEST(TypeNameOfTest, PrintedNames) {
  struct Case {
    DWORD code;
    std::string name;
  };
  const Case cases[] = {
      {0, "REG_NONE       "},  {1, "REG_SZ "},          {2, "REG_EXPAND_SZ  "},
      {3, "REG_BINARY     "},  {4, "REG_DWORD      "},  {5, "REG_DWORD_BIG_ENDIAN  "},
      {6, "REG_SZ "},          {7, "REG_MULTI_SZ   "},  {8, "REG_SZ "},
      {9, "REG_SZ "},          {10, "REG_SZ "},         {11, "REG_SZ "},
      {0x7FFFFFFF, "REG_SZ "}, {0xFFFFFFFF, "REG_SZ "},
  };
  for (const Case& c : cases) EXPECT_EQ(TypeNameOf(c.code), c.name) << c.code;
}

TEST(TypeCodeOfTest, AcceptedNames) {
  struct Case {
    std::string name;
    DWORD code;
  };
  const Case cases[] = {
      {"REG_NONE", 0},
      {"reg_none", 0},
      {"REG_SZ", 1},
      {"REG_EXPAND_SZ", 2},
      {"Reg_Binary", 3},
      {"REG_DWORD", 4},
      {"reg_dword_little_endian", 4},
      {"REG_DWORD_BIG_ENDIAN", 5},
      {"reg_multi_sz", 7},
      // Everything else is REG_SZ: nothing is trimmed, unnamed types included.
      {"REG_QWORD", 1},
      {"REG_LINK", 1},
      {"REG_SZ ", 1},
      {" REG_DWORD", 1},
      {"REG_DWORD ", 1},
      {"", 1},
      {"DWORD", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(TypeCodeOf(c.name), c.code) << "'" << c.name << "'";
}

class QueryValueTypeTest : public test::ScratchKeyTest {};

TEST_F(QueryValueTypeTest, ReturnsTheStoredCode) {
  SetValue("multi", REG_MULTI_SZ, std::string("a\0\0", 3));
  SetValue("big", REG_DWORD_BIG_ENDIAN, std::string(4, '\0'));
  SetValue("odd", 0x12345678, "x");
  SetValue("", REG_BINARY, "");
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  EXPECT_EQ(QueryValueType(registry, "multi"), REG_MULTI_SZ);
  EXPECT_EQ(QueryValueType(registry, "big"), REG_DWORD_BIG_ENDIAN);
  EXPECT_EQ(QueryValueType(registry, "odd"), 0x12345678u);
  EXPECT_EQ(QueryValueType(registry, ""), REG_BINARY);
}

TEST_F(QueryValueTypeTest, MissingValueRaisesWithPathAndName) {
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  try {
    QueryValueType(registry, "nothere");
    FAIL() << "nothing raised";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Unknown type for " + KeyPath() + "\\nothere");
  }
  EXPECT_EQ(registry.ActivePath(), KeyPath());
}

}  // namespace
}  // namespace orvik
