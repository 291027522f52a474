// Tests of value rendering: the text of each type's data, values without
// data, and the failures that end a rendering.
#include "manip/value_render.h"

#include <gtest/gtest.h>

#include <string>

#include "registry/test_registry.h"

namespace orvik {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

TEST(BytesToHexTextTest, TwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(BytesToHexText(Bytes({0xFE, 0x34, 0x0E, 0xAD})), "FE340EAD");
  EXPECT_EQ(BytesToHexText(Bytes({0x05})), "05");
  EXPECT_EQ(BytesToHexText(Bytes({0x00, 0xFF, 0x80})), "00FF80");
  EXPECT_EQ(BytesToHexText(""), "");
}

TEST(NarrowTextTest, DropsZeroBytes) {
  EXPECT_EQ(NarrowText(Bytes({0x41, 0, 0x42, 0, 0, 0})), "AB");
  EXPECT_EQ(NarrowText(Bytes({0x01, 0, 0x7A})), "\x01z");
  EXPECT_EQ(NarrowText(Bytes({0xFF, 0x80})), "\xFF\x80");
  EXPECT_EQ(NarrowText(Bytes({0, 0})), "");
  EXPECT_EQ(NarrowText(""), "");
}

class ReadValueAsTextTest : public test::ScratchKeyTest {};

TEST_F(ReadValueAsTextTest, RendersEachType) {
  const std::string marker(EmptyDataMarker());
  struct Case {
    const char* label;
    DWORD type;
    std::string data;
    std::string text;
  };
  const Case cases[] = {
      {"sz", REG_SZ, std::string("abc\0", 4), "abc"},
      {"sz cut at first nul", REG_SZ, std::string("ab\0cd\0", 6), "ab"},
      {"sz single nul", REG_SZ, std::string("\0", 1), ""},
      {"sz without nul", REG_SZ, "whole", "whole"},
      {"sz no data", REG_SZ, "", marker},
      {"sz high bytes", REG_SZ, std::string("\xC3\xA4\xFF\0", 4), "\xC3\xA4\xFF"},
      {"expand unexpanded", REG_EXPAND_SZ, std::string("%systemroot%\0", 13), "%systemroot%"},
      {"expand no data", REG_EXPAND_SZ, "", marker},
      {"binary", REG_BINARY, Bytes({0x01, 0xAB}), "01AB"},
      {"binary no data", REG_BINARY, "", ""},
      {"none", REG_NONE, std::string("a\0b\0c\0\0\0", 8), "abc"},
      {"none no data", REG_NONE, "", ""},
      {"dword min", REG_DWORD, Bytes({0, 0, 0, 0x80}), "-2147483648"},
      {"dword -1", REG_DWORD, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      {"dword 12", REG_DWORD, Bytes({0x0C, 0, 0, 0}), "12"},
      {"dword max", REG_DWORD, Bytes({0xFF, 0xFF, 0xFF, 0x7F}), "2147483647"},
      {"dword short is zero-filled", REG_DWORD, Bytes({0x34, 0x12}), "4660"},
      {"dword no data", REG_DWORD, "", "0"},
      {"big endian read low byte first", REG_DWORD_BIG_ENDIAN, Bytes({1, 0, 0, 0}), "1"},
      {"big endian 00000001", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 0, 1}), "16777216"},
      {"big endian short", REG_DWORD_BIG_ENDIAN, Bytes({0xFF}), "255"},
      {"multi", REG_MULTI_SZ, std::string("fax\0mail\0\0", 10), "fax\\0mail\\0\\0"},
      {"multi a and empty", REG_MULTI_SZ, std::string("a\0\0\0", 4), "a\\0\\0\\0"},
      {"multi one nul", REG_MULTI_SZ, std::string("\0", 1), "\\0"},
      {"multi two nuls", REG_MULTI_SZ, std::string("\0\0", 2), "\\0\\0"},
      {"multi tail kept", REG_MULTI_SZ, std::string("a\0bc", 4), "a\\0bc"},
      {"multi no nul at all", REG_MULTI_SZ, "abc", "abc"},
      {"multi backslash zero in data", REG_MULTI_SZ, std::string("x\\0y\0\0", 6), "x\\0y\\0\\0"},
      {"multi no data", REG_MULTI_SZ, "", marker},
      {"link", REG_LINK, Bytes({0x41, 0, 0x42, 0}), ""},
      {"qword", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8}), ""},
      {"resource list", REG_RESOURCE_LIST, "abc", ""},
      {"high code", 0x80000000, "abc", ""},
  };
  for (const Case& c : cases) SetValue(c.label, c.type, c.data);
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  for (const Case& c : cases) {
    EXPECT_EQ(ReadValueAsText(registry, c.label), c.text) << c.label;
    // The one-call reading gives the same text and the type.
    DWORD type = 0xFFFF;
    EXPECT_EQ(ReadValueTypeAndText(registry, c.label, type), c.text) << c.label;
    EXPECT_EQ(type, c.type) << c.label;
  }
}

TEST_F(ReadValueAsTextTest, UnnamedValue) {
  SetValue("", REG_SZ, std::string("hello\0", 6));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  EXPECT_EQ(ReadValueAsText(registry, ""), "hello");
}

TEST_F(ReadValueAsTextTest, FailuresCarryTheirMessages) {
  SetValue("wide", REG_DWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
  SetValue("wide big", REG_DWORD_BIG_ENDIAN, Bytes({1, 0, 0, 0, 0}));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  struct Case {
    std::string name;
    std::string message;
  };
  const Case cases[] = {
      {"wide", "Failed to get data for 'wide'"},
      {"wide big", "Failed to get data for 'wide big'"},
      {"missing", "Unknown type for " + KeyPath() + "\\missing"},
  };
  DWORD type = 0;
  for (const Case& c : cases) {
    try {
      ReadValueAsText(registry, c.name);
      ADD_FAILURE() << c.name << ": nothing raised";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    try {
      ReadValueTypeAndText(registry, c.name, type);
      ADD_FAILURE() << c.name << ": nothing raised by the one-call reading";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace orvik
