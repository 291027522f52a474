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

#include "platform/posix/hive/hive_patcher.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_replay.h"
#include "platform/posix/loaded/mount_table.h"
#include "platform/posix/store/sqlite_store.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

class RegistryTree final : public Tree {
 public:
  explicit RegistryTree(std::unique_ptr<SqliteStore> store);

  SqliteStore& store() { return *store_; }

  // The loaded hives (hive_mounts.cc), for RegLoadKeyA and RegUnLoadKeyA;
  // each runs in a write step. The finds give ERROR_FILE_NOT_FOUND when no
  // hive is loaded under the key, or from the file of that identity.
  LONG FindLoadedHive(KeyId key, LoadedHive* hive);
  LONG FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive);
  // The generation of the next load; ERROR_NO_MORE_ITEMS when they are used
  // up.
  LONG NextGeneration(int64_t* generation);
  // Copies the open hive file `source` into the registry directory as the
  // private copy of hive->generation, with the replay of a dirty hive's logs
  // (when given) written over it, and sets hive->copy. The copy goes to the
  // disk while it is checked; the caller syncs *fd before the load is
  // committed, and closes it.
  LONG TakePrivateCopy(int source, const hive::Replay* replay, LoadedHive* hive, int* fd);
  // Loads the hive whose private copy `hive->copy` names as the new key
  // `name` of `parent`, and records it. The whole hive is checked first: a
  // hive that loads never fails a later read; then ERROR_ALREADY_EXISTS
  // when the key is there. Sets hive->key and hive->root_name.
  LONG MountHive(KeyId parent, std::u16string_view name, LoadedHive* hive);
  // Whether anything under the loaded hive's key changed since its load.
  LONG HiveChanged(const LoadedHive& hive, bool* changed);
  // Makes every change kept for the loaded hive to the patcher's image of
  // its private copy (hive_patch.cc).
  LONG PatchHive(const LoadedHive& hive, hive::HivePatcher& patcher);
  // Removes the loaded hive's key, its record and every row kept for it.
  LONG UnmountHive(const LoadedHive& hive);
  // Unloads a hive that an earlier version copied into rows: its record and
  // its key's tree go.
  LONG UnmountCopiedHive(KeyId key);
  // Removes the private copies that no loaded hive uses (left by an unload
  // killed after its commit), except the one of generation `keep`, which
  // its unload removes after the commit.
  void RemoveUnusedCopies(int64_t keep);

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
  // ERROR_ACCESS_DENIED for a key that is never removed, whatever is below
  // it: a top key, or the key of a loaded hive (which goes with its
  // unloading); else ERROR_SUCCESS.
  LONG KeyRemovable(KeyId key);
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
