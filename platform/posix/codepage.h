// The ANSI code page of the POSIX platform: UTF-8 in which every byte that is
// not part of a valid sequence is carried losslessly as one UTF-16 unit of
// its own (0xDC80 + the byte's low 7 bits, a lone low surrogate that valid
// UTF-8 never produces), so any byte string survives a trip through UTF-16.
// Also strict UTF-8 (CP_UTF8) and the case folding of registry names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvik::posix {

// Bytes of the ANSI code page to UTF-16 and back. AnsiToWide never fails;
// WideToAnsi maps a lone surrogate that is no escaped byte to `default_char`
// and sets *used_default (when given).
std::u16string AnsiToWide(std::string_view bytes);
std::string WideToAnsi(std::u16string_view wide, char default_char = '?',
                       bool* used_default = nullptr);

// Number of bytes WideToAnsi produces, without building the string.
size_t AnsiLength(std::u16string_view wide);

// Strict UTF-8. Invalid input becomes U+FFFD; *had_invalid tells whether any
// did (for MB_ERR_INVALID_CHARS).
std::u16string Utf8ToWide(std::string_view bytes, bool* had_invalid = nullptr);
std::string WideToUtf8(std::u16string_view wide, bool* had_invalid = nullptr);

// A UTF-16 code unit upper-cased as Windows upper-cases registry names: by a
// fixed table of its own, not by any locale. Each unit maps on its own, so
// surrogates (and with them every character beyond U+FFFF) stay as they are.
// An upper-cased unit stays as it is, and no unit beyond ASCII becomes ASCII.
char16_t UpcaseUnitBeyondAscii(char16_t unit);
inline char16_t UpcaseUnit(char16_t unit) {
  if (unit >= 0x80) return UpcaseUnitBeyondAscii(unit);
  return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
}
// The name as registry lookups compare it: every code unit upper-cased
// (UpcaseUnit). Windows orders a hive's subkeys by this form, code unit by
// code unit, and hashes it for their lists.
std::u16string FoldName(std::u16string_view name);
// How two names order once folded (FoldName), without copies.
int CompareFoldedNames(std::u16string_view a, std::u16string_view b);

// UTF-16LE bytes of a wide string and back (an odd trailing byte is dropped).
std::string WideToBytes(std::u16string_view wide);
std::u16string BytesToWide(std::string_view bytes);

}  // namespace orvik::posix
