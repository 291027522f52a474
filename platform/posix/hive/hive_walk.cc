// The depth-first walk over a whole hive.
#include "platform/posix/hive/hive_walk.h"

#include <vector>

namespace orvik::posix::hive {

namespace {

class Walker {
 public:
  Walker(const HiveReader& reader, HiveVisitor& visitor) : reader_(reader), visitor_(visitor) {}

  LONG Key(uint32_t cell, int depth) {
    if (depth > kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
    // Key cells are 8-aligned, so one bit per 8 bytes marks each one.
    const size_t bit = cell / 8;
    if (bit >= seen_.size()) seen_.resize(bit + 1, false);
    if (seen_[bit]) return ERROR_REGISTRY_CORRUPT;
    seen_[bit] = true;
    KeyNode key;
    if (LONG rc = reader_.ReadKey(cell, &key); rc != ERROR_SUCCESS) return rc;
    std::u16string class_name;
    if (LONG rc = reader_.ReadClass(key, &class_name); rc != ERROR_SUCCESS) return rc;
    std::string security;
    if (LONG rc = reader_.ReadSecurity(key, &security); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = visitor_.EnterKey(key, class_name, security); rc != ERROR_SUCCESS) return rc;
    std::vector<uint32_t> cells;
    if (LONG rc = reader_.ListValues(key, &cells); rc != ERROR_SUCCESS) return rc;
    ValueNode value;
    std::string data;
    for (const uint32_t value_cell : cells) {
      if (LONG rc = reader_.ReadValue(value_cell, &value); rc != ERROR_SUCCESS) return rc;
      if (LONG rc = reader_.ReadValueData(value, &data); rc != ERROR_SUCCESS) return rc;
      if (LONG rc = visitor_.Value(value, data); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = reader_.ListSubkeys(key, &cells); rc != ERROR_SUCCESS) return rc;
    for (const uint32_t child : cells) {
      if (LONG rc = Key(child, depth + 1); rc != ERROR_SUCCESS) return rc;
    }
    return visitor_.LeaveKey(key);
  }

 private:
  const HiveReader& reader_;
  HiveVisitor& visitor_;
  std::vector<bool> seen_;
};

}  // namespace

LONG WalkHive(const HiveReader& reader, HiveVisitor& visitor) {
  return WalkHiveKey(reader, reader.root(), 0, visitor);
}

LONG WalkHiveKey(const HiveReader& reader, uint32_t cell, int depth, HiveVisitor& visitor) {
  Walker walker(reader, visitor);
  return walker.Key(cell, depth);
}

}  // namespace orvik::posix::hive
