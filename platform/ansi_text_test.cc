// The byte rules over ANSI text, with and without the lead bytes of a
// double-byte code page (932: ア 83 41, プ 83 76, リ 83 8A, 表 95 5C).
#include "platform/ansi_text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page_932.h"

namespace orvik {
namespace {

constexpr char kApp[] = "\x83\x41\x83\x76\x83\x8A";  // アプリ
constexpr char kHyo[] = "\x95\x5C";                  // 表, its second byte a backslash

TEST(AnsiText, CaseChangesSkipTheSecondByteOfACharacter) {
  const test::CodePage932 cp932;
  EXPECT_EQ(LowerAsciiLetters(std::string("HKCU\\Software\\") + kApp),
            std::string("hkcu\\software\\") + kApp);
  EXPECT_EQ(UpperAsciiLetters("hkcu\x83\x61z"), "HKCU\x83\x61Z");
  // A lead byte at the very end has nothing to take.
  EXPECT_EQ(LowerAsciiLetters("AB\x83"), "ab\x83");
}

TEST(AnsiText, WithoutLeadBytesEveryByteIsACharacter) {
  EXPECT_EQ(LowerAsciiLetters("AZaz@[`{\x83\x41\xC4"), "azaz@[`{\x83\x61\xC4");
  EXPECT_EQ(UpperAsciiLetters("az\xE9"), "AZ\xE9");
  EXPECT_EQ(FindBackslash(kHyo), 1u);
  EXPECT_TRUE(EndsWithBackslash(kHyo));
  EXPECT_EQ(WithoutTrailingBackslashes(kHyo), "\x95");
}

TEST(AnsiText, BackslashesAreFoundOnlyAsCharacters) {
  const test::CodePage932 cp932;
  struct Case {
    std::string text;
    size_t from;
    size_t found;
  };
  const Case cases[] = {
      {"hkcu\\software", 0, 4},
      {std::string(kHyo) + "\\x", 0, 2},
      {std::string("a") + kHyo + kHyo + "b\\", 0, 6},
      {std::string("hkcu\\") + kHyo + "\\x", 5, 7},
      {kHyo, 0, std::string::npos},
      {"", 0, std::string::npos},
  };
  for (const Case& c : cases) EXPECT_EQ(FindBackslash(c.text, c.from), c.found) << c.text;
  // A separator of two characters begins at a character too: 表0\0 holds
  // the "\0" once, at its third character.
  EXPECT_EQ(FindAtCharacter(std::string(kHyo) + "0\\0", "\\0"), 3u);
}

TEST(AnsiText, TrailingBackslashesAreCharactersOnly) {
  const test::CodePage932 cp932;
  struct Case {
    std::string text;
    bool ends;
    std::string trimmed;
  };
  const Case cases[] = {
      {"software\\", true, "software"},
      {"software\\\\", true, "software"},
      {std::string("software\\") + kHyo, false, std::string("software\\") + kHyo},
      {std::string("software\\") + kHyo + "\\", true, std::string("software\\") + kHyo},
      {std::string("x\x95\x5C\x5C"), true, "x\x95\x5C"},
      {"\\", true, ""},
      {"", false, ""},
      {"\x95", false, "\x95"},  // a lead byte alone at the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EndsWithBackslash(c.text), c.ends) << c.text;
    EXPECT_EQ(WithoutTrailingBackslashes(c.text), c.trimmed) << c.text;
  }
}

TEST(AnsiText, TheSystemTableComesBackWhenTheScopeEnds) {
  {
    const test::CodePage932 cp932;
    EXPECT_TRUE(AnsiLeadBytes().lead[0x95]);
  }
  EXPECT_FALSE(AnsiLeadBytes().any);
}

}  // namespace
}  // namespace orvik
