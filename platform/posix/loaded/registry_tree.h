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
// Hive keys have ids below zero that name the hive (by the generation of
// its load, never reused) and the key's cell in the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/store/sqlite_store.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

constexpr KeyId HiveKeyId(int64_t generation, uint32_t cell) {
  return -((generation << 32) | static_cast<int64_t>(cell));
}
constexpr int64_t HiveGeneration(KeyId id) { return (-id) >> 32; }
constexpr uint32_t HiveCell(KeyId id) { return static_cast<uint32_t>((-id) & 0xFFFFFFFF); }
// Generations stay below this, so that every id fits.
constexpr int64_t kMaxHiveGeneration = int64_t{1} << 30;

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
  const hive::HiveReader* UnchangedHiveKey(KeyId key, uint32_t* cell) override;
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
  struct Mount {
    LoadedHive record;
    std::unique_ptr<hive::HiveReader> reader;
    uint64_t checked_stamp = 0;  // the step stamp at which the record was seen
    // Whether no key below the root has a row, a child row or a mark (the
    // file answers for all of them), as seen at pristine_stamp.
    bool pristine = false;
    bool pristine_known = false;
    uint64_t pristine_stamp = 0;
    // The cells of the keys whose trees changed (a row, a child row or a
    // removed child somewhere below), as seen at changed_stamp.
    std::unordered_set<uint32_t> changed;
    bool changed_known = false;
    uint64_t changed_stamp = 0;
  };
  // A hive key as the file has it.
  struct HiveKey {
    Mount* mount = nullptr;
    hive::KeyNode node;
  };

  // The loaded hive of that generation; ERROR_KEY_DELETED when it is gone.
  LONG FindMount(int64_t generation, Mount** mount);
  // Whether the store's rows answer for the key (always for its own keys).
  LONG HasRow(KeyId key, bool* has);
  // Whether the key lies below the root of a pristine hive: then the store
  // holds nothing of it or its children, and need not be asked.
  LONG FileAlone(KeyId key, bool* alone);
  // After a change of the rows below a hive's root in this step.
  void ForgetPristine();
  LONG FindChangedTrees(Mount* mount);
  // A hive key without a row: ERROR_KEY_DELETED when it was removed or its
  // hive is gone.
  LONG ReadHiveKey(KeyId key, HiveKey* key_out);
  // Gives a hive key its row, with its values, unless it has one.
  LONG Materialize(KeyId key);
  LONG HiveKeyData(const HiveKey& key, KeyData* data);
  LONG HiveValues(const HiveKey& key, std::vector<ValueEntry>* values);

  std::unique_ptr<SqliteStore> store_;
  std::unordered_map<int64_t, Mount> mounts_;
  uint64_t stamp_ = 0;
};

}  // namespace orvik::posix
