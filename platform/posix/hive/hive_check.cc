// The whole-hive check before a hive is served in place.
#include "platform/posix/hive/hive_check.h"

#include <algorithm>
#include <string>
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

  LONG Key(uint32_t cell, uint32_t parent, int depth) {
    if (depth > kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
    // Key cells are 8-aligned, so one bit per 8 bytes marks each one.
    const size_t bit = cell / 8;
    if (bit >= seen_.size()) seen_.resize(bit + 1, false);
    if (seen_[bit]) return ERROR_REGISTRY_CORRUPT;
    seen_[bit] = true;
    KeyNode key;
    if (LONG rc = reader_.ReadKey(cell, &key); rc != ERROR_SUCCESS) return rc;
    if (depth > 0 && (key.parent != parent || key.name.size() > kMaxKeyName)) {
      return ERROR_REGISTRY_CORRUPT;
    }
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
      if (LONG rc = reader_.ReadValueData(value, &bytes_); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = reader_.ListSubkeys(key, &cells); rc != ERROR_SUCCESS) return rc;
    // No two subkeys alike: a name must find one key.
    std::vector<std::u16string> names;
    names.reserve(cells.size());
    for (const uint32_t child : cells) {
      if (LONG rc = Key(child, cell, depth + 1); rc != ERROR_SUCCESS) return rc;
      names.push_back(FoldName(last_name_));
    }
    std::sort(names.begin(), names.end());
    if (std::adjacent_find(names.begin(), names.end()) != names.end()) {
      return ERROR_REGISTRY_CORRUPT;
    }
    last_name_ = std::move(key.name);
    return ERROR_SUCCESS;
  }

 private:
  const HiveReader& reader_;
  std::vector<bool> seen_;
  uint32_t last_security_ = 0xFFFFFFFF;
  std::u16string last_name_;  // of the key checked last
  std::u16string text_;
  std::string bytes_;
};

}  // namespace

LONG CheckHiveTree(const HiveReader& reader) {
  Checker checker(reader);
  return checker.Key(reader.root(), 0, 0);
}

}  // namespace orvik::posix::hive
