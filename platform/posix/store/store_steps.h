// The steps of the store: every registry call reads or writes the database
// in one step, and the steps are SQLite transactions. A read step takes the
// read transaction it keeps open from the step before while the shared
// change counter shows no commit; a write step is a transaction of its own,
// or a savepoint in the transaction of the run or of a change group. Each
// step reports a stamp that stays equal while nothing in the store changed.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/posix/store/change_counter.h"
#include "platform/posix/store/sqlite_statement.h"
#include "platform/posix/tree.h"

namespace orvik::posix {

// How changes reach the database: each write call as its own transaction, or
// all of a run's changes in one transaction committed when the store closes
// (or by Flush). kWhole is kPerRun for a program that keeps its changes whole
// or not at all: a failed write call is not undone on its own (which saves a
// savepoint per call) but spoils the transaction, which Flush then undoes.
enum class CommitPolicy { kPerCall, kPerRun, kWhole };

class StoreSteps {
 public:
  // Over the connection to the database file at `database_path`.
  StoreSteps(sqlite3* db, std::string database_path, CommitPolicy policy);
  StoreSteps(const StoreSteps&) = delete;
  StoreSteps& operator=(const StoreSteps&) = delete;

  // The counter that the store opens, and that the steps move.
  ChangeCounter& counter() { return counter_; }

  // As Tree::Begin, Tree::End and Tree::LastWriteAlone. The caller checks
  // that the store may be written before a write step.
  LONG Begin(bool write, uint64_t* stamp);
  LONG End(bool commit);
  bool LastWriteAlone(uint64_t* before, uint64_t* after) const;
  // Whether the run's or a group's transaction holds the write lock.
  bool HoldsWriteLock() const { return run_txn_open_; }

  // Commits what a run transaction holds and makes every change of this
  // process durable on disk. A spoiled run transaction (kWhole) is undone
  // instead, with ERROR_FUNCTION_FAILED.
  LONG Flush();
  // Undoes what the run transaction holds; later changes begin a new one.
  void Discard();

  // Between BeginSnapshot and EndSnapshot every read step is served by one
  // read transaction, begun here: the steps see the store as it was at that
  // moment, while other processes go on committing (a reader in WAL mode
  // holds up no writer). A write step in between is refused (ERROR_BUSY).
  // Inside a run transaction, which no other process can change, nothing
  // needs doing.
  LONG BeginSnapshot();
  void EndSnapshot();

  // With grouping on, write steps under kPerCall are savepoints in a group
  // transaction that commits after kGroupSteps steps or kGroupTime, and when
  // grouping ends: each step stays all or nothing, and a killed process
  // loses at most its last group. Turning it off commits the open group.
  static constexpr int kGroupSteps = 1000;
  static constexpr std::chrono::milliseconds kGroupTime{50};
  LONG SetGrouping(bool on);

  // Prepares a statement of the step (once for the connection's life). The
  // first statement of a read step that takes no kept transaction begins
  // one, which later steps keep while the counter shows no commit.
  int Use(Statement& statement, const char* sql);

  // Sets the key's last-write time to now. Inside the run transaction the
  // time of a key that one step after another changes is written once: when
  // another key is touched, the time is read (FlushTouch first), or the
  // transaction commits. A step that fails takes its touch back with its
  // other changes (or spoils the whole transaction).
  LONG Touch(KeyId key);
  LONG FlushTouch();
  // A time given outright wins over the key's pending touch.
  void ForgetTouch(KeyId key);

  // Inside the run transaction only this process changes the store: a key
  // seen there stays until this process removes a key.
  bool KnownPresent(KeyId key) const { return run_txn_open_ && key == present_; }
  void NotePresent(KeyId key) {
    if (run_txn_open_) present_ = key;
  }
  void ForgetPresent() { present_ = 0; }

 private:
  struct PendingTouch {
    KeyId key = 0;  // 0: none
    int64_t time = 0;
  };

  // Runs a statement that returns nothing the caller needs.
  int Run(Statement& statement, const char* sql);
  // A read step on the stamp of an even shared counter, when there is one.
  bool BeginFromCounter(uint64_t* stamp);
  int BeginWrite();
  int BeginRead();
  // PRAGMA data_version, the changes of other connections, at a step's start.
  LONG ReadDataVersion();
  // The stamp of a step that does not go by the counter: odd, never equal
  // to a counter stamp.
  uint64_t SlowStamp(uint64_t changes) const;
  void ReleaseHeldRead();
  LONG CommitRunTransaction();
  LONG WriteTouch(KeyId key, int64_t time);

  sqlite3* db_;
  std::string path_;
  ChangeCounter counter_;
  CommitPolicy policy_;
  bool in_step_ = false;  // between Begin and End
  bool in_write_step_ = false;
  bool step_is_lazy_ = false;       // BEGIN comes with the step's first statement
  uint64_t step_count_ = 0;         // shared counter when the step began
  bool held_read_ = false;          // a read transaction kept open between steps
  bool snapshot_ = false;           // BeginSnapshot's read transaction is open
  uint64_t snapshot_stamp_ = 0;     // the stamp of every step inside it
  uint64_t held_count_ = 0;         // shared counter when it began
  bool step_is_txn_ = false;        // Begin opened a transaction that End closes
  bool step_is_savepoint_ = false;  // Begin opened a savepoint that End releases
  bool wrote_ = false;              // this process changed the store
  bool run_txn_open_ = false;       // the run transaction (kPerRun) is open
  bool run_spoiled_ = false;        // a write call of the run transaction failed (kWhole)
  KeyId present_ = 0;               // key seen in the run transaction, none removed since
  uint64_t local_changes_ = 0;
  bool write_alone_ = false;   // the last write step was the only change
  uint64_t write_before_ = 0;  // between these stamps
  uint64_t write_after_ = 0;
  int64_t data_version_value_ = 0;  // PRAGMA data_version at the last step's start
  bool run_version_known_ = false;  // read since the run transaction began
  PendingTouch pending_touch_;      // last-write time not yet written
  PendingTouch step_start_touch_;   // as it was when the step began
  bool grouping_ = false;           // SetGrouping(true)
  int group_steps_ = 0;             // write steps in the open group
  std::chrono::steady_clock::time_point group_start_;

  Statement begin_read_, begin_write_, commit_, rollback_, savepoint_, release_, rollback_to_;
  Statement data_version_, touch_, snapshot_start_;
};

}  // namespace orvik::posix
