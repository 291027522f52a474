// RegRestoreKeyA: replaces a key's values and subkeys with those of a hive
// file's root, and gives the key the root's class name, security descriptor
// and last-write time. All of it is one transaction: a file that turns out
// not to be a valid hive, at any depth, leaves the registry as it was.
#include <string>
#include <vector>

#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_walk.h"
#include "platform/posix/key_path.h"
#include "platform/posix/key_step.h"
#include "platform/posix/token.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::ChildEntry;
using orvik::posix::KeyId;
using orvik::posix::Tree;
using orvik::posix::ValueEntry;
using orvik::posix::hive::HiveReader;
using orvik::posix::hive::KeyNode;
using orvik::posix::hive::ValueNode;

std::optional<std::u16string> ClassOrNone(const std::u16string& class_name) {
  if (class_name.empty()) return std::nullopt;
  return class_name;
}

LONG DeleteTree(Tree& tree, KeyId key) {
  std::vector<ChildEntry> children;
  if (LONG rc = tree.ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  for (const ChildEntry& child : children) {
    if (LONG rc = DeleteTree(tree, child.id); rc != ERROR_SUCCESS) return rc;
  }
  return tree.DeleteKey(key);
}

// Empties the key: its values and its subkeys go.
LONG ClearKey(Tree& tree, KeyId key) {
  std::vector<ValueEntry> values;
  if (LONG rc = tree.ListValues(key, &values); rc != ERROR_SUCCESS) return rc;
  for (const ValueEntry& value : values) {
    if (LONG rc = tree.DeleteValue(key, value.name); rc != ERROR_SUCCESS) return rc;
  }
  std::vector<ChildEntry> children;
  if (LONG rc = tree.ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  for (const ChildEntry& child : children) {
    if (LONG rc = DeleteTree(tree, child.id); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

class RestoreVisitor : public orvik::posix::hive::HiveVisitor {
 public:
  RestoreVisitor(Tree& tree, KeyId target) : tree_(tree), target_(target) {}

  LONG EnterKey(const KeyNode& key, const std::u16string& class_name,
                const std::string& security) override {
    KeyId id = target_;
    if (open_.empty()) {
      if (LONG rc = tree_.SetKeyClass(id, ClassOrNone(class_name)); rc != ERROR_SUCCESS) {
        return rc;
      }
    } else {
      // A name no path could reach, or a second key of the same name, is
      // not what Windows writes.
      if (key.name.size() > orvik::posix::kMaxKeyNameLength) return ERROR_REGISTRY_CORRUPT;
      const LONG rc = tree_.CreateChild(open_.back(), key.name, ClassOrNone(class_name), &id);
      if (rc != ERROR_SUCCESS) {
        KeyId twin = 0;
        return tree_.FindChild(open_.back(), key.name, &twin) == ERROR_SUCCESS
                   ? ERROR_REGISTRY_CORRUPT
                   : rc;
      }
    }
    if (LONG rc = tree_.SetKeySecurity(id, security); rc != ERROR_SUCCESS) return rc;
    open_.push_back(id);
    return ERROR_SUCCESS;
  }

  LONG Value(const ValueNode& value, const std::string& data) override {
    if (value.name.size() > orvik::posix::kMaxValueNameLength) return ERROR_REGISTRY_CORRUPT;
    return tree_.WriteValue(open_.back(), value.name, value.type, data);
  }

  // After the key's children: creating them touched its time.
  LONG LeaveKey(const KeyNode& key) override {
    const LONG rc = tree_.SetKeyLastWrite(open_.back(), key.last_write);
    open_.pop_back();
    return rc;
  }

 private:
  Tree& tree_;
  KeyId target_;
  std::vector<KeyId> open_;
};

}  // namespace

LONG RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags) {
  if (lpFile == nullptr) return ERROR_INVALID_PARAMETER;
  // A forced restore is what every restore is here; volatile hives and
  // refreshing are not supported.
  if ((dwFlags & ~(REG_FORCE_RESTORE | REG_NO_LAZY_FLUSH)) != 0) return ERROR_INVALID_PARAMETER;
  if (!orvik::posix::PrivilegeEnabled(orvik::posix::kRestorePrivilege)) {
    return ERROR_PRIVILEGE_NOT_HELD;
  }
  std::unique_ptr<HiveReader> reader;
  if (LONG rc = HiveReader::Open(lpFile, &reader); rc != ERROR_SUCCESS) return rc;
  orvik::posix::KeyStep step;
  if (LONG rc = step.Start(hKey, 0, orvik::posix::KeyStep::kWrite); rc != ERROR_SUCCESS) {
    return rc;
  }
  Tree& tree = step.tree();
  const KeyId target = step.handle().key;
  if (LONG rc = ClearKey(tree, target); rc != ERROR_SUCCESS) return step.Finish(rc);
  RestoreVisitor visitor(tree, target);
  return step.Finish(orvik::posix::hive::WalkHive(*reader, visitor));
}
