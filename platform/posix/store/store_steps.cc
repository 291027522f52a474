// Beginning and ending the store's steps over SQLite's transactions.
#include "platform/posix/store/store_steps.h"

#include <utility>

#include "platform/posix/file_sync.h"
#include "platform/posix/file_time.h"

namespace orvik::posix {

StoreSteps::StoreSteps(sqlite3* db, std::string database_path, CommitPolicy policy)
    : db_(db), path_(std::move(database_path)), policy_(policy) {}

int StoreSteps::Run(Statement& statement, const char* sql) {
  if (int rc = statement.Prepare(db_, sql); rc != SQLITE_OK) return rc;
  Query q(statement);
  const int rc = q.Step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

int StoreSteps::Use(Statement& statement, const char* sql) {
  // A step on the fast path opens its read transaction with its first
  // statement, and keeps it for the following steps while the shared counter
  // shows no commit.
  if (step_is_lazy_) {
    step_is_lazy_ = false;
    if (int rc = Run(begin_read_, "BEGIN"); rc != SQLITE_OK) return rc;
    held_read_ = true;
    held_count_ = step_count_;
  }
  return statement.Prepare(db_, sql);
}

void StoreSteps::ReleaseHeldRead() {
  if (!held_read_) return;
  held_read_ = false;
  Run(commit_, "COMMIT");
}

bool StoreSteps::BeginFromCounter(uint64_t* stamp) {
  // An even shared counter names the committed state, and a read transaction
  // begun after it was read shows that state (or a later one, whose commit
  // has changed the counter since).
  if (run_txn_open_ || !counter_.Available()) return false;
  const uint64_t count = counter_.Load();
  if ((count & 1) != 0) return false;
  if (held_read_ && held_count_ != count) ReleaseHeldRead();
  step_is_lazy_ = !held_read_;
  step_count_ = count;
  in_step_ = true;
  in_write_step_ = false;
  *stamp = count << 1;
  return true;
}

int StoreSteps::BeginWrite() {
  int rc = SQLITE_OK;
  if (policy_ == CommitPolicy::kPerCall && !grouping_) {
    rc = Run(begin_write_, "BEGIN IMMEDIATE");
    step_is_txn_ = rc == SQLITE_OK;
    if (step_is_txn_) counter_.BeginWrite();
  } else {
    if (!run_txn_open_) {
      rc = Run(begin_write_, "BEGIN IMMEDIATE");
      run_txn_open_ = rc == SQLITE_OK;
      if (run_txn_open_) counter_.BeginWrite();
      group_steps_ = 0;
      group_start_ = std::chrono::steady_clock::now();
    }
    if (rc == SQLITE_OK && policy_ != CommitPolicy::kWhole) {
      rc = Run(savepoint_, "SAVEPOINT step");
      step_is_savepoint_ = rc == SQLITE_OK;
    }
  }
  ++local_changes_;
  wrote_ = true;
  return rc;
}

int StoreSteps::BeginRead() {
  // Inside the run transaction a read step is part of it.
  if (run_txn_open_) return SQLITE_OK;
  const int rc = Run(begin_read_, "BEGIN");
  step_is_txn_ = rc == SQLITE_OK;
  return rc;
}

LONG StoreSteps::ReadDataVersion() {
  // No other process commits while the run transaction holds the write lock,
  // so the version read once in it holds for all its steps.
  if (run_txn_open_ && run_version_known_) return ERROR_SUCCESS;
  int rc = data_version_.Prepare(db_, "PRAGMA data_version");
  if (rc == SQLITE_OK) {
    Query q(data_version_);
    rc = q.Step();
    if (rc == SQLITE_ROW) data_version_value_ = q.Int(0);
  }
  if (rc != SQLITE_ROW) {
    End(false);
    return SqliteError(rc);
  }
  run_version_known_ = run_txn_open_;
  return ERROR_SUCCESS;
}

uint64_t StoreSteps::SlowStamp(uint64_t changes) const {
  return (((static_cast<uint64_t>(data_version_value_) << 32) ^ changes) << 1) | 1;
}

LONG StoreSteps::Begin(bool write, uint64_t* stamp) {
  write_alone_ = false;
  step_is_txn_ = false;
  step_is_savepoint_ = false;
  if (snapshot_) {
    // Every step reads the snapshot's transaction; nothing may change it.
    if (write) return ERROR_BUSY;
    step_is_lazy_ = false;
    in_step_ = true;
    in_write_step_ = false;
    *stamp = snapshot_stamp_;
    return ERROR_SUCCESS;
  }
  if (!write && BeginFromCounter(stamp)) return ERROR_SUCCESS;
  ReleaseHeldRead();
  if (const int rc = write ? BeginWrite() : BeginRead(); rc != SQLITE_OK) return SqliteError(rc);
  in_step_ = true;
  in_write_step_ = write;
  if (step_is_savepoint_) step_start_touch_ = pending_touch_;
  if (LONG rc = ReadDataVersion(); rc != ERROR_SUCCESS) return rc;
  *stamp = SlowStamp(local_changes_);
  if (write && run_txn_open_) {
    // Inside the run transaction no other process commits: the step moves
    // the stamp of the read steps from before to after it and no further.
    write_before_ = SlowStamp(local_changes_ - 1);
    write_after_ = SlowStamp(local_changes_ + 1);
  }
  return ERROR_SUCCESS;
}

LONG StoreSteps::End(bool commit) {
  if (!in_step_) return ERROR_SUCCESS;
  in_step_ = false;
  step_is_lazy_ = false;
  if (!in_write_step_) commit = true;  // a read step has nothing to undo
  // A write step changes the stamp also for the steps that follow it.
  if (in_write_step_) ++local_changes_;
  int rc = SQLITE_OK;
  if (step_is_txn_) {
    rc = commit ? Run(commit_, "COMMIT") : Run(rollback_, "ROLLBACK");
    if (rc != SQLITE_OK && commit) Run(rollback_, "ROLLBACK");
    if (in_write_step_) {
      counter_.EndWrite();
      uint64_t before = 0;
      uint64_t after = 0;
      write_alone_ = commit && rc == SQLITE_OK && counter_.LastWriteAlone(&before, &after);
      write_before_ = before << 1;
      write_after_ = after << 1;
    }
  } else if (step_is_savepoint_) {
    if (!commit) {
      Run(rollback_to_, "ROLLBACK TO step");
      pending_touch_ = step_start_touch_;
      present_ = 0;
    }
    rc = Run(release_, "RELEASE step");
    write_alone_ = in_write_step_ && commit && rc == SQLITE_OK;
  } else if (in_write_step_ && policy_ == CommitPolicy::kWhole) {
    // Only the whole transaction can be undone.
    if (!commit) run_spoiled_ = true;
    write_alone_ = commit;
  }
  const bool group_step = step_is_savepoint_ && grouping_ && policy_ == CommitPolicy::kPerCall;
  step_is_txn_ = false;
  step_is_savepoint_ = false;
  if (rc != SQLITE_OK) return SqliteError(rc);
  if (group_step && (++group_steps_ >= kGroupSteps ||
                     std::chrono::steady_clock::now() - group_start_ >= kGroupTime)) {
    return CommitRunTransaction();
  }
  return ERROR_SUCCESS;
}

LONG StoreSteps::CommitRunTransaction() {
  if (!run_txn_open_) return ERROR_SUCCESS;
  LONG result = FlushTouch();
  run_txn_open_ = false;
  run_version_known_ = false;
  present_ = 0;
  if (result != ERROR_SUCCESS) {
    Run(rollback_, "ROLLBACK");
  } else if (int rc = Run(commit_, "COMMIT"); rc != SQLITE_OK) {
    Run(rollback_, "ROLLBACK");
    result = SqliteError(rc);
  }
  counter_.EndWrite();
  return result;
}

LONG StoreSteps::SetGrouping(bool on) {
  grouping_ = on;
  if (on || policy_ != CommitPolicy::kPerCall || in_step_) return ERROR_SUCCESS;
  return CommitRunTransaction();
}

bool StoreSteps::LastWriteAlone(uint64_t* before, uint64_t* after) const {
  if (!write_alone_) return false;
  *before = write_before_;
  *after = write_after_;
  return true;
}

LONG StoreSteps::BeginSnapshot() {
  if (snapshot_ || run_txn_open_) return ERROR_SUCCESS;
  ReleaseHeldRead();
  // The transaction takes its moment at its first read.
  if (int rc = Run(begin_read_, "BEGIN"); rc != SQLITE_OK) return SqliteError(rc);
  int rc = Run(snapshot_start_, "SELECT id FROM keys WHERE id=1");
  if (rc == SQLITE_OK) {
    if (rc = data_version_.Prepare(db_, "PRAGMA data_version"); rc == SQLITE_OK) {
      Query q(data_version_);
      rc = q.Step();
      if (rc == SQLITE_ROW) data_version_value_ = q.Int(0);
      rc = rc == SQLITE_ROW ? SQLITE_OK : rc;
    }
  }
  if (rc != SQLITE_OK) {
    Run(commit_, "COMMIT");
    return SqliteError(rc);
  }
  snapshot_ = true;
  snapshot_stamp_ = SlowStamp(local_changes_);
  return ERROR_SUCCESS;
}

void StoreSteps::EndSnapshot() {
  if (!snapshot_) return;
  snapshot_ = false;
  Run(commit_, "COMMIT");
}

LONG StoreSteps::Flush() {
  EndSnapshot();
  ReleaseHeldRead();
  if (run_txn_open_ && run_spoiled_) {
    Discard();
    return ERROR_FUNCTION_FAILED;
  }
  const LONG result = CommitRunTransaction();
  if (wrote_) {
    // Commits do not wait for the disk (synchronous=NORMAL); the run's end does.
    SyncPath(path_ + "-wal");
    SyncPath(path_);
    wrote_ = false;
  }
  return result;
}

void StoreSteps::Discard() {
  End(false);
  EndSnapshot();
  ReleaseHeldRead();
  run_spoiled_ = false;
  if (!run_txn_open_) return;
  run_txn_open_ = false;
  run_version_known_ = false;
  pending_touch_ = PendingTouch{};
  present_ = 0;
  Run(rollback_, "ROLLBACK");
  counter_.EndWrite();
  ++local_changes_;  // what was read inside the transaction is no longer so
}

LONG StoreSteps::Touch(KeyId key) {
  if (run_txn_open_) {
    if (pending_touch_.key != 0 && pending_touch_.key != key) {
      if (LONG rc = FlushTouch(); rc != ERROR_SUCCESS) return rc;
    }
    pending_touch_ = PendingTouch{key, NowAsFileTime()};
    return ERROR_SUCCESS;
  }
  return WriteTouch(key, NowAsFileTime());
}

LONG StoreSteps::FlushTouch() {
  if (pending_touch_.key == 0) return ERROR_SUCCESS;
  const PendingTouch touch = pending_touch_;
  pending_touch_ = PendingTouch{};
  return WriteTouch(touch.key, touch.time);
}

void StoreSteps::ForgetTouch(KeyId key) {
  if (pending_touch_.key == key) pending_touch_ = PendingTouch{};
}

LONG StoreSteps::WriteTouch(KeyId key, int64_t time) {
  if (int rc = Use(touch_, "UPDATE keys SET last_write=? WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(touch_);
  const int rc = q.Bind(time).Bind(key).Step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : SqliteError(rc);
}

}  // namespace orvik::posix
