// The registry's durable store: one SQLite database (WAL mode) in the
// registry directory, holding the five root trees.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/store/sqlite_statement.h"
#include "platform/posix/store/store_location.h"
#include "platform/posix/store/store_steps.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

// A name as the store compares it: folded, UTF-16BE, so that it sorts by
// code unit.
std::string FoldedBytes(std::u16string_view name);

// A hive file loaded under a key (RegLoadKeyA) until it is unloaded.
struct LoadedHive {
  KeyId key = 0;
  std::string file;  // the file's absolute path, written back to at unload
  int64_t device = 0;
  int64_t inode = 0;
  std::u16string root_name;  // the name of the file's root key
  // A hive served in place: the number that names its keys' ids (never
  // reused) and the private copy of the file it is read from. 0 for a hive
  // that an earlier version copied into the store's rows.
  int64_t generation = 0;
  std::string copy;
  std::string digest;  // copied hives: of the key tree's hive form when loaded
  // What LOAD found of the file: its size (-1 when a version before this
  // one loaded it and did not say) and the time of its last status change
  // in nanoseconds, so that UNLOAD writes over the file in place only while
  // it is as it was.
  int64_t file_size = -1;
  int64_t file_changed = 0;
  // The 4 KiB pages of the bins where the private copy differs from the
  // file: a dirty hive's replayed pages, repaired hashes.
  std::vector<uint32_t> copy_pages;
};

class SqliteStore final : public Tree {
 public:
  // Ids of the root keys in every store, in the order of their handle values.
  static constexpr KeyId kClassesRoot = 1;
  static constexpr KeyId kCurrentUser = 2;
  static constexpr KeyId kLocalMachine = 3;
  static constexpr KeyId kUsers = 4;
  static constexpr KeyId kCurrentConfig = 5;

  // Opens (creating when needed) the store in the directory `place` names
  // (sqlite_store_open.cc).
  static LONG Open(const RegistryPlace& place, CommitPolicy policy, int busy_timeout_ms,
                   std::unique_ptr<SqliteStore>* store);
  // Flushes; then every statement finalizes itself, and the connection
  // closes after the last of them.
  ~SqliteStore() override { Flush(); }

  // The steps' transactions (StoreSteps): Flush commits and syncs at the
  // close, Discard undoes the run transaction, SetGrouping groups the write
  // calls.
  LONG Flush() { return steps_.Flush(); }
  void Discard() { steps_.Discard(); }
  LONG SetGrouping(bool on) { return steps_.SetGrouping(on); }

  // Between BeginSnapshot and EndSnapshot every read step is served by one
  // read transaction (StoreSteps): the steps see the store as it was at
  // that moment, while other processes go on committing.
  LONG BeginSnapshot() { return steps_.BeginSnapshot(); }
  void EndSnapshot() { steps_.EndSnapshot(); }

  sqlite3* db() const { return connection_.get(); }
  const std::string& directory() const { return directory_; }
  const DirectoryOwner& owner() const { return owner_; }

  // The records of the loaded hives (sqlite_loaded_hives.cc). The finds
  // give ERROR_FILE_NOT_FOUND when there is no such hive.
  LONG AddLoadedHive(const LoadedHive& hive);
  LONG FindLoadedHive(KeyId key, LoadedHive* hive);
  LONG FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive);
  LONG RemoveLoadedHive(KeyId key);

  // The rows a hive served in place keeps in the store (RegistryTree): its
  // keys that changed, each with an id of its own and all its values, and
  // marks for its keys that were removed. Ids of one hive lie in a range
  // of their own.
  LONG NextHiveGeneration(int64_t* generation);
  LONG FindLoadedHiveGeneration(int64_t generation, LoadedHive* hive);
  // A key row with the given id and data (the caller adds its values).
  LONG InsertKeyRow(KeyId id, KeyId parent, const KeyData& data);
  LONG MarkKeyRemoved(KeyId id, KeyId parent);
  LONG KeyRemoved(KeyId id, bool* removed);
  LONG RemovedChildren(KeyId parent, std::vector<KeyId>* ids);
  // The number of keys above the key in the store's rows, and the last
  // parent reached: 0 at a top key, else a key with no row.
  LONG KeyDepthInRows(KeyId key, int* depth, KeyId* top);
  // Whether the range holds a row or mark other than the key `except`, or a
  // row whose parent lies in it (with `children_of_except`, also `except`).
  LONG RangeHasRows(KeyId low, KeyId high, KeyId except, bool children_of_except, bool* any);
  // The range's keys that have a row, a child row or a removed child.
  LONG ChangedInRange(KeyId low, KeyId high, std::vector<KeyId>* ids);
  // Rows of the range's keys' children that lie outside the range.
  LONG ChildrenOfRange(KeyId low, KeyId high, std::vector<KeyId>* ids);
  // What UNLOAD writes back from: the range's keys that have a row; the
  // marks of its removed keys and the rows of children outside it, each
  // with its parent.
  LONG RowsInRange(KeyId low, KeyId high, std::vector<KeyId>* ids);
  LONG RemovedInRange(KeyId low, KeyId high, std::vector<std::pair<KeyId, KeyId>>* removed);
  LONG AddedToRange(KeyId low, KeyId high, std::vector<std::pair<KeyId, KeyId>>* added);
  // Removes the range's rows, values and marks, except the key `except`.
  LONG DeleteRange(KeyId low, KeyId high, KeyId except);

  bool Writable() const override { return writable_; }
  bool HoldsWriteLock() const override { return steps_.HoldsWriteLock(); }
  LONG Begin(bool write, uint64_t* stamp) override {
    if (write && !writable_) return ERROR_ACCESS_DENIED;
    return steps_.Begin(write, stamp);
  }
  LONG End(bool commit) override { return steps_.End(commit); }
  bool LastWriteAlone(uint64_t* before, uint64_t* after) const override {
    return steps_.LastWriteAlone(before, after);
  }
  bool IsRoot(KeyId key) const override { return key >= kClassesRoot && key <= kCurrentConfig; }
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

 private:
  struct Probe;

  // Opening and set-up (sqlite_store_open.cc).
  SqliteStore(sqlite3* db, std::string directory, CommitPolicy policy);
  LONG Initialize(int busy_timeout_ms, const DirectoryOwner& owner);
  LONG ProbeDatabase(Probe* probe);
  // Opens the shared change counter; a process that cannot move it may not
  // write.
  LONG OpenCounter(const DirectoryOwner& owner);
  LONG EnterWalMode(int busy_timeout_ms);
  LONG CreateSchema();
  LONG AddInitialKeys();
  // Inside CreateSchema's transaction (sqlite_schema_upgrade.cc).
  LONG ConvertFromVersion1();
  LONG ConvertFromVersion2();
  // FindChild and ReadValue in a store whose folded names this process may
  // not fold anew (sqlite_old_folding.cc).
  LONG FindChildByName(KeyId parent, std::u16string_view name, KeyId* child);
  LONG ReadValueByName(KeyId key, std::u16string_view name, StoredValue* value);
  LONG Exec(const char* sql);

  int Use(Statement& statement, const char* sql) { return steps_.Use(statement, sql); }
  // A loaded hive's record (statement `find` already prepared, bound, stepped).
  void ReadHiveRecord(const Query& q, LoadedHive* hive);
  // Whether the tables of hives served in place (`served`) are there: a
  // store of version 2 made before hives could be loaded gets them with its
  // first load. Else whether the table of hives an earlier version copied
  // into rows is there.
  LONG HiveTables(bool served, bool* there);
  // The ids that `sql` selects with a range bound as ?1 and ?2.
  LONG IdsInRange(const char* sql, KeyId low, KeyId high, std::vector<KeyId>* ids);
  // The pairs of ids the same way.
  LONG PairsInRange(const char* sql, KeyId low, KeyId high,
                    std::vector<std::pair<KeyId, KeyId>>* pairs);
  // The columns of a served hive's record as this store has them, and
  // whether it has those of the load's state.
  const char* HiveColumns() const;
  LONG ProbeLoadState();

  Connection connection_;  // first, so that it closes last
  std::string directory_;
  DirectoryOwner owner_;
  std::string path_;
  bool writable_ = false;
  bool hive_tables_ = false;   // the loaded-hive tables are there (once seen, for good)
  bool legacy_hives_ = false;  // the table of hives an earlier version copied into rows
  bool load_state_ = false;    // loaded_hives has the columns of the load's state
  // The store's names were folded by an earlier version's upper-casing and
  // this process may not fold them anew: names are looked up by FindChildByName
  // and ReadValueByName.
  bool old_folding_ = false;
  StoreSteps steps_;

  Statement key_exists_, find_child_, create_child_, has_children_, delete_values_, delete_key_;
  Statement key_row_, child_stats_, value_stats_, set_security_;
  Statement list_children_, list_values_, value_data_, read_value_;
  Statement write_value_, delete_value_;
  Statement key_data_, set_class_, set_last_write_;
  Statement hive_tables_probe_, add_hive_, find_hive_, find_hive_file_, remove_hive_;
  Statement find_legacy_hive_, find_legacy_hive_file_, remove_legacy_hive_, find_generation_;
  Statement insert_key_row_, mark_removed_, key_removed_, removed_children_, parent_of_;
  std::vector<ValueEntry> listing_rows_;  // ListValues gathers its rows here
};

}  // namespace orvik::posix
