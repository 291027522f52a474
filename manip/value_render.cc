// Value rendering: turns the data of one value into its text form, by the
// value's type code.
#include "manip/value_render.h"

#include <cstdint>

#include "manip/value_types.h"
#include "registry/exception.h"

namespace orvik {

namespace {

// The data of a value of `size` bytes (from ValueDataSize), or nothing when
// it has none or can no longer be queried.
std::string ReadBytes(TRegistry& registry, const std::string& name, int64_t size, DataKind& kind) {
  kind = dkUnknown;
  if (size <= 0) return std::string();
  std::string data(static_cast<size_t>(size), '\0');
  const DWORD stored = registry.ReadValueData(name, data.data(), static_cast<DWORD>(size), kind);
  data.resize(stored);
  return data;
}

std::string StringText(TRegistry& registry, const std::string& name) {
  const int64_t size = registry.ValueDataSize(name);
  if (size <= 0) return std::string(EmptyDataMarker());
  DataKind kind = dkUnknown;
  std::string text = ReadBytes(registry, name, size, kind);
  if (kind == dkString || kind == dkExpandString) {
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
  }
  return text;
}

// Every NUL becomes the two characters "\0"; characters after the last NUL
// of data that does not end with one are kept as they are.
std::string MultiStringText(TRegistry& registry, const std::string& name) {
  const int64_t size = registry.ValueDataSize(name);
  if (size <= 0) return std::string(EmptyDataMarker());
  DataKind kind = dkUnknown;
  const std::string data = ReadBytes(registry, name, size, kind);
  std::string text;
  text.reserve(data.size() + data.size() / 4);
  for (const char c : data) {
    if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  return text;
}

// The 4 bytes, least significant first; bytes the value does not have are zero.
std::string IntegerText(TRegistry& registry, const std::string& name) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  DataKind kind = dkUnknown;
  registry.ReadValueData(name, bytes, sizeof bytes, kind);
  const uint32_t pattern = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 |
                           static_cast<uint32_t>(bytes[3]) << 24;
  return std::to_string(static_cast<int32_t>(pattern));
}

}  // namespace

std::string ReadValueAsText(TRegistry& registry, const std::string& value_name) {
  const DWORD type = QueryValueType(registry, value_name);
  DataKind kind = dkUnknown;
  switch (type) {
    case REG_NONE:
      return NarrowText(ReadBytes(registry, value_name, registry.ValueDataSize(value_name), kind));
    case REG_SZ:
    case REG_EXPAND_SZ:
      return StringText(registry, value_name);
    case REG_BINARY:
      return BytesToHexText(
          ReadBytes(registry, value_name, registry.ValueDataSize(value_name), kind));
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      return IntegerText(registry, value_name);
    case REG_MULTI_SZ:
      return MultiStringText(registry, value_name);
    default:
      return std::string();
  }
}

std::string ReadValueTypeAndText(TRegistry& registry, const std::string& value_name, DWORD& type) {
  std::string data(256, '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result = RegQueryValueExA(registry.ActiveHandle(), value_name.c_str(), nullptr,
                                         &type, reinterpret_cast<LPBYTE>(data.data()), &size);
    if (result == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      continue;
    }
    if (result != ERROR_SUCCESS) {
      throw Exception("Unknown type for " + registry.ActivePath() + "\\" + value_name);
    }
    data.resize(size);
    return RenderValueText(value_name, type, data);
  }
}

std::string RenderValueText(const std::string& value_name, DWORD type, std::string_view data) {
  switch (type) {
    case REG_NONE:
      return NarrowText(data);
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (data.empty()) return std::string(EmptyDataMarker());
      return std::string(data.substr(0, data.find('\0')));
    case REG_BINARY:
      return BytesToHexText(data);
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
      // The 4 bytes, least significant first; bytes the value lacks are zero.
      if (data.size() > 4) throw ERegistryException("Failed to get data for '" + value_name + "'");
      uint32_t pattern = 0;
      for (size_t i = data.size(); i-- > 0;) {
        pattern = pattern << 8 | static_cast<unsigned char>(data[i]);
      }
      return std::to_string(static_cast<int32_t>(pattern));
    }
    case REG_MULTI_SZ: {
      if (data.empty()) return std::string(EmptyDataMarker());
      std::string text;
      text.reserve(data.size() + data.size() / 4);
      for (const char c : data) {
        if (c == '\0') {
          text += "\\0";
        } else {
          text += c;
        }
      }
      return text;
    }
    default:
      return std::string();
  }
}

std::string BytesToHexText(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string NarrowText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    if (c != '\0') text += c;
  }
  return text;
}

}  // namespace orvik
