// Tests of the banner's unscrambler and the banner it serves.
#include "app/unscramble.h"

#include <gtest/gtest.h>

#include <string>

#include "app/banner.h"
#include "manip/console.h"

namespace orvik {
namespace {

// The opposite of Unscramble: position p is raised by 10 + p.
std::string Scramble(const std::string& plain) {
  std::string stored = plain;
  for (size_t i = 0; i < stored.size(); ++i) {
    stored[i] = static_cast<char>((static_cast<unsigned char>(stored[i]) + 11 + i) % 256);
  }
  return stored;
}

TEST(Unscramble, LowersEachCharacterByTenPlusItsPosition) {
  EXPECT_EQ(Unscramble(""), "");
  EXPECT_EQ(Unscramble("\x0C\x0D\x0E"), std::string("\x01\x01\x01"));
  // Below zero wraps around modulo 256.
  EXPECT_EQ(Unscramble(std::string("\x00\x05", 2)), "\xF5\xF9");
  // Past position 245 the shift itself wraps: position 246 is lowered by 0.
  const std::string long_text(300, 'a');
  const std::string plain = Unscramble(Scramble(long_text));
  EXPECT_EQ(plain, long_text);
  EXPECT_EQ(Unscramble(std::string(246, 'a')).back(), 'a');
}

TEST(Banner, PrintsTitleCopyrightAndAnEmptyLine) {
  CapturingConsole out;
  PrintBanner(out);
  EXPECT_EQ(out.Text(),
            "Corvane Registry Console Tool 1.0\r\nCopyright (c) 2026 Corvane Inc.\r\n\r\n");
  EXPECT_EQ(BannerCopyrightLine().size(), 31u);
}

}  // namespace
}  // namespace orvik
