// Conversion of string data between its stored and ANSI forms.
#include "platform/posix/value_forms.h"

#include <algorithm>

#include "platform/posix/codepage.h"

namespace orvik::posix {

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string StoredFromAnsi(DWORD type, std::string_view data) {
  if (!IsStringType(type)) return std::string(data);
  // ASCII text: each byte and a zero, without a UTF-16 string between.
  if (std::all_of(data.begin(), data.end(), [](char c) { return (c & 0x80) == 0; })) {
    std::string out(data.size() * 2, '\0');
    for (size_t i = 0; i < data.size(); ++i) out[2 * i] = data[i];
    return out;
  }
  return WideToBytes(AnsiToWide(data));
}

std::string AnsiFromStored(DWORD type, std::string_view data) {
  if (!IsStringType(type)) return std::string(data);
  // ASCII text: every other byte, without going through UTF-16.
  if (data.size() % 2 == 0) {
    std::string out(data.size() / 2, '\0');
    bool ascii = true;
    for (size_t i = 0; i < out.size() && ascii; ++i) {
      const auto low = static_cast<unsigned char>(data[2 * i]);
      ascii = low < 0x80 && data[2 * i + 1] == 0;
      out[i] = static_cast<char>(low);
    }
    if (ascii) return out;
  }
  return WideToAnsi(BytesToWide(data));
}

size_t FittingSize(DWORD type, std::string_view stored) {
  if (!IsStringType(type)) return stored.size();
  // ASCII text is one byte a character in every code page: half its size.
  bool ascii = true;
  for (size_t i = 0; i + 1 < stored.size() && ascii; i += 2) {
    ascii = static_cast<unsigned char>(stored[i]) < 0x80 && stored[i + 1] == 0;
  }
  if (ascii) return stored.size();
  return std::max(stored.size(), AnsiLength(BytesToWide(stored)));
}

}  // namespace orvik::posix
