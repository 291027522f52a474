// The registry's tree: the store's rows with the loaded hives beside them.
#include "platform/posix/registry_tree.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_walk.h"
#include "platform/posix/hive_tree_copy.h"
#include "platform/posix/value_forms.h"

namespace orvik::posix {

namespace {

// Values up to this size travel with an enumeration's list, as the store's do.
constexpr size_t kCarriedDataSize = 1024;

std::optional<std::u16string> ClassOrNone(const std::u16string& class_name) {
  if (class_name.empty()) return std::nullopt;
  return class_name;
}

struct IdRange {
  KeyId low;
  KeyId high;
};

IdRange RangeOf(int64_t generation) {
  return {HiveKeyId(generation, 0xFFFFFFFF), HiveKeyId(generation, 0)};
}

}  // namespace

RegistryTree::RegistryTree(std::unique_ptr<SqliteTree> store) : store_(std::move(store)) {}

LONG RegistryTree::Begin(bool write, uint64_t* stamp) {
  const LONG rc = store_->Begin(write, stamp);
  if (rc == ERROR_SUCCESS) stamp_ = *stamp;
  return rc;
}

LONG RegistryTree::FindMount(int64_t generation, Mount** mount) {
  auto it = mounts_.find(generation);
  if (it != mounts_.end() && it->second.checked_stamp == stamp_) {
    *mount = &it->second;
    return ERROR_SUCCESS;
  }
  // Another process may have unloaded the hive since it was last seen.
  LoadedHive record;
  const LONG found = store_->FindLoadedHiveGeneration(generation, &record);
  if (found != ERROR_SUCCESS) {
    if (it != mounts_.end()) mounts_.erase(it);
    return found == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : found;
  }
  if (it == mounts_.end()) {
    Mount opened;
    if (LONG rc = hive::HiveReader::Open(record.copy, &opened.reader); rc != ERROR_SUCCESS) {
      // The private copy is the registry's own file.
      return ERROR_REGISTRY_CORRUPT;
    }
    it = mounts_.emplace(generation, std::move(opened)).first;
  }
  it->second.record = std::move(record);
  it->second.checked_stamp = stamp_;
  *mount = &it->second;
  return ERROR_SUCCESS;
}

LONG RegistryTree::FileAlone(KeyId key, bool* alone) {
  *alone = false;
  Mount* mount = nullptr;
  if (LONG rc = FindMount(HiveGeneration(key), &mount); rc != ERROR_SUCCESS) return rc;
  if (key == mount->record.key) return ERROR_SUCCESS;
  if (!mount->pristine_known || mount->pristine_stamp != stamp_) {
    const IdRange range = RangeOf(mount->record.generation);
    bool any = true;
    if (LONG rc = store_->RangeHasRows(range.low, range.high, mount->record.key, false, &any);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    mount->pristine = !any;
    mount->pristine_known = true;
    mount->pristine_stamp = stamp_;
  }
  *alone = mount->pristine;
  return ERROR_SUCCESS;
}

void RegistryTree::ForgetPristine() {
  for (auto& [generation, mount] : mounts_) {
    mount.pristine_known = false;
    mount.changed_known = false;
  }
}

LONG RegistryTree::FindChangedTrees(Mount* mount) {
  if (mount->changed_known && mount->changed_stamp == stamp_) return ERROR_SUCCESS;
  mount->changed.clear();
  const IdRange range = RangeOf(mount->record.generation);
  std::vector<KeyId> ids;
  if (LONG rc = store_->ChangedInRange(range.low, range.high, &ids); rc != ERROR_SUCCESS) {
    return rc;
  }
  const hive::HiveReader& reader = *mount->reader;
  for (const KeyId id : ids) {
    // The key and every key above it up to the root.
    uint32_t cell = HiveCell(id);
    for (int steps = 0; mount->changed.insert(cell).second && cell != reader.root(); ++steps) {
      if (steps > hive::kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
      hive::KeyNode node;
      if (LONG rc = reader.ReadKey(cell, &node); rc != ERROR_SUCCESS) return rc;
      cell = node.parent;
    }
  }
  mount->changed_known = true;
  mount->changed_stamp = stamp_;
  return ERROR_SUCCESS;
}

const hive::HiveReader* RegistryTree::UnchangedHiveKey(KeyId key, uint32_t* cell) {
  if (key >= 0) return nullptr;
  Mount* mount = nullptr;
  if (FindMount(HiveGeneration(key), &mount) != ERROR_SUCCESS || key == mount->record.key) {
    return nullptr;
  }
  bool alone = false;
  if (FileAlone(key, &alone) != ERROR_SUCCESS) return nullptr;
  if (!alone) {
    bool has = true;
    if (HasRow(key, &has) != ERROR_SUCCESS || has) return nullptr;
    if (FindChangedTrees(mount) != ERROR_SUCCESS) return nullptr;
    if (mount->changed.count(HiveCell(key)) != 0) return nullptr;
  }
  *cell = HiveCell(key);
  return mount->reader.get();
}

LONG RegistryTree::HasRow(KeyId key, bool* has) {
  *has = true;
  if (key >= 0) return ERROR_SUCCESS;  // the store's own keys
  bool alone = false;
  if (LONG rc = FileAlone(key, &alone); rc != ERROR_SUCCESS) return rc;
  if (alone) {
    *has = false;
    return ERROR_SUCCESS;
  }
  return store_->KeyExists(key, has);
}

LONG RegistryTree::ReadHiveKey(KeyId key, HiveKey* out) {
  if (LONG rc = FindMount(HiveGeneration(key), &out->mount); rc != ERROR_SUCCESS) return rc;
  bool alone = false;
  if (LONG rc = FileAlone(key, &alone); rc != ERROR_SUCCESS) return rc;
  if (!alone) {
    bool removed = false;
    if (LONG rc = store_->KeyRemoved(key, &removed); rc != ERROR_SUCCESS) return rc;
    if (removed) return ERROR_KEY_DELETED;
  }
  return out->mount->reader->ReadKey(HiveCell(key), &out->node);
}

LONG RegistryTree::HiveKeyData(const HiveKey& key, KeyData* data) {
  const hive::HiveReader& reader = *key.mount->reader;
  std::u16string class_name;
  if (LONG rc = reader.ReadClass(key.node, &class_name); rc != ERROR_SUCCESS) return rc;
  data->name = key.node.name;
  data->class_name = ClassOrNone(class_name);
  if (LONG rc = reader.ReadSecurity(key.node, &data->security); rc != ERROR_SUCCESS) return rc;
  data->last_write = key.node.last_write;
  return ERROR_SUCCESS;
}

LONG RegistryTree::HiveValues(const HiveKey& key, std::vector<ValueEntry>* values) {
  values->clear();
  const hive::HiveReader& reader = *key.mount->reader;
  std::vector<uint32_t> cells;
  if (LONG rc = reader.ListValues(key.node, &cells); rc != ERROR_SUCCESS) return rc;
  hive::ValueNode value;
  std::string data;
  for (const uint32_t cell : cells) {
    if (LONG rc = reader.ReadValue(cell, &value); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = reader.ReadValueData(value, &data); rc != ERROR_SUCCESS) return rc;
    ValueEntry entry;
    entry.ref = HiveKeyId(key.mount->record.generation, cell);
    entry.name = std::move(value.name);
    entry.type = value.type;
    entry.size = data.size();
    entry.fit_size = FittingSize(value.type, data);
    if (data.size() <= kCarriedDataSize) entry.data = data;
    values->push_back(std::move(entry));
  }
  return ERROR_SUCCESS;
}

LONG RegistryTree::Materialize(KeyId key) {
  bool has = false;
  if (LONG rc = HasRow(key, &has); rc != ERROR_SUCCESS || has) return rc;
  HiveKey hive_key;
  if (LONG rc = ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  KeyData data;
  if (LONG rc = HiveKeyData(hive_key, &data); rc != ERROR_SUCCESS) return rc;
  std::vector<ValueEntry> values;
  if (LONG rc = HiveValues(hive_key, &values); rc != ERROR_SUCCESS) return rc;
  // The root has its row from the load, so every key here has a parent in
  // the hive (checked at the load to be the key that lists it).
  const KeyId parent = HiveKeyId(hive_key.mount->record.generation, hive_key.node.parent);
  if (LONG rc = store_->InsertKeyRow(key, parent, data); rc != ERROR_SUCCESS) return rc;
  ForgetPristine();
  std::string large;
  for (const ValueEntry& value : values) {
    if (!value.data) {
      if (LONG rc = ReadValueData(value.ref, &large); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc = store_->WriteValue(key, value.name, value.type, value.data ? *value.data : large);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  // Copying the values is no change of the key.
  return store_->SetKeyLastWrite(key, data.last_write);
}

LONG RegistryTree::KeyExists(KeyId key, bool* exists) {
  if (key >= 0) return store_->KeyExists(key, exists);
  if (LONG rc = HasRow(key, exists); rc != ERROR_SUCCESS || *exists) {
    *exists = *exists && rc == ERROR_SUCCESS;
    return rc == ERROR_KEY_DELETED ? ERROR_SUCCESS : rc;
  }
  HiveKey hive_key;
  const LONG rc = ReadHiveKey(key, &hive_key);
  *exists = rc == ERROR_SUCCESS;
  return rc == ERROR_KEY_DELETED ? ERROR_SUCCESS : rc;
}

LONG RegistryTree::FindChild(KeyId parent, std::u16string_view name, KeyId* child) {
  // Rows answer first: keys created under a hive key, and hive keys that
  // changed.
  bool alone = false;
  if (parent < 0) {
    if (LONG rc = FileAlone(parent, &alone); rc != ERROR_SUCCESS) return rc;
  }
  if (!alone) {
    const LONG found = store_->FindChild(parent, name, child);
    if (found != ERROR_FILE_NOT_FOUND || parent >= 0) return found;
  }
  int64_t generation = HiveGeneration(parent);
  Mount* mount = nullptr;
  if (LONG rc = FindMount(generation, &mount); rc != ERROR_SUCCESS) return rc;
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
    ForgetPristine();
  }
  return store_->CreateChild(parent, name, class_name, child);
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
    if (LONG rc = FindMount(HiveGeneration(key), &mount); rc != ERROR_SUCCESS) return rc;
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
  ForgetPristine();
  return store_->MarkKeyRemoved(key, parent);
}

LONG RegistryTree::KeyDepth(KeyId key, int* depth) {
  int total = 0;
  KeyId at = key;
  // Each turn climbs through rows or through the hive; the bound keeps a
  // damaged store from looping.
  for (int turn = 0; turn < 4 * hive::kMaxKeyDepth; ++turn) {
    bool has = true;
    if (LONG rc = HasRow(at, &has); rc != ERROR_SUCCESS) return rc;
    if (!has) {
      Mount* mount = nullptr;
      if (LONG rc = FindMount(HiveGeneration(at), &mount); rc != ERROR_SUCCESS) return rc;
      uint32_t cell = HiveCell(at);
      int steps = 0;
      while (cell != mount->reader->root()) {
        if (++steps > hive::kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
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
  if (LONG rc = HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->GetKeyHeader(key, info);
  *info = KeyInfo{};
  HiveKey hive_key;
  if (LONG rc = ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
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
    if (LONG rc = FileAlone(key, &alone); rc != ERROR_SUCCESS) return rc;
  }
  if (!alone) {
    if (LONG rc = store_->ListChildren(key, children); rc != ERROR_SUCCESS || key >= 0) return rc;
  }
  HiveKey hive_key;
  {
    bool has = false;
    if (LONG rc = HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
    const LONG rc =
        has ? FindMount(HiveGeneration(key), &hive_key.mount) : ReadHiveKey(key, &hive_key);
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
  if (LONG rc = HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->ListValues(key, values);
  HiveKey hive_key;
  if (LONG rc = ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
  return HiveValues(hive_key, values);
}

LONG RegistryTree::ReadValueData(int64_t ref, std::string* data) {
  if (ref >= 0) return store_->ReadValueData(ref, data);
  Mount* mount = nullptr;
  if (LONG rc = FindMount(HiveGeneration(ref), &mount); rc != ERROR_SUCCESS) {
    return rc == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : rc;
  }
  hive::ValueNode value;
  if (LONG rc = mount->reader->ReadValue(HiveCell(ref), &value); rc != ERROR_SUCCESS) return rc;
  return mount->reader->ReadValueData(value, data);
}

LONG RegistryTree::ReadValue(KeyId key, std::u16string_view name, StoredValue* value) {
  bool has = true;
  if (LONG rc = HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->ReadValue(key, name, value);
  HiveKey hive_key;
  if (LONG rc = ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
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
  if (LONG rc = HasRow(key, &has); rc != ERROR_SUCCESS) return rc;
  if (has) return store_->GetKeyData(key, data);
  HiveKey hive_key;
  if (LONG rc = ReadHiveKey(key, &hive_key); rc != ERROR_SUCCESS) return rc;
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

LONG RegistryTree::MountHive(KeyId parent, std::u16string_view name, LoadedHive* hive) {
  std::unique_ptr<hive::HiveReader> reader;
  if (LONG rc = hive::HiveReader::Open(hive->copy, &reader); rc != ERROR_SUCCESS) return rc;
  std::vector<hive::HashRepair> repairs;
  if (LONG rc = hive::CheckHiveTree(*reader, &repairs); rc != ERROR_SUCCESS) return rc;
  // Hashes that are not their names' are put right in the private copy (the
  // file loaded stays as it is), so that every key is found by its name.
  if (!repairs.empty()) {
    reader.reset();
    if (LONG rc = hive::RepairHashes(hive->copy, repairs); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = hive::HiveReader::Open(hive->copy, &reader); rc != ERROR_SUCCESS) return rc;
  }
  // A file that is no hive is reported before a key that is there.
  {
    KeyId existing = 0;
    if (LONG rc = FindChild(parent, name, &existing); rc != ERROR_FILE_NOT_FOUND) {
      return rc == ERROR_SUCCESS ? ERROR_ALREADY_EXISTS : rc;
    }
  }
  HiveKey root;
  Mount mount;
  mount.record = *hive;
  mount.reader = std::move(reader);
  root.mount = &mount;
  if (LONG rc = mount.reader->ReadKey(mount.reader->root(), &root.node); rc != ERROR_SUCCESS) {
    return rc;
  }
  KeyData data;
  if (LONG rc = HiveKeyData(root, &data); rc != ERROR_SUCCESS) return rc;
  std::vector<ValueEntry> values;
  if (LONG rc = HiveValues(root, &values); rc != ERROR_SUCCESS) return rc;
  hive->root_name = data.name;
  hive->key = HiveKeyId(hive->generation, mount.reader->root());
  // The key the hive is loaded under is its root's row, named as asked.
  data.name = std::u16string(name);
  if (LONG rc = store_->InsertKeyRow(hive->key, parent, data); rc != ERROR_SUCCESS) return rc;
  std::string large;
  for (const ValueEntry& value : values) {
    if (!value.data) {
      hive::ValueNode node;
      if (LONG rc = mount.reader->ReadValue(HiveCell(value.ref), &node); rc != ERROR_SUCCESS) {
        return rc;
      }
      if (LONG rc = mount.reader->ReadValueData(node, &large); rc != ERROR_SUCCESS) return rc;
    }
    if (LONG rc =
            store_->WriteValue(hive->key, value.name, value.type, value.data ? *value.data : large);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  if (LONG rc = store_->SetKeyLastWrite(hive->key, data.last_write); rc != ERROR_SUCCESS) return rc;
  return store_->AddLoadedHive(*hive);
}

LONG RegistryTree::HiveChanged(const LoadedHive& hive, bool* changed) {
  *changed = true;
  const IdRange range = RangeOf(hive.generation);
  bool any = false;
  if (LONG rc = store_->RangeHasRows(range.low, range.high, hive.key, true, &any);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (any) return ERROR_SUCCESS;
  // Only the root's row is left to compare with the file.
  Mount* mount = nullptr;
  if (LONG rc = FindMount(hive.generation, &mount); rc != ERROR_SUCCESS) return rc;
  HiveKey root{mount, {}};
  if (LONG rc = mount->reader->ReadKey(mount->reader->root(), &root.node); rc != ERROR_SUCCESS) {
    return rc;
  }
  KeyData in_file;
  KeyData in_row;
  if (LONG rc = HiveKeyData(root, &in_file); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = store_->GetKeyData(hive.key, &in_row); rc != ERROR_SUCCESS) return rc;
  if (in_file.class_name != in_row.class_name || in_file.security != in_row.security ||
      in_file.last_write != in_row.last_write) {
    return ERROR_SUCCESS;
  }
  std::vector<ValueEntry> file_values;
  std::vector<ValueEntry> row_values;
  if (LONG rc = HiveValues(root, &file_values); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = store_->ListValues(hive.key, &row_values); rc != ERROR_SUCCESS) return rc;
  if (file_values.size() != row_values.size()) return ERROR_SUCCESS;
  std::string file_data;
  std::string row_data;
  for (size_t i = 0; i < file_values.size(); ++i) {
    const ValueEntry& a = file_values[i];
    const ValueEntry& b = row_values[i];
    if (a.name != b.name || a.type != b.type || a.size != b.size) return ERROR_SUCCESS;
    if (LONG rc = ReadValueData(a.ref, &file_data); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = store_->ReadValueData(b.ref, &row_data); rc != ERROR_SUCCESS) return rc;
    if (file_data != row_data) return ERROR_SUCCESS;
  }
  *changed = false;
  return ERROR_SUCCESS;
}

LONG RegistryTree::UnmountHive(const LoadedHive& hive) {
  const IdRange range = RangeOf(hive.generation);
  // Keys created under hive keys are ordinary rows, with ordinary subtrees.
  std::vector<KeyId> created;
  if (LONG rc = store_->ChildrenOfRange(range.low, range.high, &created); rc != ERROR_SUCCESS) {
    return rc;
  }
  for (const KeyId key : created) {
    if (LONG rc = RemoveKeyTree(*store_, key, true); rc != ERROR_SUCCESS) return rc;
  }
  if (LONG rc = store_->DeleteRange(range.low, range.high, hive.key); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = store_->RemoveLoadedHive(hive.key); rc != ERROR_SUCCESS) return rc;
  mounts_.erase(hive.generation);
  return store_->DeleteKey(hive.key);
}

}  // namespace orvik::posix
