// Value writing: converts the text form of a value into the bytes its type
// stores and writes them with one RegSetValueExA call on the entered key.
#include "manip/value_write.h"

#include <string_view>

#include "manip/value_render.h"
#include "platform/ansi_text.h"

namespace orvik {

namespace {

[[noreturn]] void RejectInteger(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid integer value");
}

// The value of one hexadecimal digit, or -1.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// The unnamed value is addressed with a null name.
LPCSTR PlatformValueName(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

LONG WriteBytes(TRegistry& registry, const std::string& value_name, DWORD type_code,
                std::string_view bytes) {
  return RegSetValueExA(registry.ActiveHandle(), PlatformValueName(value_name), 0, type_code,
                        reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG WriteString(TRegistry& registry, const std::string& value_name, DWORD type_code,
                 const std::string& text) {
  if (text == kEmptyDataMarker) {
    return RegSetValueExA(registry.ActiveHandle(), PlatformValueName(value_name), 0, type_code,
                          nullptr, 0);
  }
  // c_str() supplies the terminating NUL.
  return WriteBytes(registry, value_name, type_code,
                    std::string_view(text.c_str(), text.size() + 1));
}

LONG WriteInteger(TRegistry& registry, const std::string& value_name, DWORD type_code,
                  const std::string& text) {
  // Least significant byte first, for REG_DWORD_BIG_ENDIAN too.
  const auto pattern = static_cast<uint32_t>(TextToInt32(text));
  char bytes[4];
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>((pattern >> (8 * i)) & 0xFFu);
  }
  return WriteBytes(registry, value_name, type_code, std::string_view(bytes, 4));
}

LONG WriteMultiString(TRegistry& registry, const std::string& value_name, DWORD type_code,
                      const std::string& text, const std::string& separator) {
  std::string bytes;
  bytes.reserve(text.size() + 2);
  size_t start = 0;
  while (!separator.empty()) {
    const size_t found = FindAtCharacter(text, separator, start);
    if (found == std::string::npos) break;
    bytes.append(text, start, found - start);
    bytes.push_back('\0');
    start = found + separator.size();
  }
  bytes.append(text, start, std::string::npos);
  bytes.push_back('\0');
  bytes.push_back('\0');
  return WriteBytes(registry, value_name, type_code, bytes);
}

}  // namespace

int32_t TextToInt32(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) RejectInteger(text);

  const bool hex =
      text[i] == '$' || text[i] == 'x' || text[i] == 'X' ||
      (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X'));
  if (hex) {
    i += text[i] == '0' ? 2u : 1u;
    if (i == text.size()) RejectInteger(text);
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0 || value > 0x0FFFFFFFu) RejectInteger(text);
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
  }

  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) RejectInteger(text);
  // Accumulated as a magnitude; the negative range reaches one further.
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDecimalDigit(text[i])) RejectInteger(text);
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) RejectInteger(text);
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::string HexTextToBytes(const std::string& text) {
  // Every digit goes through the integer rule as "$" and the digit, so a
  // stray character is named in the message as "$" followed by it. The
  // partner missing from text of odd length is the empty text, which the rule
  // rejects as "$" alone.
  const auto digit = [&text](size_t index) {
    const std::string one = index < text.size() ? std::string(1, text[index]) : std::string();
    return static_cast<unsigned>(TextToInt32("$" + one));
  };
  std::string bytes;
  bytes.reserve((text.size() + 1) / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const unsigned high = digit(i);
    const unsigned low = digit(i + 1);
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::string WidenText(const std::string& text) {
  std::string bytes(2 * text.size() + 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) bytes[2 * i] = text[i];
  return bytes;
}

LONG WriteValueFromText(TRegistry& registry, const std::string& value_name, const std::string& text,
                        DWORD type_code, const std::string& separator) {
  // "@" is how the command line names the unnamed value.
  static const std::string kUnnamed;
  return WriteValueFromTextLiteralName(registry, value_name == "@" ? kUnnamed : value_name, text,
                                       type_code, separator);
}

LONG WriteValueFromTextLiteralName(TRegistry& registry, const std::string& value_name,
                                   const std::string& text, DWORD type_code,
                                   const std::string& separator) {
  switch (type_code) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return WriteString(registry, value_name, type_code, text);
    case REG_NONE:
      return WriteBytes(registry, value_name, type_code, WidenText(text));
    case REG_BINARY:
      return WriteBytes(registry, value_name, type_code, HexTextToBytes(text));
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      return WriteInteger(registry, value_name, type_code, text);
    case REG_MULTI_SZ:
      return WriteMultiString(registry, value_name, type_code, text, separator);
    default:
      // No text form to write back: the value is left as it is.
      return ERROR_SUCCESS;
  }
}

}  // namespace orvik
