// The loaded hives this process has found, and what it knows of their
// changes at the current step.
#include "platform/posix/loaded/mount_table.h"

#include <utility>

#include "platform/posix/key_path.h"
#include "platform/posix/loaded/private_copies.h"
#include "platform/posix/value_forms.h"

namespace orvik::posix {

LONG MountTable::Find(int64_t generation, Mount** mount) {
  auto it = mounts_.find(generation);
  if (it != mounts_.end() && it->second.checked_stamp == stamp_) {
    *mount = &it->second;
    return ERROR_SUCCESS;
  }
  // Another process may have unloaded the hive since it was last seen.
  LoadedHive record;
  const LONG found = store_.FindLoadedHiveGeneration(generation, &record);
  if (found != ERROR_SUCCESS) {
    if (it != mounts_.end()) mounts_.erase(it);
    return found == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : found;
  }
  if (it == mounts_.end()) {
    Mount opened;
    if (LONG rc = OpenPrivateCopy(store_, record, &opened.reader); rc != ERROR_SUCCESS) return rc;
    it = mounts_.emplace(generation, std::move(opened)).first;
  }
  it->second.record = std::move(record);
  it->second.checked_stamp = stamp_;
  *mount = &it->second;
  return ERROR_SUCCESS;
}

void MountTable::ForgetChanges() {
  for (auto& [generation, mount] : mounts_) {
    mount.pristine_known = false;
    mount.changed_known = false;
  }
}

LONG MountTable::FileAlone(KeyId key, bool* alone) {
  *alone = false;
  Mount* mount = nullptr;
  if (LONG rc = Find(HiveGeneration(key), &mount); rc != ERROR_SUCCESS) return rc;
  if (key == mount->record.key) return ERROR_SUCCESS;
  if (!mount->pristine_known || mount->pristine_stamp != stamp_) {
    const IdRange range = HiveIdRange(mount->record.generation);
    bool any = true;
    if (LONG rc = store_.RangeHasRows(range.low, range.high, mount->record.key, false, &any);
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

LONG MountTable::FindChangedTrees(Mount* mount) {
  if (mount->changed_known && mount->changed_stamp == stamp_) return ERROR_SUCCESS;
  mount->changed.clear();
  const IdRange range = HiveIdRange(mount->record.generation);
  std::vector<KeyId> ids;
  if (LONG rc = store_.ChangedInRange(range.low, range.high, &ids); rc != ERROR_SUCCESS) {
    return rc;
  }
  const hive::HiveReader& reader = *mount->reader;
  for (const KeyId id : ids) {
    // The key and every key above it up to the root.
    uint32_t cell = HiveCell(id);
    for (int steps = 0; mount->changed.insert(cell).second && cell != reader.root(); ++steps) {
      if (steps > kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
      hive::KeyNode node;
      if (LONG rc = reader.ReadKey(cell, &node); rc != ERROR_SUCCESS) return rc;
      cell = node.parent;
    }
  }
  mount->changed_known = true;
  mount->changed_stamp = stamp_;
  return ERROR_SUCCESS;
}

const hive::HiveReader* MountTable::UnchangedHiveKey(KeyId key, uint32_t* cell) {
  if (key >= 0) return nullptr;
  Mount* mount = nullptr;
  if (Find(HiveGeneration(key), &mount) != ERROR_SUCCESS || key == mount->record.key) {
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

LONG MountTable::HasRow(KeyId key, bool* has) {
  *has = true;
  if (key >= 0) return ERROR_SUCCESS;  // the store's own keys
  bool alone = false;
  if (LONG rc = FileAlone(key, &alone); rc != ERROR_SUCCESS) return rc;
  if (alone) {
    *has = false;
    return ERROR_SUCCESS;
  }
  return store_.KeyExists(key, has);
}

LONG MountTable::ReadHiveKey(KeyId key, HiveKey* out) {
  if (LONG rc = Find(HiveGeneration(key), &out->mount); rc != ERROR_SUCCESS) return rc;
  bool alone = false;
  if (LONG rc = FileAlone(key, &alone); rc != ERROR_SUCCESS) return rc;
  if (!alone) {
    bool removed = false;
    if (LONG rc = store_.KeyRemoved(key, &removed); rc != ERROR_SUCCESS) return rc;
    if (removed) return ERROR_KEY_DELETED;
  }
  return out->mount->reader->ReadKey(HiveCell(key), &out->node);
}

LONG HiveKeyData(const HiveKey& key, KeyData* data) {
  const hive::HiveReader& reader = *key.mount->reader;
  std::u16string class_name;
  if (LONG rc = reader.ReadClass(key.node, &class_name); rc != ERROR_SUCCESS) return rc;
  data->name = key.node.name;
  data->class_name = ClassOrNone(class_name);
  if (LONG rc = reader.ReadSecurity(key.node, &data->security); rc != ERROR_SUCCESS) return rc;
  data->last_write = key.node.last_write;
  return ERROR_SUCCESS;
}

LONG HiveValues(const HiveKey& key, std::vector<ValueEntry>* values) {
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

}  // namespace orvik::posix
