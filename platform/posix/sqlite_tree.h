// The registry's durable store: one SQLite database (WAL mode) in the
// registry directory, holding the five root trees.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/posix/change_counter.h"
#include "platform/posix/sqlite_statement.h"
#include "platform/posix/store_location.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

// How changes reach the database: each write call as its own transaction, or
// all of a run's changes in one transaction committed when the store closes
// (or by Flush). kWhole is kPerRun for a program that keeps its changes whole
// or not at all: a failed write call is not undone on its own (which saves a
// savepoint per call) but spoils the transaction, which Flush then undoes.
// A name as the store compares it: folded, UTF-16BE, so that it sorts by
// code unit.
std::string FoldedBytes(std::u16string_view name);
// The time now as a FILETIME number.
int64_t NowAsFileTime();

enum class CommitPolicy { kPerCall, kPerRun, kWhole };

class SqliteTree final : public Tree {
 public:
  // Ids of the root keys in every store, in the order of their handle values.
  static constexpr KeyId kClassesRoot = 1;
  static constexpr KeyId kCurrentUser = 2;
  static constexpr KeyId kLocalMachine = 3;
  static constexpr KeyId kUsers = 4;
  static constexpr KeyId kCurrentConfig = 5;

  // Opens (creating when needed) the store in `directory`.
  static LONG Open(const RegistryPlace& place, CommitPolicy policy, int busy_timeout_ms,
                   std::unique_ptr<SqliteTree>* tree);
  ~SqliteTree() override;

  // Commits what a run transaction holds and makes every change of this
  // process durable on disk. Called when the store closes. A spoiled run
  // transaction (kWhole) is undone instead, with ERROR_FUNCTION_FAILED.
  LONG Flush();
  // Undoes what the run transaction holds (kPerRun); later changes begin a
  // new one.
  void Discard();

  // With grouping on, write steps under kPerCall are savepoints in a group
  // transaction that commits after kGroupSteps steps or kGroupTime, and when
  // grouping ends: each step stays all or nothing, and a killed process
  // loses at most its last group. Turning it off commits the open group.
  static constexpr int kGroupSteps = 1000;
  static constexpr std::chrono::milliseconds kGroupTime{50};
  LONG SetGrouping(bool on);

  sqlite3* db() const { return db_; }
  const std::string& directory() const { return directory_; }
  const DirectoryOwner& owner() const { return owner_; }

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
  // Removes the range's rows, values and marks, except the key `except`.
  LONG DeleteRange(KeyId low, KeyId high, KeyId except);

  bool Writable() const override { return writable_; }
  bool HoldsWriteLock() const override { return run_txn_open_; }
  LONG Begin(bool write, uint64_t* stamp) override;
  LONG End(bool commit) override;
  bool LastWriteAlone(uint64_t* before, uint64_t* after) const override;
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
  LONG AddLoadedHive(const LoadedHive& hive) override;
  LONG FindLoadedHive(KeyId key, LoadedHive* hive) override;
  LONG FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive) override;
  LONG RemoveLoadedHive(KeyId key) override;

 private:
  SqliteTree(sqlite3* db, std::string directory, CommitPolicy policy);
  LONG Initialize(int busy_timeout_ms, const DirectoryOwner& owner);
  LONG CreateSchema();
  // Inside CreateSchema's transaction (sqlite_schema_upgrade.cc).
  LONG ConvertFromVersion1();
  LONG ConvertFromVersion2();
  // FindChild and ReadValue in a store whose folded names this process may
  // not fold anew (sqlite_old_folding.cc).
  LONG FindChildByName(KeyId parent, std::u16string_view name, KeyId* child);
  LONG ReadValueByName(KeyId key, std::u16string_view name, StoredValue* value);
  LONG Exec(const char* sql);
  int Run(Statement& statement, const char* sql);
  int Use(Statement& statement, const char* sql);
  void ReleaseHeldRead();
  LONG Touch(KeyId key);
  LONG FlushTouch();
  LONG WriteTouch(KeyId key, int64_t time);
  LONG Fail(int rc);
  // A loaded hive's record (statement `find` already prepared, bound, stepped).
  static void ReadHiveRecord(const Query& q, LoadedHive* hive);
  // Whether a failed statement failed only because this store has loaded no
  // hive yet (stores made before hives could be loaded have no table).
  bool NoHivesTable(int rc) const;
  LONG CommitRunTransaction();
  // The ids that `sql` selects with a range bound as ?1 and ?2.
  LONG IdsInRange(const char* sql, KeyId low, KeyId high, std::vector<KeyId>* ids);

  sqlite3* db_;
  std::string directory_;
  DirectoryOwner owner_;
  std::string path_;
  ChangeCounter counter_;
  CommitPolicy policy_;
  bool writable_ = false;
  // The store's names were folded by an earlier version's upper-casing and
  // this process may not fold them anew: names are looked up by FindChildByName
  // and ReadValueByName.
  bool old_folding_ = false;
  bool in_step_ = false;  // between Begin and End
  bool in_write_step_ = false;
  bool step_is_lazy_ = false;       // BEGIN comes with the step's first statement
  uint64_t step_count_ = 0;         // shared counter when the step began
  bool held_read_ = false;          // a read transaction kept open between steps
  uint64_t held_count_ = 0;         // shared counter when it began
  bool step_is_txn_ = false;        // Begin opened a transaction that End closes
  bool step_is_savepoint_ = false;  // Begin opened a savepoint that End releases
  bool wrote_ = false;              // this process changed the store
  bool run_txn_open_ = false;       // the run transaction (kPerRun) is open
  bool run_spoiled_ = false;        // a write call of the run transaction failed (kWhole)
  KeyId run_present_ = 0;           // key seen in the run transaction, none removed since
  uint64_t local_changes_ = 0;
  bool write_alone_ = false;   // the last write step was the only change
  uint64_t write_before_ = 0;  // between these stamps
  uint64_t write_after_ = 0;
  int64_t data_version_value_ = 0;  // PRAGMA data_version at the last step's start
  bool run_version_known_ = false;  // read since the run transaction began
  struct PendingTouch {
    KeyId key = 0;  // 0: none
    int64_t time = 0;
  };
  PendingTouch pending_touch_;     // last-write time not yet written
  PendingTouch step_start_touch_;  // as it was when the step began
  bool grouping_ = false;          // SetGrouping(true)
  int group_steps_ = 0;            // write steps in the open group
  std::chrono::steady_clock::time_point group_start_;

  Statement begin_read_, begin_write_, commit_, rollback_, savepoint_, release_, rollback_to_;
  Statement data_version_;
  Statement key_exists_, find_child_, create_child_, has_children_, delete_values_, delete_key_;
  Statement key_row_, child_stats_, value_stats_, set_security_, touch_;
  Statement list_children_, list_values_, value_data_, read_value_;
  Statement write_value_, delete_value_;
  Statement key_data_, set_class_, set_last_write_;
  Statement add_hive_, find_hive_, find_hive_file_, remove_hive_;
  Statement find_legacy_hive_, find_legacy_hive_file_, remove_legacy_hive_, find_generation_;
  Statement insert_key_row_, mark_removed_, key_removed_, removed_children_, parent_of_;
  std::vector<ValueEntry> listing_rows_;  // ListValues gathers its rows here
};

}  // namespace orvik::posix
