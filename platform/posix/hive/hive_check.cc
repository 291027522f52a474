// The whole-hive check before a hive is served in place.
#include "platform/posix/hive/hive_check.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_walk.h"

namespace orvik::posix::hive {

namespace {

// The longest names a registry path can carry.
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

class Checker {
 public:
  explicit Checker(const HiveReader& reader) : reader_(reader) {}

  // Each key's subkeys are checked, their parent fields and names, before
  // any of them is entered: a key listed twice under one key has a twin
  // name, one listed under another key has that key's cell in its parent
  // field, and the root is no key's subkey. So every key is entered once,
  // and no table of the keys seen is needed.
  LONG Key(const KeyNode& key, int depth) {
    if (depth > kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
    if (LONG rc = reader_.ReadClass(key, &text_); rc != ERROR_SUCCESS) return rc;
    // Keys share descriptors: each is read once.
    if (key.security != last_security_) {
      if (LONG rc = reader_.ReadSecurity(key, &bytes_); rc != ERROR_SUCCESS) return rc;
      last_security_ = key.security;
    }
    std::vector<uint32_t> cells;
    if (LONG rc = reader_.ListValues(key, &cells); rc != ERROR_SUCCESS) return rc;
    ValueNode value;
    for (const uint32_t value_cell : cells) {
      if (LONG rc = reader_.ReadValue(value_cell, &value); rc != ERROR_SUCCESS) return rc;
      if (value.name.size() > kMaxValueName) return ERROR_REGISTRY_CORRUPT;
      if (LONG rc = reader_.CheckValueData(value); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = reader_.ListSubkeys(key, &cells); rc != ERROR_SUCCESS) return rc;
    // Only the cells stay while the subkeys are entered, so that memory
    // does not grow with the length of a list.
    bool ordered = true;  // names strictly ascending: no twins
    std::u16string previous;
    KeyNode child;
    for (size_t i = 0; i < cells.size(); ++i) {
      const uint32_t child_cell = cells[i];
      if (child_cell == reader_.root()) return ERROR_REGISTRY_CORRUPT;
      if (LONG rc = reader_.ReadKey(child_cell, &child); rc != ERROR_SUCCESS) return rc;
      if (child.parent != key.cell || child.name.size() > kMaxKeyName) {
        return ERROR_REGISTRY_CORRUPT;
      }
      ordered = ordered && (i == 0 || CompareFoldedNames(previous, child.name) < 0);
      previous = std::move(child.name);
    }
    if (!ordered) {
      std::vector<std::u16string> names;
      names.reserve(cells.size());
      for (const uint32_t child_cell : cells) {
        if (LONG rc = reader_.ReadKey(child_cell, &child); rc != ERROR_SUCCESS) return rc;
        names.push_back(FoldName(child.name));
      }
      std::sort(names.begin(), names.end());
      if (std::adjacent_find(names.begin(), names.end()) != names.end()) {
        return ERROR_REGISTRY_CORRUPT;
      }
    }
    for (const uint32_t child_cell : cells) {
      if (LONG rc = reader_.ReadKey(child_cell, &child); rc != ERROR_SUCCESS) return rc;
      if (LONG rc = Key(child, depth + 1); rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
  }

 private:
  const HiveReader& reader_;
  uint32_t last_security_ = 0xFFFFFFFF;
  std::u16string text_;
  std::string bytes_;
};

}  // namespace

LONG CheckHiveTree(const HiveReader& reader) {
  KeyNode root;
  if (LONG rc = reader.ReadKey(reader.root(), &root); rc != ERROR_SUCCESS) return rc;
  Checker checker(reader);
  return checker.Key(root, 0);
}

}  // namespace orvik::posix::hive
