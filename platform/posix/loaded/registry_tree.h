// The registry's tree of keys: the store's rows, and beside them the hives
// loaded with RegLoadKeyA, each served in place from a private copy of its
// file.
//
// A key of a loaded hive is read from the file for as long as nothing
// changes it. The first change gives it a row of its own in the store, with
// all its values, and from then on the row answers for it; a removed hive
// key leaves a mark in the store; keys created under a hive key are
// ordinary rows. So every change under a loaded hive is a change of the
// store: atomic, durable, and seen at once by every process. The hive's
// root always has a row: it is the key the hive is loaded under.
//
// The tree calls are answered in registry_tree.cc, the loading and unloading
// in hive_mounts.cc; the mount table keeps the loaded hives' readers and
// what is known of their changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/loaded/mount_table.h"
#include "platform/posix/store/sqlite_store.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

class RegistryTree final : public Tree {
 public:
  explicit RegistryTree(std::unique_ptr<SqliteStore> store);

  SqliteStore& store() { return *store_; }

  // Loads the hive whose private copy `hive->copy` names (the caller made
  // it) as the new key `name` of `parent`, and records it. The whole hive
  // is checked first: a hive that loads never fails a later read; then
  // ERROR_ALREADY_EXISTS when the key is there. Sets hive->key. Runs in a
  // write step.
  LONG MountHive(KeyId parent, std::u16string_view name, LoadedHive* hive);
  // Whether anything under the loaded hive's key changed since its load.
  LONG HiveChanged(const LoadedHive& hive, bool* changed);
  // Removes the loaded hive's key, its record and every row kept for it.
  LONG UnmountHive(const LoadedHive& hive);

  bool Writable() const override { return store_->Writable(); }
  bool HoldsWriteLock() const override { return store_->HoldsWriteLock(); }
  LONG Begin(bool write, uint64_t* stamp) override;
  LONG End(bool commit) override { return store_->End(commit); }
  bool LastWriteAlone(uint64_t* before, uint64_t* after) const override {
    return store_->LastWriteAlone(before, after);
  }
  bool IsRoot(KeyId key) const override { return store_->IsRoot(key); }
  const hive::HiveReader* UnchangedHiveKey(KeyId key, uint32_t* cell) override {
    return mounts_.UnchangedHiveKey(key, cell);
  }
  LONG KeyExists(KeyId key, bool* exists) override;
  LONG FindChild(KeyId parent, std::u16string_view name, KeyId* child) override;
  LONG CreateChild(KeyId parent, std::u16string_view name,
                   const std::optional<std::u16string>& class_name, KeyId* child) override;
  LONG DeleteKey(KeyId key) override;
  LONG KeyDepth(KeyId key, int* depth) override;
  LONG GetKeyInfo(KeyId key, KeyInfo* info) override;
  LONG GetKeyHeader(KeyId key, KeyInfo* info) override;
  LONG SetKeySecurity(KeyId key, std::string_view security) override;
  LONG ListChildren(KeyId key, std::vector<ChildEntry>* children) override;
  LONG ListValues(KeyId key, std::vector<ValueEntry>* values) override;
  LONG ReadValueData(int64_t ref, std::string* data) override;
  LONG ReadValue(KeyId key, std::u16string_view name, StoredValue* value) override;
  LONG WriteValue(KeyId key, std::u16string_view name, DWORD type, std::string_view data) override;
  LONG DeleteValue(KeyId key, std::u16string_view name) override;
  LONG GetKeyData(KeyId key, KeyData* data) override;
  LONG SetKeyClass(KeyId key, const std::optional<std::u16string>& class_name) override;
  LONG SetKeyLastWrite(KeyId key, int64_t last_write) override;
  LONG AddLoadedHive(const LoadedHive& hive) override { return store_->AddLoadedHive(hive); }
  LONG FindLoadedHive(KeyId key, LoadedHive* hive) override {
    return store_->FindLoadedHive(key, hive);
  }
  LONG FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive) override {
    return store_->FindLoadedHiveFile(device, inode, hive);
  }
  LONG RemoveLoadedHive(KeyId key) override { return store_->RemoveLoadedHive(key); }

 private:
  // Gives a hive key its row, with its values, unless it has one.
  LONG Materialize(KeyId key);
  // Writes the row `id` under `parent` with `data` for the hive key, and
  // its values as the file has them; the row keeps `data`'s last-write time.
  LONG WriteHiveKeyRow(const HiveKey& key, KeyId id, KeyId parent, const KeyData& data);

  std::unique_ptr<SqliteStore> store_;
  MountTable mounts_;
};

}  // namespace orvik::posix
