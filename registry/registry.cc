// TRegistry: entering, listing, testing and removing keys, and reading and
// writing values, over the platform's ANSI registry calls.
#include "registry/registry.h"

#include <cstring>
#include <vector>

#include "platform/key_removal.h"

namespace orvik {

namespace {

// Enumeration buffers grow up to this many characters when the platform
// says a name does not fit (a name counted in characters may need more
// bytes in a multi-byte ANSI code page).
constexpr DWORD kMaxNameBuffer = 1u << 20;

// Counts and longest-name lengths of a key, as RegQueryInfoKeyA reports them.
struct KeyInfo {
  DWORD sub_keys = 0;
  DWORD max_sub_key_len = 0;
  DWORD values = 0;
  DWORD max_value_name_len = 0;
  DWORD max_value_len = 0;
  FILETIME last_write = {0, 0};
};

LONG QueryKeyInfo(HKEY key, KeyInfo& info) {
  info = KeyInfo{};
  return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &info.sub_keys, &info.max_sub_key_len,
                          nullptr, &info.values, &info.max_value_name_len, &info.max_value_len,
                          nullptr, &info.last_write);
}

// Calls enum_step(buffer, &length) for one index with the shared buffer,
// growing the buffer while the platform reports that the name does not fit.
// Returns the platform result of the last call.
template <typename EnumStep>
LONG EnumerateName(std::vector<char>& buffer, EnumStep enum_step) {
  for (;;) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG result = enum_step(buffer.data(), &length);
    if (result != ERROR_MORE_DATA || buffer.size() >= kMaxNameBuffer) return result;
    buffer.resize(buffer.size() * 2);
  }
}

std::string TextUpToZero(const std::vector<char>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

}  // namespace

TRegistry::TRegistry() : TRegistry(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(DWORD access_mask)
    : root_handle_(HKEY_CURRENT_USER), access_mask_(access_mask) {}

TRegistry::~TRegistry() { LeaveKey(); }

HKEY TRegistry::BaseFor(const std::string& path, std::string& remaining, bool& relative) const {
  relative = path.empty() || path.front() != '\\';
  remaining = relative ? path : path.substr(1);
  return relative && active_handle_ != nullptr ? active_handle_ : root_handle_;
}

LONG TRegistry::CloseKey(HKEY key) const {
  if (key == root_handle_) return ERROR_SUCCESS;
  return RegCloseKey(key);
}

HKEY TRegistry::OpenSubKey(const std::string& path) {
  std::string remaining;
  bool relative = false;
  const HKEY base = BaseFor(path, remaining, relative);
  HKEY key = nullptr;
  last_error_ = RegOpenKeyExA(base, remaining.c_str(), 0, access_mask_, &key);
  return last_error_ == ERROR_SUCCESS ? key : nullptr;
}

void TRegistry::SelectRoot(HKEY root) {
  if (root == root_handle_) return;
  // Left first: the entered key may be the old root's own handle.
  LeaveKey();
  root_handle_ = root;
}

bool TRegistry::EnterWith(const std::string& path, bool create, DWORD mask) {
  std::string remaining;
  bool relative = false;
  const HKEY base = BaseFor(path, remaining, relative);
  HKEY key = nullptr;
  if (create && !remaining.empty()) {
    DWORD disposition = 0;
    last_error_ = RegCreateKeyExA(base, remaining.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  mask, nullptr, &key, &disposition);
  } else {
    last_error_ = RegOpenKeyExA(base, remaining.c_str(), 0, mask, &key);
  }
  if (last_error_ != ERROR_SUCCESS) return false;

  std::string new_path =
      relative && active_handle_ != nullptr ? active_path_ + "\\" + remaining : remaining;
  access_mask_ = mask;  // EnterKeyReadOnly narrows it for good
  const LONG open_result = last_error_;
  LeaveKey();
  last_error_ = open_result;
  active_handle_ = key;
  active_path_ = std::move(new_path);
  return true;
}

bool TRegistry::EnterKey(const std::string& path, bool create) {
  return EnterWith(path, create, access_mask_);
}

bool TRegistry::EnterKeyReadOnly(const std::string& path) {
  return EnterWith(path, false, KEY_READ);
}

void TRegistry::LeaveKey() {
  if (active_handle_ == nullptr) return;
  last_error_ = CloseKey(active_handle_);
  active_handle_ = nullptr;
  active_path_.clear();
}

bool TRegistry::KeyPresent(const std::string& path) {
  const HKEY key = OpenSubKey(path);
  if (key == nullptr) return false;
  CloseKey(key);
  return true;
}

void TRegistry::ListSubKeys(TStringList& list) {
  list.clear();
  KeyInfo info;
  last_error_ = QueryKeyInfo(active_handle_, info);
  if (last_error_ != ERROR_SUCCESS) return;
  std::vector<char> buffer(static_cast<size_t>(info.max_sub_key_len) + 1);
  for (DWORD index = 0; index < info.sub_keys; ++index) {
    last_error_ = EnumerateName(buffer, [&](char* name, DWORD* length) {
      return RegEnumKeyExA(active_handle_, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
    if (last_error_ == ERROR_SUCCESS) list.push_back(TextUpToZero(buffer));
  }
}

void TRegistry::ListValueNames(TStringList& list) {
  list.clear();
  KeyInfo info;
  last_error_ = QueryKeyInfo(active_handle_, info);
  if (last_error_ != ERROR_SUCCESS) return;
  std::vector<char> buffer(static_cast<size_t>(info.max_value_name_len) + 1);
  for (DWORD index = 0; index < info.values; ++index) {
    last_error_ = EnumerateName(buffer, [&](char* name, DWORD* length) {
      return RegEnumValueA(active_handle_, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
    if (last_error_ == ERROR_SUCCESS) list.push_back(TextUpToZero(buffer));
  }
}

bool TRegistry::HasChildKeys() {
  KeyInfo info;
  last_error_ = QueryKeyInfo(active_handle_, info);
  return last_error_ == ERROR_SUCCESS && info.sub_keys > 0;
}

bool TRegistry::ValuePresent(const std::string& name) { return ValueDataSize(name) >= 0; }

int64_t TRegistry::ValueDataSize(const std::string& name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  last_error_ = RegQueryValueExA(active_handle_, name.c_str(), nullptr, &type, nullptr, &size);
  return last_error_ == ERROR_SUCCESS ? static_cast<int64_t>(size) : -1;
}

DWORD TRegistry::ReadValueData(const std::string& name, void* buffer, DWORD buffer_size,
                               DataKind& kind) {
  DWORD type = REG_NONE;
  DWORD size = buffer_size;
  last_error_ = RegQueryValueExA(active_handle_, name.c_str(), nullptr, &type,
                                 static_cast<LPBYTE>(buffer), &size);
  if (last_error_ != ERROR_SUCCESS) {
    throw ERegistryException("Failed to get data for '" + name + "'");
  }
  switch (type) {
    case REG_SZ:
      kind = dkString;
      break;
    case REG_EXPAND_SZ:
      kind = dkExpandString;
      break;
    case REG_DWORD:
      kind = dkInteger;
      break;
    case REG_BINARY:
      kind = dkBinary;
      break;
    default:
      kind = dkUnknown;
      break;
  }
  return size;
}

std::string TRegistry::ReadStringValue(const std::string& name) {
  const int64_t size = ValueDataSize(name);
  if (size <= 0) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  DataKind kind = dkUnknown;
  const DWORD stored = ReadValueData(name, text.data(), static_cast<DWORD>(size), kind);
  if (kind != dkString && kind != dkExpandString) {
    throw ERegistryException("Invalid data type for '" + name + "'");
  }
  text.resize(stored);
  const size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

int32_t TRegistry::ReadIntegerValue(const std::string& name) {
  unsigned char bytes[4] = {0, 0, 0, 0};
  DataKind kind = dkUnknown;
  ReadValueData(name, bytes, sizeof bytes, kind);
  if (kind != dkInteger) throw ERegistryException("Invalid data type for '" + name + "'");
  const uint32_t pattern = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 |
                           static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(pattern);
}

void TRegistry::WriteStringValue(const std::string& name, const std::string& text) {
  last_error_ = RegSetValueExA(active_handle_, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
  if (last_error_ != ERROR_SUCCESS) {
    throw ERegistryException("Failed to set data for '" + name + "'");
  }
}

bool TRegistry::RemoveValue(const std::string& name) {
  last_error_ = RegDeleteValueA(active_handle_, name.c_str());
  return last_error_ == ERROR_SUCCESS;
}

bool TRegistry::RemoveKeyTree(const std::string& path) {
  // A key the registry never removes keeps its whole tree: removing the
  // subkeys first and then failing on the key would do half the work.
  {
    std::string remaining;
    bool relative = false;
    const HKEY base = BaseFor(path, remaining, relative);
    if (const LONG refused = KeyRemovable(base, remaining.c_str()); refused != ERROR_SUCCESS) {
      last_error_ = refused;
      return false;
    }
  }
  constexpr int kMaxPasses = 5;
  for (int pass = 1;; ++pass) {
    const uint64_t removed_before = removed_keys_;
    if (RemoveKeyTreeOnce(path)) return true;
    // Only a key that still has subkeys is worth another pass, and only
    // while passes make progress: a subkey that may not be removed stays.
    const LONG failure = last_error_;
    if (pass == kMaxPasses || failure != ERROR_ACCESS_DENIED || removed_keys_ == removed_before ||
        !HasSubKeysAt(path)) {
      last_error_ = failure;
      return false;
    }
  }
}

bool TRegistry::HasSubKeysAt(const std::string& path) {
  const HKEY key = OpenSubKey(path);
  if (key == nullptr) return false;
  KeyInfo info;
  const bool has = QueryKeyInfo(key, info) == ERROR_SUCCESS && info.sub_keys > 0;
  CloseKey(key);
  return has;
}

bool TRegistry::RemoveKeyTreeOnce(const std::string& path) {
  std::string remaining;
  bool relative = false;
  BaseFor(path, remaining, relative);

  const HKEY saved_active = active_handle_;
  const HKEY key = OpenSubKey(path);
  if (key != nullptr) {
    // Children resolve their relative names against the key being removed.
    struct Restore {
      TRegistry& registry;
      HKEY saved;
      HKEY opened;
      ~Restore() {
        registry.active_handle_ = saved;
        registry.CloseKey(opened);
      }
    } restore{*this, saved_active, key};
    active_handle_ = key;

    KeyInfo info;
    if (QueryKeyInfo(key, info) == ERROR_SUCCESS) {
      std::vector<char> buffer(static_cast<size_t>(info.max_sub_key_len) + 1);
      for (DWORD index = info.sub_keys; index-- > 0;) {
        const LONG found = EnumerateName(buffer, [&](char* name, DWORD* length) {
          return RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
        });
        if (found == ERROR_SUCCESS) RemoveKeyTreeOnce(TextUpToZero(buffer));
      }
    }
  }

  const HKEY base = relative && active_handle_ != nullptr ? active_handle_ : root_handle_;
  last_error_ = RegDeleteKeyA(base, remaining.c_str());
  if (last_error_ != ERROR_SUCCESS) return false;
  ++removed_keys_;
  return true;
}

bool TRegistry::SaveHive(const std::string& path, const std::string& file_name) {
  const HKEY key = OpenSubKey(path);
  if (key == nullptr) return false;
  last_error_ = RegSaveKeyA(key, file_name.c_str(), nullptr);
  CloseKey(key);
  return last_error_ == ERROR_SUCCESS;
}

bool TRegistry::RestoreHive(const std::string& path, const std::string& file_name) {
  const HKEY key = OpenSubKey(path);
  if (key == nullptr) return false;
  last_error_ = RegRestoreKeyA(key, file_name.c_str(), 0);
  CloseKey(key);
  return last_error_ == ERROR_SUCCESS;
}

namespace {

// The hive calls take a path below the root: one leading backslash goes.
std::string BelowRoot(const std::string& path) {
  return !path.empty() && path.front() == '\\' ? path.substr(1) : path;
}

}  // namespace

bool TRegistry::LoadHive(const std::string& path, const std::string& file_name) {
  last_error_ = RegLoadKeyA(root_handle_, BelowRoot(path).c_str(), file_name.c_str());
  return last_error_ == ERROR_SUCCESS;
}

bool TRegistry::UnloadHive(const std::string& path) {
  last_error_ = RegUnLoadKeyA(root_handle_, BelowRoot(path).c_str());
  return last_error_ == ERROR_SUCCESS;
}

}  // namespace orvik
