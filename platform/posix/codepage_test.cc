// The ANSI code page (lossless UTF-8), strict UTF-8, case folding, and the
// MultiByteToWideChar / WideCharToMultiByte calls over them.
#include "platform/posix/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/posix/windows_api.h"
#include "tests/support/windows_upcase.h"

namespace orvik::posix {
namespace {

TEST(CodePageTest, EveryByteStringSurvivesTheTripThroughUtf16) {
  std::vector<std::string> samples = {"",
                                      "plain",
                                      "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",
                                      "\xC3",
                                      "\xE2\x82",
                                      "\xED\xA0\x80\xED\xB0\x80",
                                      "\xED\xB3\xBF",
                                      "\xF8\x88\x80\x80\x80"};
  for (int b = 0; b < 256; ++b) samples.emplace_back(1, static_cast<char>(b));
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(random() % 12, '\0');
    // Bias towards the bytes that make up multi-byte sequences.
    for (auto& c : bytes)
      c = static_cast<char>(random() % 3 == 0 ? random() : 0x80 + random() % 0x78);
    samples.push_back(bytes);
  }
  for (const auto& bytes : samples) {
    const std::u16string wide = AnsiToWide(bytes);
    EXPECT_EQ(WideToAnsi(wide), bytes) << testing::PrintToString(bytes);
    EXPECT_EQ(AnsiLength(wide), bytes.size());
  }
}

TEST(CodePageTest, ValidUtf8IsPlainUtf16AndInvalidBytesAreEscaped) {
  EXPECT_EQ(AnsiToWide("a\xC3\xA4\xF0\x9F\x98\x80"), u"a\u00E4\U0001F600");
  EXPECT_EQ(AnsiToWide("\xFF\xC3"), std::u16string({0xDCFF, 0xDCC3}));
  // A lone surrogate that is no escaped byte has no ANSI form.
  bool used_default = false;
  EXPECT_EQ(WideToAnsi(std::u16string({u'a', 0xD800, u'b'}), '?', &used_default), "a?b");
  EXPECT_TRUE(used_default);
}

TEST(CodePageTest, UpcaseUnitIsWindowsTableEntryByEntry) {
  const std::vector<char16_t>& windows = orvik::test::WindowsUpcaseTable();
  if (windows.empty()) GTEST_SKIP() << "Windows' upper-case table is not there";
  int differing = 0;
  for (uint32_t unit = 0; unit < 0x10000; ++unit) {
    const char16_t ours = UpcaseUnit(static_cast<char16_t>(unit));
    // Folded names fold to themselves, and names beyond ASCII stay beyond it.
    EXPECT_EQ(UpcaseUnit(ours), ours);
    EXPECT_EQ(ours < 0x80, unit < 0x80);
    if (ours == windows[unit]) continue;
    if (++differing <= 10) {
      ADD_FAILURE() << std::hex << "U+" << unit << ": " << static_cast<uint32_t>(ours)
                    << ", Windows " << static_cast<uint32_t>(windows[unit]);
    }
  }
  EXPECT_EQ(differing, 0);
}

// Where Windows' table parts from Unicode's upper-casing (and from the C
// library's), and where it agrees: known without the table file.
TEST(CodePageTest, FoldNameIsWindowsUpperCasing) {
  const struct {
    const char* what;
    std::u16string name;
    std::u16string folded;
  } cases[] = {
      {"ASCII", u"abc-XYZ_09", u"ABC-XYZ_09"},
      {"dotless i stays", u"\u0131x", u"\u0131X"},
      {"long s stays", u"\u017Fx", u"\u017FX"},
      {"micro sign stays", u"\u00B5", u"\u00B5"},
      {"title-case digraph stays", u"\u01C5\u01C8\u01CB\u01F2", u"\u01C5\u01C8\u01CB\u01F2"},
      {"lower-case digraph", u"\u01C6", u"\u01C4"},
      {"sharp s stays", u"\u00DF", u"\u00DF"},
      {"Latin-1", u"\u00E4\u00FF", u"\u00C4\u0178"},
      {"Greek, final sigma stays", u"\u03B1\u03C3\u03C2", u"\u0391\u03A3\u03C2"},
      {"Cyrillic", u"\u044F\u0451", u"\u042F\u0401"},
      {"CJK", u"\u65E5\u672C", u"\u65E5\u672C"},
      {"fullwidth", u"\uFF41", u"\uFF21"},
      {"a letter beyond U+FFFF stays", u"\U00010428", u"\U00010428"},
      {"an escaped byte stays", std::u16string({0xDCFF, u'x'}), std::u16string({0xDCFF, u'X'})},
  };
  for (const auto& c : cases) EXPECT_EQ(FoldName(c.name), c.folded) << c.what;
}

// The comparison without copies orders names as their folded forms do.
TEST(CodePageTest, CompareFoldedNamesOrdersAsFoldNameDoes) {
  const std::u16string names[] = {u"",        u"a",          u"A",
                                  u"ab",      u"aB",         u"b",
                                  u"_",       u"Z",          u"z1",
                                  u"\u017F",  u"s",          u"S",
                                  u"a\u00E4", u"A\u00C4",    u"a\u00E5",
                                  u"\u00DF",  u"\U00010428", u"\U00010400",
                                  u"\u0131x", u"Ix",         u"kx",
                                  u"\u01C5x", u"\u01C4x",    u"\u01C6x",
                                  u"\uFFFF",  u"\uFF41",     std::u16string(1, char16_t{0xD800})};
  auto sign = [](int n) { return (n > 0) - (n < 0); };
  for (const auto& a : names) {
    for (const auto& b : names) {
      EXPECT_EQ(sign(CompareFoldedNames(a, b)), sign(FoldName(a).compare(FoldName(b))))
          << WideToUtf8(a) << " / " << WideToUtf8(b);
    }
  }
  // Windows' order: dotless i is no I, and sorts after K.
  EXPECT_GT(CompareFoldedNames(u"\u0131x", u"kx"), 0);
  EXPECT_NE(CompareFoldedNames(u"\u0131x", u"Ix"), 0);
}

TEST(CodePageTest, MultiByteToWideChar) {
  WCHAR buffer[8];
  // -1 takes the terminating zero along.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xC3\xA4z", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xC3\xA4z", -1, buffer, 8), 3);
  EXPECT_EQ(std::u16string(buffer, 3), std::u16string(u"\u00E4z\0", 3));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, buffer, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // The ANSI code page takes every byte; strict UTF-8 does not.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\xFF", 1, buffer, 8), 1);
  EXPECT_EQ(buffer[0], 0xDCFF);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xFF", 1, buffer, 8), 1);
  EXPECT_EQ(buffer[0], 0xFFFD);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", 1, buffer, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, buffer, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, buffer, 8), 0);
}

TEST(CodePageTest, WideCharToMultiByte) {
  char buffer[8];
  const WCHAR text[] = {0x00E4, 0xDC80, 0};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string(buffer, 4), std::string("\xC3\xA4\x80\0", 4));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, 2, buffer, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const WCHAR lone[] = {0xD800};
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, 1, buffer, 8, "#", &used), 1);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_TRUE(used);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 1, buffer, 8, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(buffer, 3), "\xEF\xBF\xBD");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 1, buffer, 8, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace orvik::posix
