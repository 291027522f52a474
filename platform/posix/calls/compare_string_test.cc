// CompareStringA: ordering by code unit, and NORM_IGNORECASE with the folding
// of registry names (Windows' upper-casing, non-ASCII letters included).
#include <gtest/gtest.h>

#include "platform/posix/windows_api.h"

namespace {

TEST(CompareStringTest, OrdersAndFoldsLikeRegistryNames) {
  const struct {
    const char* a;
    const char* b;
    DWORD flags;
    int expected;
  } cases[] = {
      {"Version", "VERSION", NORM_IGNORECASE, CSTR_EQUAL},
      {"Version", "VERSION", 0, CSTR_GREATER_THAN},
      {"\xC3\xA4pfel", "\xC3\x84PFEL", NORM_IGNORECASE, CSTR_EQUAL},  // äpfel, ÄPFEL
      {"\xCF\x83", "\xCE\xA3", NORM_IGNORECASE, CSTR_EQUAL},          // small sigma
      // Windows' upper-casing of names: final sigma, dotless i and the micro
      // sign stay themselves.
      {"\xCF\x82", "\xCE\xA3", NORM_IGNORECASE, CSTR_GREATER_THAN},
      {"\xC4\xB1", "I", NORM_IGNORECASE, CSTR_GREATER_THAN},
      {"\xC2\xB5", "\xCE\xBC", NORM_IGNORECASE, CSTR_LESS_THAN},
      // No full case folding: sharp s stays itself, after every ASCII letter.
      {"stra\xC3\x9F", "STRASS", NORM_IGNORECASE, CSTR_GREATER_THAN},
      {"a", "b", NORM_IGNORECASE, CSTR_LESS_THAN},
      {"ab", "a", NORM_IGNORECASE, CSTR_GREATER_THAN},
      {"", "", NORM_IGNORECASE, CSTR_EQUAL},
      // Bytes that are no valid UTF-8 compare as themselves.
      {"\xFF", "\xFF", NORM_IGNORECASE, CSTR_EQUAL},
      {"\xFE", "\xFF", NORM_IGNORECASE, CSTR_LESS_THAN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, c.flags, c.a, -1, c.b, -1), c.expected)
        << c.a << " " << c.b;
  }
  // Counted texts may hold NULs and stop before the terminating zero.
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "ab\0c", 4, "AB\0C", 4),
            CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abc", 2, "AB", -1), CSTR_EQUAL);
}

TEST(CompareStringTest, RefusesWhatItCannotCompare) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, nullptr, -1, "a", -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0x1000, "a", -1, "a", -1), 0);
}

}  // namespace
