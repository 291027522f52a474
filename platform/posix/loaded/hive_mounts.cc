// Loading and unloading hives in the registry's tree: a hive's root becomes
// the row of the key it is loaded under, and the hive's rows and marks go
// with its unloading.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/loaded/hive_tree_copy.h"
#include "platform/posix/loaded/private_copies.h"
#include "platform/posix/loaded/registry_tree.h"

namespace orvik::posix {

LONG RegistryTree::FindLoadedHive(KeyId key, LoadedHive* hive) {
  return store_->FindLoadedHive(key, hive);
}

LONG RegistryTree::FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive) {
  return store_->FindLoadedHiveFile(device, inode, hive);
}

LONG RegistryTree::NextGeneration(int64_t* generation) {
  if (LONG rc = store_->NextHiveGeneration(generation); rc != ERROR_SUCCESS) return rc;
  return *generation < kMaxHiveGeneration ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

LONG RegistryTree::TakePrivateCopy(int source, const hive::Replay* replay, LoadedHive* hive,
                                   int* fd) {
  return CopyIntoRegistry(source, replay, *store_, hive->generation, &hive->copy, &hive->copy_pages,
                          fd);
}

LONG RegistryTree::MountHive(KeyId parent, std::u16string_view name, LoadedHive* hive) {
  // The check reads all of it.
  std::unique_ptr<hive::HiveReader> reader;
  if (LONG rc = hive::HiveReader::Open(hive->copy, &reader, true); rc != ERROR_SUCCESS) return rc;
  std::vector<hive::HashRepair> repairs;
  if (LONG rc = hive::CheckHiveTree(*reader, &repairs); rc != ERROR_SUCCESS) return rc;
  // Hashes that are not their names' are put right in the private copy (the
  // file loaded stays as it is), so that every key is found by its name.
  if (!repairs.empty()) {
    reader.reset();
    if (LONG rc = hive::RepairHashes(hive->copy, repairs); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = hive::HiveReader::Open(hive->copy, &reader); rc != ERROR_SUCCESS) return rc;
    // Written back with the hive's changes, if it has any.
    for (const hive::HashRepair& repair : repairs) {
      hive->copy_pages.push_back(
          static_cast<uint32_t>((repair.offset - hive::kBaseBlockSize) / hive::kBinAlignment));
    }
    std::sort(hive->copy_pages.begin(), hive->copy_pages.end());
    hive->copy_pages.erase(std::unique(hive->copy_pages.begin(), hive->copy_pages.end()),
                           hive->copy_pages.end());
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
  hive->root_name = data.name;
  hive->key = HiveKeyId(hive->generation, mount.reader->root());
  // The key the hive is loaded under is its root's row, named as asked.
  data.name = std::u16string(name);
  if (LONG rc = WriteHiveKeyRow(root, hive->key, parent, data); rc != ERROR_SUCCESS) return rc;
  return store_->AddLoadedHive(*hive);
}

LONG RegistryTree::HiveChanged(const LoadedHive& hive, bool* changed) {
  *changed = true;
  const IdRange range = HiveIdRange(hive.generation);
  bool any = false;
  if (LONG rc = store_->RangeHasRows(range.low, range.high, hive.key, true, &any);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (any) return ERROR_SUCCESS;
  // Only the root's row is left to compare with the file.
  Mount* mount = nullptr;
  if (LONG rc = mounts_.Find(hive.generation, &mount); rc != ERROR_SUCCESS) return rc;
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
  const IdRange range = HiveIdRange(hive.generation);
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
  mounts_.Forget(hive.generation);
  return store_->DeleteKey(hive.key);
}

LONG RegistryTree::UnmountCopiedHive(KeyId key) {
  if (LONG rc = store_->RemoveLoadedHive(key); rc != ERROR_SUCCESS) return rc;
  return RemoveKeyTree(*this, key, true);
}

void RegistryTree::RemoveUnusedCopies(int64_t keep) {
  orvik::posix::RemoveUnusedCopies(*store_, keep);
}

}  // namespace orvik::posix
