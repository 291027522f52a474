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

class CheckVisitor : public HiveVisitor {
 public:
  explicit CheckVisitor(uint32_t root) : root_(root) {}

  LONG EnterKey(const KeyNode& key, const std::u16string&, const std::string&) override {
    if (!open_.empty()) {
      Open& parent = open_.back();
      if (key.parent != parent.cell || key.name.size() > kMaxKeyName) {
        return ERROR_REGISTRY_CORRUPT;
      }
      parent.children.push_back(FoldName(key.name));
    } else if (key.cell != root_) {
      return ERROR_REGISTRY_CORRUPT;
    }
    open_.push_back(Open{key.cell, {}});
    return ERROR_SUCCESS;
  }

  LONG Value(const ValueNode& value, const std::string&) override {
    return value.name.size() > kMaxValueName ? ERROR_REGISTRY_CORRUPT : ERROR_SUCCESS;
  }

  LONG LeaveKey(const KeyNode&) override {
    std::vector<std::u16string>& names = open_.back().children;
    std::sort(names.begin(), names.end());
    const bool twins = std::adjacent_find(names.begin(), names.end()) != names.end();
    open_.pop_back();
    return twins ? ERROR_REGISTRY_CORRUPT : ERROR_SUCCESS;
  }

 private:
  struct Open {
    uint32_t cell;
    std::vector<std::u16string> children;  // folded names
  };
  uint32_t root_;
  std::vector<Open> open_;
};

}  // namespace

LONG CheckHiveTree(const HiveReader& reader) {
  CheckVisitor visitor(reader.root());
  return WalkHive(reader, visitor);
}

}  // namespace orvik::posix::hive
