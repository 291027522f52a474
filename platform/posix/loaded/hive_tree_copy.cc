// Copying between a hive file and a key tree of the store.
#include "platform/posix/loaded/hive_tree_copy.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_walk.h"
#include "platform/posix/key_path.h"

namespace orvik::posix {

namespace {

using hive::HiveWriter;
using hive::KeyNode;
using hive::ValueNode;

class CopyVisitor : public hive::HiveVisitor {
 public:
  CopyVisitor(Tree& tree, KeyId target) : tree_(tree), target_(target) {}

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
      if (key.name.size() > kMaxKeyNameLength) return ERROR_REGISTRY_CORRUPT;
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
    if (value.name.size() > kMaxValueNameLength) return ERROR_REGISTRY_CORRUPT;
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

// Copies a key's tree from a hive file into the writer as it is.
class FileCopyVisitor : public hive::HiveVisitor {
 public:
  explicit FileCopyVisitor(HiveWriter& writer) : writer_(writer) {}
  LONG EnterKey(const KeyNode& key, const std::u16string& class_name,
                const std::string& security) override {
    return writer_.BeginKey({key.name, class_name, security, key.last_write});
  }
  LONG Value(const ValueNode& value, const std::string& data) override {
    return writer_.AddValue(value.name, value.type, data);
  }
  LONG LeaveKey(const KeyNode&) override { return writer_.EndKey(); }

 private:
  HiveWriter& writer_;
};

LONG WriteTree(Tree& tree, KeyId key, const KeyData& data, int depth, HiveWriter& writer) {
  // Deeper trees than a hive may hold would not restore.
  if (depth > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  // A tree that still is as a hive file has it goes straight across.
  uint32_t cell = 0;
  if (const hive::HiveReader* reader = tree.UnchangedHiveKey(key, &cell);
      reader != nullptr && depth > 0) {
    FileCopyVisitor visitor(writer);
    return hive::WalkHiveKey(*reader, cell, depth, visitor);
  }
  if (LONG rc = writer.BeginKey(
          {data.name, data.class_name.value_or(u""), data.security, data.last_write});
      rc != ERROR_SUCCESS) {
    return rc;
  }
  {
    std::vector<ValueEntry> values;
    if (LONG rc = tree.ListValues(key, &values); rc != ERROR_SUCCESS) return rc;
    std::string large;
    for (const ValueEntry& value : values) {
      if (!value.data) {
        if (LONG rc = tree.ReadValueData(value.ref, &large); rc != ERROR_SUCCESS) return rc;
      }
      if (LONG rc = writer.AddValue(value.name, value.type, value.data ? *value.data : large);
          rc != ERROR_SUCCESS) {
        return rc;
      }
    }
  }
  std::vector<ChildEntry> children;
  if (LONG rc = tree.ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  KeyData child_data;
  for (const ChildEntry& child : children) {
    if (LONG rc = tree.GetKeyData(child.id, &child_data); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = WriteTree(tree, child.id, child_data, depth + 1, writer); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return writer.EndKey();
}

}  // namespace

LONG CopyHiveIntoKey(const hive::HiveReader& reader, Tree& tree, KeyId key) {
  CopyVisitor visitor(tree, key);
  return hive::WalkHive(reader, visitor);
}

LONG WriteKeyAsHive(Tree& tree, KeyId key, HiveWriter& writer, const std::u16string* root_name) {
  KeyData data;
  if (LONG rc = tree.GetKeyData(key, &data); rc != ERROR_SUCCESS) return rc;
  if (root_name != nullptr) data.name = *root_name;
  return WriteTree(tree, key, data, 0, writer);
}

LONG RemoveKeyTree(Tree& tree, KeyId key, bool self) {
  if (!self) {
    std::vector<ValueEntry> values;
    if (LONG rc = tree.ListValues(key, &values); rc != ERROR_SUCCESS) return rc;
    for (const ValueEntry& value : values) {
      if (LONG rc = tree.DeleteValue(key, value.name); rc != ERROR_SUCCESS) return rc;
    }
  }
  std::vector<ChildEntry> children;
  if (LONG rc = tree.ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  for (const ChildEntry& child : children) {
    if (LONG rc = RemoveKeyTree(tree, child.id, true); rc != ERROR_SUCCESS) return rc;
  }
  return self ? tree.DeleteKey(key) : ERROR_SUCCESS;
}

}  // namespace orvik::posix
