// Applying parsed entries through the registry calls.
#include "regedit/reg_apply.h"

#include <algorithm>
#include <vector>

namespace orvik::regedit {

namespace {

std::string RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  return "HKEY_CURRENT_CONFIG";
}

std::string FullName(const RegEntry& entry) {
  return entry.path.empty() ? RootName(entry.root) : RootName(entry.root) + "\\" + entry.path;
}

std::u16string Wide(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int length = static_cast<int>(ansi.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  std::u16string wide(static_cast<size_t>(size > 0 ? size : 0), u'\0');
  if (size > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), size);
  return wide;
}

}  // namespace

RegApplier::~RegApplier() { CloseLevels(0); }

void RegApplier::CloseLevels(size_t keep) {
  while (levels_.size() > keep) {
    RegCloseKey(levels_.back().key);
    levels_.pop_back();
  }
}

LONG RegApplier::Refused(LONG rc, const std::string& what) {
  failure_ = what;
  return rc;
}

LONG RegApplier::Apply(const RegEntry& entry) {
  switch (entry.kind) {
    case RegEntry::Kind::kKey:
      return OpenSection(entry);
    case RegEntry::Kind::kRemoveKey: {
      // The removal may take open keys with it.
      CloseLevels(0);
      current_ = nullptr;
      const LONG rc = RemoveKeyTree(entry.root, entry.path);
      return rc == ERROR_SUCCESS ? rc : Refused(rc, "removing the key " + FullName(entry));
    }
    case RegEntry::Kind::kValue:
      return SetValue(entry);
    case RegEntry::Kind::kRemoveValue:
      return RemoveValue(entry);
  }
  return ERROR_INVALID_PARAMETER;
}

LONG RegApplier::OpenSection(const RegEntry& entry) {
  std::vector<std::string> names;
  for (size_t start = 0; start < entry.path.size();) {
    const size_t end = std::min(entry.path.find('\\', start), entry.path.size());
    names.push_back(entry.path.substr(start, end - start));
    start = end + 1;
  }
  if (entry.root != root_) {
    CloseLevels(0);
    root_ = entry.root;
  }
  size_t shared = 0;
  while (shared < levels_.size() && shared < names.size() &&
         levels_[shared].name == names[shared]) {
    ++shared;
  }
  CloseLevels(shared);
  current_ = nullptr;
  for (size_t i = shared; i < names.size(); ++i) {
    HKEY parent = i == 0 ? root_ : levels_[i - 1].key;
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExA(parent, names[i].c_str(), 0, nullptr, 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr,
                                    &key, nullptr);
    if (rc != ERROR_SUCCESS) {
      CloseLevels(0);
      return Refused(rc, "creating the key " + FullName(entry));
    }
    levels_.push_back(OpenLevel{names[i], key});
  }
  current_ = levels_.empty() ? root_ : levels_.back().key;
  return ERROR_SUCCESS;
}

LONG RegApplier::SetValue(const RegEntry& entry) {
  const auto* data = reinterpret_cast<const BYTE*>(entry.data.data());
  const auto size = static_cast<DWORD>(entry.data.size());
  LONG rc = ERROR_SUCCESS;
  if (entry.exact) {
    const std::u16string name = Wide(entry.name);
    rc = RegSetValueExW(current_, name.c_str(), 0, entry.type, data, size);
  } else {
    rc = RegSetValueExA(current_, entry.name.c_str(), 0, entry.type, data, size);
  }
  if (rc == ERROR_SUCCESS) return rc;
  return Refused(rc, "writing the value \"" + entry.name + "\"");
}

LONG RegApplier::RemoveValue(const RegEntry& entry) {
  // A value that is not there is left alone: a failed removal would spoil
  // the file's changes.
  LONG rc = RegQueryValueExA(current_, entry.name.c_str(), nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueA(current_, entry.name.c_str());
  if (rc == ERROR_SUCCESS) return ERROR_SUCCESS;
  return Refused(rc, "removing the value \"" + entry.name + "\"");
}

LONG RemoveKeyTree(HKEY base, const std::string& path) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(base, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  // Gather the children's names first: removing them shifts the indexes.
  std::vector<std::string> children;
  std::string name(256, '\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    rc = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      --index;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    children.emplace_back(name.data(), length);
  }
  if (rc == ERROR_NO_MORE_ITEMS) rc = ERROR_SUCCESS;
  for (size_t i = 0; rc == ERROR_SUCCESS && i < children.size(); ++i) {
    rc = RemoveKeyTree(key, children[i]);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return rc;
  return RegDeleteKeyA(base, path.c_str());
}

}  // namespace orvik::regedit
