// A loaded hive's changes made to an image of its private copy, for UNLOAD
// to write back in place: the store keeps them as rows of the hive's keys
// that changed (each with all its values), marks of those removed, and
// ordinary rows of keys created under its keys. Removed trees go first, so
// that their space is there for what is added; then the new trees; then
// every key with a row takes what its row holds.
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/posix/hive/hive_patcher.h"
#include "platform/posix/key_path.h"
#include "platform/posix/loaded/registry_tree.h"

namespace orvik::posix {

namespace {

// A row of the store as the patcher takes a key.
LONG ReadContent(SqliteStore& store, KeyId id, hive::KeyContent* content) {
  KeyData data;
  if (LONG rc = store.GetKeyData(id, &data); rc != ERROR_SUCCESS) return rc;
  content->name = std::move(data.name);
  content->class_name = data.class_name.value_or(u"");
  content->security = std::move(data.security);
  content->last_write = data.last_write;
  std::vector<ValueEntry> values;
  if (LONG rc = store.ListValues(id, &values); rc != ERROR_SUCCESS) return rc;
  content->values.clear();
  content->values.reserve(values.size());
  for (ValueEntry& value : values) {
    hive::ValueContent& out = content->values.emplace_back();
    out.name = std::move(value.name);
    out.type = value.type;
    if (value.data) {
      out.data = std::move(*value.data);
    } else if (LONG rc = store.ReadValueData(value.ref, &out.data); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return ERROR_SUCCESS;
}

// A key created under the hive's key at `parent`, with its tree.
LONG AddTree(SqliteStore& store, hive::HivePatcher& patcher, uint32_t parent, KeyId id, int depth) {
  if (depth > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  hive::KeyContent content;
  if (LONG rc = ReadContent(store, id, &content); rc != ERROR_SUCCESS) return rc;
  uint32_t cell = 0;
  if (LONG rc = patcher.AddKey(parent, content, &cell); rc != ERROR_SUCCESS) return rc;
  std::vector<ChildEntry> children;
  if (LONG rc = store.ListChildren(id, &children); rc != ERROR_SUCCESS) return rc;
  for (const ChildEntry& child : children) {
    if (LONG rc = AddTree(store, patcher, cell, child.id, depth + 1); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegistryTree::PatchHive(const LoadedHive& hive, hive::HivePatcher& patcher) {
  const IdRange range = HiveIdRange(hive.generation);
  std::vector<std::pair<KeyId, KeyId>> removed;
  if (LONG rc = store_->RemovedInRange(range.low, range.high, &removed); rc != ERROR_SUCCESS) {
    return rc;
  }
  // A removed key's subkeys went before it: only the top of a removed tree
  // is taken out of its parent's list, and its whole tree with it.
  std::unordered_set<KeyId> gone;
  for (const auto& [key, parent] : removed) gone.insert(key);
  for (const auto& [key, parent] : removed) {
    if (gone.count(parent) != 0) continue;
    if (LONG rc = patcher.RemoveKey(HiveCell(parent), HiveCell(key)); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  std::vector<std::pair<KeyId, KeyId>> added;
  if (LONG rc = store_->AddedToRange(range.low, range.high, &added); rc != ERROR_SUCCESS) {
    return rc;
  }
  for (const auto& [key, parent] : added) {
    if (LONG rc = AddTree(*store_, patcher, HiveCell(parent), key, 1); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  std::vector<KeyId> rows;
  if (LONG rc = store_->RowsInRange(range.low, range.high, &rows); rc != ERROR_SUCCESS) return rc;
  hive::KeyContent content;
  for (const KeyId key : rows) {
    if (LONG rc = ReadContent(*store_, key, &content); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = patcher.UpdateKey(HiveCell(key), content); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix
