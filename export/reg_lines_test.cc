// Tests of the registry-editor file's lines: root names, escaping, hex lists
// and the entry of every form.
#include "export/reg_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page_932.h"

namespace orvik {
namespace {

TEST(RootKeyTable, HandlesMapToTheirRowsAndEveryOtherHandleToTheLast) {
  const HKEY handles[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,     HKEY_LOCAL_MACHINE,
                          HKEY_USERS,        HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG,
                          HKEY_DYN_DATA};
  for (uint8_t i = 0; i < 7; ++i) {
    EXPECT_EQ(RootIndexOf(handles[i]), i);
    EXPECT_EQ(RootKeyTable[i].key, handles[i]);
  }
  EXPECT_EQ(RootIndexOf(nullptr), 6);
  EXPECT_STREQ(RootKeyTable[1].name, "HKEY_CURRENT_USER");
  EXPECT_STREQ(RootKeyTable[6].name, "HKEY_DYN_DATA");
}

TEST(SectionLine, PathsGetOneLeadingBackslashAndTheRootStandsAlone) {
  EXPECT_EQ(SectionLine("HKEY_USERS", "a\\b"), "[HKEY_USERS\\a\\b]");
  EXPECT_EQ(SectionLine("HKEY_USERS", "\\a"), "[HKEY_USERS\\a]");
  EXPECT_EQ(SectionLine("HKEY_USERS", ""), "[HKEY_USERS]");
  EXPECT_EQ(WithLeadingBackslash("x"), "\\x");
  EXPECT_EQ(WithLeadingBackslash("\\x"), "\\x");
  EXPECT_EQ(WithLeadingBackslash(""), "\\");
}

TEST(EscapeText, ReplacesBackslashQuoteAndLineFeedWithoutLookingAgain) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"C:\\dir\\", "C:\\\\dir\\\\"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"\\\"", "\\\\\\\""},
      {"a\nb", "a\r\nb"},
      {"a\r\nb", "a\r\r\nb"},
      {std::string("nul\0x", 5), std::string("nul\0x", 5)},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeText(c.text), c.escaped) << c.text;
}

TEST(EscapeText, LeavesTheSecondByteOfADoubleByteCharacterAlone) {
  // 表 is 95 5C and ソ 83 5C in code page 932: no backslash to double.
  const test::CodePage932 cp932;
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"\x95\x5C", "\x95\x5C"},
      {"C:\\\x95\x5C\\\x83\x5C\"", "C:\\\\\x95\x5C\\\\\x83\x5C\\\""},
      {"\x95\x5C\x5C", "\x95\x5C\\\\"},
      {"\x95", "\x95"},  // a lead byte alone at the end
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeText(c.text), c.escaped) << c.text;
}

TEST(HexList, TwoLowerCaseDigitsPerByteSeparatedByCommas) {
  EXPECT_EQ(HexList(std::string("\x01\xab\x00", 3)), "01,ab,00");
  EXPECT_EQ(HexList("\xff"), "ff");
  EXPECT_EQ(HexList(""), "");
}

TEST(ValueEntries, EveryFormNamedAndUnnamed) {
  EXPECT_EQ(HexEntry("N", REG_BINARY, "01"), "\"N\"=hex:01");
  EXPECT_EQ(HexEntry("", REG_BINARY, ""), "@=hex:");
  EXPECT_EQ(HexEntry("N", REG_DWORD_BIG_ENDIAN, "00"), "\"N\"=hex(5):00");
  EXPECT_EQ(HexEntry("", 0x1f, "00"), "@=hex(1f):00");
  EXPECT_EQ(HexEntry("N", 0xffffffff, "00"), "\"N\"=hex(ffffffff):00");
  EXPECT_EQ(StringEntry("N", "t"), "\"N\"=\"t\"");
  EXPECT_EQ(StringEntry("", ""), "@=\"\"");
  EXPECT_EQ(DwordEntry("N", 255), "\"N\"=dword:000000ff");
  EXPECT_EQ(DwordEntry("", -1), "@=dword:ffffffff");
  EXPECT_EQ(DwordEntry("", INT32_MIN), "@=dword:80000000");
  EXPECT_EQ(LinkComment("N"), ";\"N\"=REG_LINK not supported");
  EXPECT_EQ(LinkComment(""), ";\"\"=REG_LINK not supported");
}

TEST(ValueEntryTable, RowsByTypeCode) {
  const char* const tags[] = {"hex(0)", nullptr,  "hex(2)", "hex",    "dword",  "hex(5)",
                              nullptr,  "hex(7)", "hex(8)", "hex(9)", "hex(a)", "hex(b)"};
  for (DWORD type = 0; type < 12; ++type) {
    const ValueEntryRow row = ValueEntryRowOf(type);
    EXPECT_EQ(row.type, type);
    if (tags[type] != nullptr) {
      EXPECT_EQ(TypeTag(type), tags[type]) << type;
    }
  }
  EXPECT_EQ(ValueEntryRowOf(REG_SZ).form, EntryForm::kString);
  EXPECT_EQ(ValueEntryRowOf(REG_DWORD).form, EntryForm::kDword);
  EXPECT_EQ(ValueEntryRowOf(REG_LINK).form, EntryForm::kLinkComment);
  EXPECT_EQ(ValueEntryRowOf(REG_DWORD_BIG_ENDIAN).form, EntryForm::kHexList);
  EXPECT_EQ(ValueEntryRowOf(12).form, EntryForm::kHexList);
  EXPECT_EQ(TypeTag(12), "hex(c)");
}

}  // namespace
}  // namespace orvik
