// CompareStringA: texts of the ANSI code page compared by UTF-16 code unit,
// with NORM_IGNORECASE after the folding that registry names match by.
#include <cstring>
#include <string>

#include "platform/posix/codepage.h"
#include "platform/posix/windows_api.h"

namespace {

constexpr DWORD kKnownFlags = NORM_IGNORECASE;

std::u16string Text(LPCSTR text, int count, bool fold) {
  const size_t length = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
  std::u16string wide = orvik::posix::AnsiToWide(std::string_view(text, length));
  return fold ? orvik::posix::FoldName(wide) : wide;
}

}  // namespace

int CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2,
                   int cchCount2) {
  (void)Locale;
  if (lpString1 == nullptr || lpString2 == nullptr || cchCount1 < -1 || cchCount2 < -1 ||
      (dwCmpFlags & ~kKnownFlags) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool fold = (dwCmpFlags & NORM_IGNORECASE) != 0;
  const int order = Text(lpString1, cchCount1, fold).compare(Text(lpString2, cchCount2, fold));
  if (order < 0) return CSTR_LESS_THAN;
  return order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}
