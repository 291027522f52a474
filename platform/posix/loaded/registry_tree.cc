// The registry's tree calls: answered from the store's rows, or from a loaded
// hive's file for its keys that have none.
#include "platform/posix/loaded/registry_tree.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "platform/posix/codepage.h"
#include "platform/posix/key_path.h"

namespace orvik::posix {

RegistryTree::RegistryTree(std::unique_ptr<SqliteStore> store)
    : store_(std::move(store)), mounts_(*store_) {}

LONG RegistryTree::Begin(bool write, uint64_t* stamp) {
  const LONG rc = store_->Begin(write, stamp);
  if (rc == ERROR_SUCCESS) mounts_.SetStamp(*stamp);
  return rc;
}

LONG RegistryTree::WriteHiveKeyRow(const HiveKey& key, KeyId id, KeyId parent,
                                   const KeyData& data) {
  std::vector<ValueEntry> values;
  if (LONG rc = HiveValues(key, &values); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = store_->InsertKeyRow(id, parent, data); rc != ERROR_SUCCESS) return rc;
  const hive::HiveReader& reader = *key.mount->reader;
  std::string large;
  for (const ValueEntry& value : values) {
    if (!value.data) {
      hive::ValueNode node;
      if (LONG rc = reader.ReadValue(HiveCell(value.ref), &node); rc != ERROR_SUCCESS) return rc;
      if (LONG rc = reader.ReadValueData(node, &large); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = store_->WriteValue(id, value.name, value.type, value.data ? *value.data : large);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  // Copying the values is no change of the key.
  return store_->SetKeyLastWrite(id, data.last_write);
}

LONG RegistryTree::Materialize(KeyId key) {
  bool has = false;
  if (LONG rc = mounts_.HasRow(key, &has); rc != ERROR_SUCCESS || has) return rc;
  HiveKey hive_key;
  if (LONG rc = mounts_.ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  KeyData data;
  if (LONG rc = HiveKeyData(hive_key, &data); rc != ERROR_SUCCESS) return rc;
  // The root has its row from the load, so every key here has a parent in
  // the hive (checked at the load to be the key that lists it).
  const KeyId parent = HiveKeyId(hive_key.mount->record.generation, hive_key.node.parent);
  mounts_.ForgetChanges();
  return WriteHiveKeyRow(hive_key, key, parent, data);
}

LONG RegistryTree::KeyExists(KeyId key, bool* exists) {
  if (key >= 0) return store_->KeyExists(key, exists);
  if (LONG rc = mounts_.HasRow(key, exists); rc != ERROR_SUCCESS || *exists) {
    *exists = *exists && rc == ERROR_SUCCESS;
    return rc == ERROR_KEY_DELETED ? ERROR_SUCCESS : rc;
  }
  HiveKey hive_key;
  const LONG rc = mounts_.ReadHiveKey(key, &hive_key);
  *exists = rc == ERROR_SUCCESS;
  return rc == ERROR_KEY_DELETED ? ERROR_SUCCESS : rc;
}

LONG RegistryTree::FindChild(KeyId parent, std::u16string_view name, KeyId* child) {
  // Rows answer first: keys created under a hive key, and hive keys that
  // changed.
  bool alone = false;
  if (parent < 0) {
    if (LONG rc = mounts_.FileAlone(parent, &alone); rc != ERROR_SUCCESS) return rc;
  }
  if (!alone) {
    const LONG found = store_->FindChild(parent, name, child);
    if (found != ERROR_FILE_NOT_FOUND || parent >= 0) return found;
  }
  int64_t generation = HiveGeneration(parent);
  Mount* mount = nullptr;
  if (LONG rc = mounts_.Find(generation, &mount); rc != ERROR_SUCCESS) return rc;
  hive::KeyNode node;
  if (LONG rc = mount->reader->ReadKey(HiveCell(parent), &node); rc != ERROR_SUCCESS) return rc;
  uint32_t cell = 0;
  if (LONG rc = mount->reader->FindSubkey(node, name, &cell); rc != ERROR_SUCCESS) return rc;
  const KeyId id = HiveKeyId(generation, cell);
  bool removed = false;
  if (!alone) {
    if (LONG rc = store_->KeyRemoved(id, &removed); rc != ERROR_SUCCESS) return rc;
  }
  if (removed) return ERROR_FILE_NOT_FOUND;
  *child = id;
  return ERROR_SUCCESS;
}

LONG RegistryTree::CreateChild(KeyId parent, std::u16string_view name,
                               const std::optional<std::u16string>& class_name, KeyId* child) {
  // The parent's row takes the change of its last-write time and gives the
  // new key its descriptor.
  if (parent < 0) {
    if (LONG rc = Materialize(parent); rc != ERROR_SUCCESS) return rc;
    mounts_.ForgetChanges();
  }
  return store_->CreateChild(parent, name, class_name, child);
}

LONG RegistryTree::KeyRemovable(KeyId key) {
  if (IsRoot(key)) return ERROR_ACCESS_DENIED;
  LoadedHive hive;
  const LONG found = store_->FindLoadedHive(key, &hive);
  if (found == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  return found == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : found;
}

LONG RegistryTree::DeleteKey(KeyId key) {
  if (key >= 0) return store_->DeleteKey(key);
  {
    LoadedHive hive;
    const LONG found = store_->FindLoadedHive(key, &hive);
    if (found == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
    if (found != ERROR_FILE_NOT_FOUND) return found;
  }
  std::vector<ChildEntry> children;
  if (LONG rc = ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  if (!children.empty()) return ERROR_ACCESS_DENIED;
  KeyId parent = 0;
  {
    HiveKey hive_key;
    Mount* mount = nullptr;
    if (LONG rc = mounts_.Find(HiveGeneration(key), &mount); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = mount->reader->ReadKey(HiveCell(key), &hive_key.node); rc != ERROR_SUCCESS) {
      return rc;
    }
    parent = HiveKeyId(HiveGeneration(key), hive_key.node.parent);
  }
  // Through the key's row, so that the store removes it as any other and
  // touches the parent's row.
  if (LONG rc = Materialize(parent); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Materialize(key); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = store_->DeleteKey(key); rc != ERROR_SUCCESS) return rc;
  mounts_.ForgetChanges();
  return store_->MarkKeyRemoved(key, parent);
}

LONG RegistryTree::KeyDepth(KeyId key, int* depth) {
  int total = 0;
  KeyId at = key;
  // Each turn climbs through rows or through the hive; the bound keeps a
  // damaged store from looping.
  for (int turn = 0; turn < 4 * kMaxKeyDepth; ++turn) {
    bool has = true;
    if (LONG rc = mounts_.HasRow(at, &has); rc != ERROR_SUCCESS) return rc;
    if (!has) {
      Mount* mount = nullptr;
      if (LONG rc = mounts_.Find(HiveGeneration(at), &mount); rc != ERROR_SUCCESS) return rc;
      uint32_t cell = HiveCell(at);
      int steps = 0;
      while (cell != mount->reader->root()) {
        if (++steps > kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
        hive::KeyNode node;
        if (LONG rc = mount->reader->ReadKey(cell, &node); rc != ERROR_SUCCESS) return rc;
        cell = node.parent;
      }
      total += steps;
      at = mount->record.key;
      continue;
    }
    int rows = 0;
    KeyId top = 0;
    if (LONG rc = store_->KeyDepthInRows(at, &rows, &top); rc != ERROR_SUCCESS) return rc;
    if (top == 0) {
      *depth = total + rows;
      return ERROR_SUCCESS;
    }
    total += rows + 1;
    at = top;
  }
  return ERROR_REGISTRY_CORRUPT;
}

LONG RegistryTree::GetKeyHeader(KeyId key, KeyInfo* info) {
  bool has = true;
  if (LONG rc = mounts_.HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->GetKeyHeader(key, info);
  *info = KeyInfo{};
  HiveKey hive_key;
  if (LONG rc = mounts_.ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  KeyData data;
  if (LONG rc = HiveKeyData(hive_key, &data); rc != ERROR_SUCCESS) return rc;
  info->class_name = std::move(data.class_name);
  info->security = std::move(data.security);
  info->last_write = data.last_write;
  return ERROR_SUCCESS;
}

LONG RegistryTree::GetKeyInfo(KeyId key, KeyInfo* info) {
  if (key >= 0) return store_->GetKeyInfo(key, info);
  if (LONG rc = GetKeyHeader(key, info); rc != ERROR_SUCCESS) return rc;
  std::vector<ChildEntry> children;
  if (LONG rc = ListChildren(key, &children); rc != ERROR_SUCCESS) return rc;
  info->subkeys = static_cast<DWORD>(children.size());
  for (const ChildEntry& child : children) {
    info->max_subkey_name =
        std::max(info->max_subkey_name, static_cast<DWORD>(AnsiLength(child.name)));
    if (child.class_name) {
      info->max_subkey_class =
          std::max(info->max_subkey_class, static_cast<DWORD>(AnsiLength(*child.class_name)));
    }
  }
  std::vector<ValueEntry> values;
  if (LONG rc = ListValues(key, &values); rc != ERROR_SUCCESS) return rc;
  info->values = static_cast<DWORD>(values.size());
  for (const ValueEntry& value : values) {
    info->max_value_name =
        std::max(info->max_value_name, static_cast<DWORD>(AnsiLength(value.name)));
    info->max_value_data = std::max(info->max_value_data, static_cast<DWORD>(value.fit_size));
  }
  return ERROR_SUCCESS;
}

LONG RegistryTree::ListChildren(KeyId key, std::vector<ChildEntry>* children) {
  children->clear();
  bool alone = false;
  if (key < 0) {
    if (LONG rc = mounts_.FileAlone(key, &alone); rc != ERROR_SUCCESS) return rc;
  }
  if (!alone) {
    if (LONG rc = store_->ListChildren(key, children); rc != ERROR_SUCCESS || key >= 0) return rc;
  }
  HiveKey hive_key;
  {
    bool has = false;
    if (LONG rc = mounts_.HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
    const LONG rc = has ? mounts_.Find(HiveGeneration(key), &hive_key.mount)
                        : mounts_.ReadHiveKey(key, &hive_key);
    if (rc != ERROR_SUCCESS) return rc;
    if (has) {
      if (LONG read = hive_key.mount->reader->ReadKey(HiveCell(key), &hive_key.node);
          read != ERROR_SUCCESS) {
        return read;
      }
    }
  }
  const hive::HiveReader& reader = *hive_key.mount->reader;
  std::vector<uint32_t> cells;
  if (LONG rc = reader.ListSubkeys(hive_key.node, &cells); rc != ERROR_SUCCESS) return rc;
  if (cells.empty()) return ERROR_SUCCESS;
  // Hive keys with rows are among the rows already; removed ones are gone.
  std::unordered_set<KeyId> skip;
  for (const ChildEntry& child : *children) skip.insert(child.id);
  if (!alone) {
    std::vector<KeyId> removed;
    if (LONG rc = store_->RemovedChildren(key, &removed); rc != ERROR_SUCCESS) return rc;
    skip.insert(removed.begin(), removed.end());
  }
  const int64_t generation = HiveGeneration(key);
  hive::KeyNode node;
  std::u16string class_name;
  for (const uint32_t cell : cells) {
    const KeyId id = HiveKeyId(generation, cell);
    if (skip.count(id) != 0) continue;
    if (LONG rc = reader.ReadKey(cell, &node); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = reader.ReadClass(node, &class_name); rc != ERROR_SUCCESS) return rc;
    children->push_back(
        ChildEntry{id, std::move(node.name), ClassOrNone(class_name), node.last_write});
  }
  // The store's order: folded names by code unit.
  std::vector<std::pair<std::u16string, size_t>> order;
  order.reserve(children->size());
  for (size_t i = 0; i < children->size(); ++i)
    order.emplace_back(FoldName((*children)[i].name), i);
  std::sort(order.begin(), order.end());
  std::vector<ChildEntry> sorted;
  sorted.reserve(children->size());
  for (const auto& entry : order) sorted.push_back(std::move((*children)[entry.second]));
  *children = std::move(sorted);
  return ERROR_SUCCESS;
}

LONG RegistryTree::ListValues(KeyId key, std::vector<ValueEntry>* values) {
  bool has = true;
  if (LONG rc = mounts_.HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->ListValues(key, values);
  HiveKey hive_key;
  if (LONG rc = mounts_.ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  return HiveValues(hive_key, values);
}

LONG RegistryTree::ReadValueData(int64_t ref, std::string* data) {
  if (ref >= 0) return store_->ReadValueData(ref, data);
  Mount* mount = nullptr;
  if (LONG rc = mounts_.Find(HiveGeneration(ref), &mount); rc != ERROR_SUCCESS) {
    return rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc;
  }
  hive::ValueNode value;
  if (LONG rc = mount->reader->ReadValue(HiveCell(ref), &value); rc != ERROR_SUCCESS) return rc;
  return mount->reader->ReadValueData(value, data);
}

LONG RegistryTree::ReadValue(KeyId key, std::u16string_view name, StoredValue* value) {
  bool has = true;
  if (LONG rc = mounts_.HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->ReadValue(key, name, value);
  HiveKey hive_key;
  if (LONG rc = mounts_.ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  const hive::HiveReader& reader = *hive_key.mount->reader;
  std::vector<uint32_t> cells;
  if (LONG rc = reader.ListValues(hive_key.node, &cells); rc != ERROR_SUCCESS) return rc;
  const std::u16string folded = FoldName(name);
  hive::ValueNode node;
  for (const uint32_t cell : cells) {
    if (LONG rc = reader.ReadValue(cell, &node); rc != ERROR_SUCCESS) return rc;
    if (node.name.size() != name.size() || FoldName(node.name) != folded) continue;
    value->type = node.type;
    return reader.ReadValueData(node, &value->data);
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG RegistryTree::WriteValue(KeyId key, std::u16string_view name, DWORD type,
                              std::string_view data) {
  if (key < 0) {
    if (LONG rc = Materialize(key); rc != ERROR_SUCCESS) return rc;
  }
  return store_->WriteValue(key, name, type, data);
}

LONG RegistryTree::DeleteValue(KeyId key, std::u16string_view name) {
  if (key < 0) {
    // A value that is not there changes nothing, not even the key's row.
    StoredValue value;
    if (LONG rc = ReadValue(key, name, &value); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = Materialize(key); rc != ERROR_SUCCESS) return rc;
  }
  return store_->DeleteValue(key, name);
}

LONG RegistryTree::SetKeySecurity(KeyId key, std::string_view security) {
  if (key < 0) {
    if (LONG rc = Materialize(key); rc != ERROR_SUCCESS) return rc;
  }
  return store_->SetKeySecurity(key, security);
}

LONG RegistryTree::GetKeyData(KeyId key, KeyData* data) {
  bool has = true;
  if (LONG rc = mounts_.HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->GetKeyData(key, data);
  HiveKey hive_key;
  if (LONG rc = mounts_.ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  return HiveKeyData(hive_key, data);
}

LONG RegistryTree::SetKeyClass(KeyId key, const std::optional<std::u16string>& class_name) {
  if (key < 0) {
    if (LONG rc = Materialize(key); rc != ERROR_SUCCESS) return rc;
  }
  return store_->SetKeyClass(key, class_name);
}

LONG RegistryTree::SetKeyLastWrite(KeyId key, int64_t last_write) {
  if (key < 0) {
    if (LONG rc = Materialize(key); rc != ERROR_SUCCESS) return rc;
  }
  return store_->SetKeyLastWrite(key, last_write);
}

}  // namespace orvik::posix
