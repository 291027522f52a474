// The loaded hives as this process has found them, each with the reader of
// its private copy, and what the process knows of their changes at the
// current step: whether any key below a hive's root has a row, a child row
// or a mark in the store (while none has, the file answers for all of
// them), and which keys' trees changed.
//
// Hive keys have ids below zero that name the hive (by the generation of
// its load, never reused) and the key's cell in the file.
#pragma once

#include <cstdint>
#include <memory>
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

// The ids of one hive's keys lie in a range of their own.
struct IdRange {
  KeyId low;
  KeyId high;
};
constexpr IdRange HiveIdRange(int64_t generation) {
  return {HiveKeyId(generation, 0xFFFFFFFF), HiveKeyId(generation, 0)};
}

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

class MountTable {
 public:
  explicit MountTable(SqliteStore& store) : store_(store) {}

  // At the start of each step: what was seen at another stamp is checked
  // again.
  void SetStamp(uint64_t stamp) { stamp_ = stamp; }

  // The loaded hive of that generation; ERROR_KEY_DELETED when it is gone.
  LONG Find(int64_t generation, Mount** mount);
  // After the hive's unloading.
  void Forget(int64_t generation) { mounts_.erase(generation); }
  // After a change of the rows below a hive's root in this step.
  void ForgetChanges();

  // Whether the key lies below the root of a pristine hive: then the store
  // holds nothing of it or its children, and need not be asked.
  LONG FileAlone(KeyId key, bool* alone);
  // Whether the store's rows answer for the key (always for its own keys).
  LONG HasRow(KeyId key, bool* has);
  // A hive key without a row: ERROR_KEY_DELETED when it was removed or its
  // hive is gone.
  LONG ReadHiveKey(KeyId key, HiveKey* key_out);
  // As Tree::UnchangedHiveKey.
  const hive::HiveReader* UnchangedHiveKey(KeyId key, uint32_t* cell);

 private:
  LONG FindChangedTrees(Mount* mount);

  SqliteStore& store_;
  std::unordered_map<int64_t, Mount> mounts_;
  uint64_t stamp_ = 0;
};

// A hive key's own data and its values as the file has them; values carry
// their data up to kCarriedDataSize, and their refs are hive ids of their
// cells.
LONG HiveKeyData(const HiveKey& key, KeyData* data);
LONG HiveValues(const HiveKey& key, std::vector<ValueEntry>* values);

}  // namespace orvik::posix
