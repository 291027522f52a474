// Reading and writing values byte for byte through RegQueryValueExW and
// RegSetValueExW.
#include "manip/value_copy.h"

namespace orvik {

namespace {

// Room for most values, so that one call reads them.
constexpr size_t kFirstBufferSize = 256;

}  // namespace

WideName ToWideName(const std::string& name) {
  // -1: the terminating zero is converted too, so the empty name works.
  const int length = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
  if (length <= 1) return WideName();
  WideName wide(static_cast<size_t>(length), WCHAR{0});
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length) - 1);
  return wide;
}

LONG ReadStoredValue(TRegistry& registry, const WideName& name, StoredValueData& value) {
  if (value.data.size() < kFirstBufferSize) value.data.resize(kFirstBufferSize);
  for (;;) {
    DWORD size = static_cast<DWORD>(value.data.size());
    const LONG result = RegQueryValueExW(registry.ActiveHandle(), name.c_str(), nullptr,
                                         &value.type, value.data.data(), &size);
    // The value may grow between the calls of another process: ask again.
    if (result == ERROR_MORE_DATA && size > value.data.size()) {
      value.data.resize(size);
      continue;
    }
    if (result == ERROR_SUCCESS) value.data.resize(size);
    return result;
  }
}

LONG WriteStoredValue(TRegistry& registry, const WideName& name, const StoredValueData& value) {
  static const BYTE kNoData = 0;
  const BYTE* data = value.data.empty() ? &kNoData : value.data.data();
  return RegSetValueExW(registry.ActiveHandle(), name.c_str(), 0, value.type, data,
                        static_cast<DWORD>(value.data.size()));
}

}  // namespace orvik
