// UTF-8 with lossless invalid bytes, strict UTF-8, and the upper-casing of
// registry names by Windows' own table.
#include "platform/posix/codepage.h"

#include <algorithm>
#include <cstdint>

#include "platform/posix/upcase_runs.h"

namespace orvik::posix {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // escaped byte b (0x80..0xFF) is 0xDC00 + b

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at `p` (at most `left` bytes), 0 if none;
// the code point goes to *cp.
size_t DecodeOne(const unsigned char* p, size_t left, char32_t* cp) {
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left < 2 || !IsContinuation(p[1])) return 0;
    *cp = static_cast<char32_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left < 3 || !IsContinuation(p[1]) || !IsContinuation(p[2])) return 0;
    if (b0 == 0xE0 && p[1] < 0xA0) return 0;   // overlong
    if (b0 == 0xED && p[1] >= 0xA0) return 0;  // surrogate
    *cp = static_cast<char32_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left < 4 || !IsContinuation(p[1]) || !IsContinuation(p[2]) || !IsContinuation(p[3])) {
      return 0;
    }
    if (b0 == 0xF0 && p[1] < 0x90) return 0;   // overlong
    if (b0 == 0xF4 && p[1] >= 0x90) return 0;  // beyond U+10FFFF
    *cp = static_cast<char32_t>(((b0 & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) |
                                (p[3] & 0x3F));
    return 4;
  }
  return 0;
}

void AppendWide(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Walks UTF-16 code points; a lone surrogate is passed with lone = true.
template <typename F>
void ForEachCodePoint(std::u16string_view wide, F&& f) {
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t u = wide[i];
    if (IsHigh(u) && i + 1 < wide.size() && IsLow(wide[i + 1])) {
      f(static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (wide[i + 1] - 0xDC00)), false);
      ++i;
    } else {
      f(static_cast<char32_t>(u), IsHigh(u) || IsLow(u));
    }
  }
}

// Walks UTF-8 code points; a byte that starts no valid sequence is passed
// alone, as the byte's value with invalid = true.
template <typename F>
void ForEachUtf8CodePoint(std::string_view bytes, F&& f) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t cp = 0;
    const size_t n = DecodeOne(p + i, bytes.size() - i, &cp);
    if (n == 0) {
      f(static_cast<char32_t>(p[i]), true);
      ++i;
    } else {
      f(cp, false);
      i += n;
    }
  }
}

size_t Utf8Length(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

bool IsEscapedByte(char32_t cp) { return cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF; }

// The runs must ascend for the search in UpcaseUnit.
constexpr bool RunsAscend() {
  for (size_t i = 1; i < std::size(kUpcaseRuns); ++i) {
    if (kUpcaseRuns[i].first <= kUpcaseRuns[i - 1].last) return false;
  }
  return true;
}
static_assert(RunsAscend());

}  // namespace

std::u16string AnsiToWide(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  ForEachUtf8CodePoint(bytes, [&](char32_t cp, bool invalid) {
    if (invalid) {
      out.push_back(static_cast<char16_t>(kEscapeBase + cp));
    } else {
      AppendWide(out, cp);
    }
  });
  return out;
}

std::string WideToAnsi(std::u16string_view wide, char default_char, bool* used_default) {
  std::string out;
  // Most names and texts are ASCII: one byte a character.
  if (std::all_of(wide.begin(), wide.end(), [](char16_t c) { return c < 0x80; })) {
    out.resize(wide.size());
    std::transform(wide.begin(), wide.end(), out.begin(),
                   [](char16_t c) { return static_cast<char>(c); });
    return out;
  }
  out.reserve(wide.size());
  ForEachCodePoint(wide, [&](char32_t cp, bool lone) {
    if (!lone) {
      AppendUtf8(out, cp);
    } else if (IsEscapedByte(cp)) {
      out.push_back(static_cast<char>(cp - kEscapeBase));
    } else {
      out.push_back(default_char);
      if (used_default != nullptr) *used_default = true;
    }
  });
  return out;
}

size_t AnsiLength(std::u16string_view wide) {
  size_t length = 0;
  ForEachCodePoint(wide, [&](char32_t cp, bool lone) { length += lone ? 1 : Utf8Length(cp); });
  return length;
}

std::u16string Utf8ToWide(std::string_view bytes, bool* had_invalid) {
  std::u16string out;
  out.reserve(bytes.size());
  ForEachUtf8CodePoint(bytes, [&](char32_t cp, bool invalid) {
    if (invalid) {
      out.push_back(u'\xFFFD');
      if (had_invalid != nullptr) *had_invalid = true;
    } else {
      AppendWide(out, cp);
    }
  });
  return out;
}

std::string WideToUtf8(std::u16string_view wide, bool* had_invalid) {
  std::string out;
  out.reserve(wide.size());
  ForEachCodePoint(wide, [&](char32_t cp, bool lone) {
    if (lone) {
      AppendUtf8(out, 0xFFFD);
      if (had_invalid != nullptr) *had_invalid = true;
    } else {
      AppendUtf8(out, cp);
    }
  });
  return out;
}

char16_t UpcaseUnitBeyondAscii(char16_t unit) {
  // The last run that begins at or before the unit.
  const UpcaseRun* run =
      std::upper_bound(std::begin(kUpcaseRuns), std::end(kUpcaseRuns), unit,
                       [](char16_t u, const UpcaseRun& r) { return u < r.first; });
  if (run == std::begin(kUpcaseRuns)) return unit;
  --run;
  if (unit > run->last || (unit - run->first) % run->step != 0) return unit;
  return static_cast<char16_t>(unit + run->delta);
}

std::u16string FoldName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = UpcaseUnit(c);
  return out;
}

int CompareFoldedNames(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = UpcaseUnit(a[i]);
    const char16_t y = UpcaseUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string WideToBytes(std::u16string_view wide) {
  std::string out(wide.size() * 2, '\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    out[2 * i] = static_cast<char>(wide[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(wide[i] >> 8);
  }
  return out;
}

std::u16string BytesToWide(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

}  // namespace orvik::posix
