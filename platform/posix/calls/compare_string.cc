// CompareStringA: texts of the ANSI code page compared by UTF-16 code unit,
// with NORM_IGNORECASE after the folding that registry names match by
// (Windows' upper-casing of each code unit).
#include <cstring>
#include <string>

#include "platform/posix/codepage.h"
#include "platform/posix/windows_api.h"

namespace {

constexpr DWORD kKnownFlags = NORM_IGNORECASE;

std::u16string Text(LPCSTR text, int count) {
  const size_t length = count < 0 ? std::strlen(text) : static_cast<size_t>(count);
  return orvik::posix::AnsiToWide(std::string_view(text, length));
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
  const std::u16string a = Text(lpString1, cchCount1);
  const std::u16string b = Text(lpString2, cchCount2);
  const int order =
      (dwCmpFlags & NORM_IGNORECASE) != 0 ? orvik::posix::CompareFoldedNames(a, b) : a.compare(b);
  if (order < 0) return CSTR_LESS_THAN;
  return order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}
