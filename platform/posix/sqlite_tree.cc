// The SQLite store: schema, first-use set-up, transactions and the tree calls.
#include "platform/posix/sqlite_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/posix/codepage.h"
#include "platform/posix/sqlite_schema.h"
#include "platform/posix/store_location.h"
#include "platform/posix/value_forms.h"
#include "platform/posix/wal_batching_vfs.h"

namespace orvik::posix {

namespace {

// The database header's application id of every store: "ORVK".
constexpr int64_t kApplicationId = 0x4F52564B;
static_assert(kApplicationId == 1330796107);
constexpr const char* kVersionPragmas = "PRAGMA user_version=3; PRAGMA application_id=1330796107";
static_assert(kSchemaVersion == 3);
// Values up to this size travel with an enumeration's list.
constexpr int kCarriedDataSize = 1024;

struct InitialKey {
  KeyId parent;
  const char* name;
};

constexpr InitialKey kRoots[] = {
    {0, "HKEY_CLASSES_ROOT"}, {0, "HKEY_CURRENT_USER"},   {0, "HKEY_LOCAL_MACHINE"},
    {0, "HKEY_USERS"},        {0, "HKEY_CURRENT_CONFIG"},
};
constexpr InitialKey kInitialKeys[] = {
    {SqliteTree::kLocalMachine, "SOFTWARE"},
    {SqliteTree::kLocalMachine, "SYSTEM"},
    {SqliteTree::kCurrentUser, "Software"},
    {SqliteTree::kUsers, ".DEFAULT"},
};

std::optional<std::u16string> OptionalWide(const Query& q, int column) {
  if (q.IsNull(column)) return std::nullopt;
  return BytesToWide(q.Blob(column));
}

DWORD ToDword(int64_t value) { return static_cast<DWORD>(value); }

void SyncFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string FoldedBytes(std::u16string_view name) {
  const std::u16string folded = FoldName(name);
  std::string out(folded.size() * 2, '\0');
  for (size_t i = 0; i < folded.size(); ++i) {
    out[2 * i] = static_cast<char>(folded[i] >> 8);
    out[2 * i + 1] = static_cast<char>(folded[i] & 0xFF);
  }
  return out;
}

int64_t NowAsFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  constexpr int64_t kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns
  return kEpochDifference + static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

LONG SqliteTree::Open(const RegistryPlace& place, CommitPolicy policy, int busy_timeout_ms,
                      std::unique_ptr<SqliteTree>* tree) {
  if (const LONG rc = EnsureDirectory(place.directory); rc != ERROR_SUCCESS) return rc;
  // Links on the way to the directory are the user's own choice; from there
  // on no link is followed.
  RegistryPlace resolved = place;
  if (const LONG rc = ResolveDirectory(place.directory, &resolved.directory); rc != ERROR_SUCCESS) {
    return rc;
  }
  const std::string& directory = resolved.directory;
  DirectoryOwner owner;
  if (const LONG rc = CheckRegistryDirectory(resolved, &owner); rc != ERROR_SUCCESS) return rc;
  const std::string path = DatabasePath(directory);
  // The database file is created here rather than by SQLite, so that it gets
  // the directory owner's ownership (SQLite gives its -wal and -shm files the
  // database's owner).
  bool existed = true;
  if (const int fd = CreateRegistryFile(path, 0644, owner); fd >= 0) {
    close(fd);
    existed = false;
  } else if (errno != EEXIST && errno != EACCES && errno != EROFS) {
    return FileOpenError(errno);
  }
  // A path, never a URI (the path begins with "/" or "./"), and no link.
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &db,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
      WalBatchingVfsName());
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    if (rc == SQLITE_CANTOPEN_SYMLINK) return ORVIK_ERROR_REGISTRY_FILE_LINKED;
    return access(directory.c_str(), W_OK) != 0 || (existed && access(path.c_str(), R_OK) != 0)
               ? ERROR_ACCESS_DENIED
               : ERROR_REGISTRY_IO_FAILED;
  }
  sqlite3_busy_timeout(db, busy_timeout_ms);
  // Reads go through a mapping of the whole database file: a page is found
  // in the kernel's page cache without a system call or a copy, however large
  // the registry. Mapped pages are shared with the page cache and given back
  // under pressure, so they are not the run's own memory; the private page
  // cache (pages read from the WAL, pages being changed) stays small and
  // bounded. SQLite caps the mapping at its compiled limit.
  sqlite3_exec(db, "PRAGMA mmap_size=1099511627776; PRAGMA cache_size=-8192", nullptr, nullptr,
               nullptr);
  std::unique_ptr<SqliteTree> opened(new SqliteTree(db, directory, policy));
  if (const LONG init = opened->Initialize(busy_timeout_ms, owner); init != ERROR_SUCCESS) {
    return init;
  }
  if (!existed) SyncFile(directory);
  *tree = std::move(opened);
  return ERROR_SUCCESS;
}

SqliteTree::SqliteTree(sqlite3* db, std::string directory, CommitPolicy policy)
    : db_(db), directory_(std::move(directory)), path_(DatabasePath(directory_)), policy_(policy) {}

SqliteTree::~SqliteTree() {
  Flush();
  for (Statement* s :
       {&begin_read_,   &begin_write_,  &commit_,        &rollback_,    &savepoint_,
        &release_,      &rollback_to_,  &data_version_,  &key_exists_,  &find_child_,
        &create_child_, &has_children_, &delete_values_, &delete_key_,  &key_row_,
        &child_stats_,  &value_stats_,  &set_security_,  &touch_,       &list_children_,
        &list_values_,  &value_data_,   &read_value_,    &write_value_, &delete_value_,
        &key_data_,     &set_class_,    &set_last_write_}) {
    s->Finalize();
  }
  for (Statement* s :
       {&add_hive_, &find_hive_, &find_hive_file_, &remove_hive_, &find_legacy_hive_,
        &find_legacy_hive_file_, &remove_legacy_hive_, &find_generation_, &insert_key_row_,
        &mark_removed_, &key_removed_, &removed_children_, &parent_of_}) {
    s->Finalize();
  }
  sqlite3_close_v2(db_);
}

LONG SqliteTree::Fail(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
      return ERROR_REGISTRY_CORRUPT;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

LONG SqliteTree::Exec(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc);
}

LONG SqliteTree::Initialize(int busy_timeout_ms, const DirectoryOwner& owner) {
  owner_ = owner;
  writable_ = sqlite3_db_readonly(db_, "main") == 0;
  // What the database is, before anything in the directory is changed: a
  // database of another program is left as it is.
  int version = 0;
  int64_t application_id = 0;
  int64_t objects = 0;
  int64_t tables = 0;
  {
    Statement probe;
    int rc = probe.Prepare(db_,
                           "SELECT (SELECT user_version FROM pragma_user_version), "
                           "(SELECT application_id FROM pragma_application_id), "
                           "(SELECT count(*) FROM sqlite_schema), "
                           "(SELECT count(*) FROM sqlite_schema WHERE type='table' AND "
                           "name IN ('keys', 'vals'))");
    if (rc != SQLITE_OK) return Fail(rc);
    Query q(probe);
    rc = q.Step();
    if (rc != SQLITE_ROW) return Fail(rc);
    version = static_cast<int>(q.Int(0));
    application_id = q.Int(1);
    objects = q.Int(2);
    tables = q.Int(3);
  }
  const bool ours =
      application_id == kApplicationId ||
      // set up before stores carried the application id
      (application_id == 0 && version >= 1 && version <= kSchemaVersion && tables == 2);
  const bool empty = application_id == 0 && version == 0 && objects == 0;
  if (!ours && !empty) return ORVIK_ERROR_NOT_AN_ORVIK_REGISTRY;
  // Every writer must move the shared counter; one that cannot may not write.
  struct stat info {};
  const unsigned mode = stat(path_.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0644;
  if (LONG rc = counter_.Open(ChangeCounterPath(directory_), writable_, mode, owner);
      rc != ERROR_SUCCESS) {
    if (rc == ORVIK_ERROR_REGISTRY_FILE_LINKED || rc == ERROR_DISK_FULL) return rc;
    writable_ = false;
    if (rc = counter_.Open(ChangeCounterPath(directory_), false, mode, owner);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  // A reader that may not convert an older store reads it as it is: the
  // statements of the value calls work on both layouts.
  if (!writable_) {
    old_folding_ = version < kSchemaVersion;
    return version >= 1 && version <= kSchemaVersion ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  }
  // Keep the WAL and its index after the last connection closes, so that a
  // user who may only read the registry can still open it.
  int persist = 1;
  sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  // Switching a new database to WAL needs it to itself, and SQLite does not
  // wait for that when other processes are setting it up at the same moment:
  // wait here, as long as for any other writer.
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_timeout_ms);
  LONG wal = Exec("PRAGMA journal_mode=WAL");
  while (wal == ERROR_BUSY && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    wal = Exec("PRAGMA journal_mode=WAL");
  }
  if (wal != ERROR_SUCCESS) return wal;
  // A checkpoint (copying the log into the database) costs two syncs with
  // synchronous=NORMAL, whatever its size: most of what a call that commits
  // on its own waits for. Checkpoints come every 10000 pages of log (40 MiB)
  // instead of SQLite's 1000, and the log keeps its size between them, so
  // that it is written over rather than grown again. The last connection's
  // close checkpoints and empties it, as before.
  if (LONG rc = Exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000; "
                     "PRAGMA journal_size_limit=67108864");
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (version == kSchemaVersion) return ERROR_SUCCESS;
  if (version > kSchemaVersion) return ERROR_REGISTRY_CORRUPT;
  return CreateSchema();
}

LONG SqliteTree::CreateSchema() {
  if (LONG rc = Exec("BEGIN IMMEDIATE"); rc != ERROR_SUCCESS) return rc;
  auto abort = [this](LONG rc) {
    Exec("ROLLBACK");
    return rc;
  };
  int version = 0;
  {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &stmt, nullptr);
    if (sqlite3_step(stmt) == SQLITE_ROW) version = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
  }
  if (version == kSchemaVersion) return Exec("COMMIT");  // another process set it up
  if (version > kSchemaVersion) return abort(ERROR_REGISTRY_CORRUPT);
  if (version == 1 || version == 2) {
    if (version == 1) {
      if (LONG rc = ConvertFromVersion1(); rc != ERROR_SUCCESS) return abort(rc);
    }
    if (LONG rc = ConvertFromVersion2(); rc != ERROR_SUCCESS) return abort(rc);
    if (LONG rc = Exec(kVersionPragmas); rc != ERROR_SUCCESS) return abort(rc);
    return Exec("COMMIT");
  }
  if (LONG rc = Exec(kKeysSchema); rc != ERROR_SUCCESS) return abort(rc);
  if (LONG rc = Exec(kValsSchema); rc != ERROR_SUCCESS) return abort(rc);
  const int64_t now = NowAsFileTime();
  Statement insert;
  if (int rc = insert.Prepare(db_,
                              "INSERT INTO keys(id, parent, folded, name, name_ansi, class, "
                              "class_ansi, security, last_write) VALUES(?,?,?,?,?,NULL,0,NULL,?)");
      rc != SQLITE_OK) {
    return abort(Fail(rc));
  }
  KeyId id = 0;
  auto add = [&](const InitialKey& key) {
    const std::u16string name = AnsiToWide(key.name);
    Query q(insert);
    q.Bind(++id).Bind(key.parent).BindBlob(FoldedBytes(name)).BindBlob(WideToBytes(name));
    q.Bind(static_cast<int64_t>(AnsiLength(name))).Bind(now);
    return q.Step();
  };
  for (const auto& key : kRoots) {
    if (int rc = add(key); rc != SQLITE_DONE) return abort(Fail(rc));
  }
  for (const auto& key : kInitialKeys) {
    if (int rc = add(key); rc != SQLITE_DONE) return abort(Fail(rc));
  }
  insert.Finalize();
  if (LONG rc = Exec(kVersionPragmas); rc != ERROR_SUCCESS) {
    return abort(rc);
  }
  return Exec("COMMIT");
}

int SqliteTree::Run(Statement& statement, const char* sql) {
  if (int rc = statement.Prepare(db_, sql); rc != SQLITE_OK) return rc;
  Query q(statement);
  const int rc = q.Step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

int SqliteTree::Use(Statement& statement, const char* sql) {
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

void SqliteTree::ReleaseHeldRead() {
  if (!held_read_) return;
  held_read_ = false;
  Run(commit_, "COMMIT");
}

LONG SqliteTree::Begin(bool write, uint64_t* stamp) {
  if (write && !writable_) return ERROR_ACCESS_DENIED;
  write_alone_ = false;
  int rc = SQLITE_OK;
  step_is_txn_ = false;
  step_is_savepoint_ = false;
  if (!write && !run_txn_open_ && counter_.Available()) {
    // Fast path: an even shared counter names the committed state, and a read
    // transaction begun after it was read shows that state (or a later one,
    // whose commit has changed the counter since).
    if (const uint64_t count = counter_.Load(); (count & 1) == 0) {
      if (held_read_ && held_count_ != count) ReleaseHeldRead();
      step_is_lazy_ = !held_read_;
      step_count_ = count;
      in_step_ = true;
      in_write_step_ = false;
      *stamp = count << 1;
      return ERROR_SUCCESS;
    }
  }
  ReleaseHeldRead();
  if (write) {
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
  } else if (!run_txn_open_) {
    rc = Run(begin_read_, "BEGIN");
    step_is_txn_ = rc == SQLITE_OK;
  }
  if (rc != SQLITE_OK) return Fail(rc);
  in_step_ = true;
  in_write_step_ = write;
  if (step_is_savepoint_) step_start_touch_ = pending_touch_;
  // No other process commits while the run transaction holds the write lock,
  // so the version read once in it holds for all its steps.
  if (!run_txn_open_ || !run_version_known_) {
    if (rc = data_version_.Prepare(db_, "PRAGMA data_version"); rc == SQLITE_OK) {
      Query q(data_version_);
      rc = q.Step();
      if (rc == SQLITE_ROW) data_version_value_ = q.Int(0);
    }
    if (rc != SQLITE_ROW) {
      End(false);
      return Fail(rc);
    }
    run_version_known_ = run_txn_open_;
  }
  // Odd stamps: never equal to a counter stamp.
  auto slow_stamp = [this](uint64_t changes) {
    return (((static_cast<uint64_t>(data_version_value_) << 32) ^ changes) << 1) | 1;
  };
  *stamp = slow_stamp(local_changes_);
  if (write && run_txn_open_) {
    // Inside the run transaction no other process commits: the step moves
    // the stamp of the read steps from before to after it and no further.
    write_before_ = slow_stamp(local_changes_ - 1);
    write_after_ = slow_stamp(local_changes_ + 1);
  }
  return ERROR_SUCCESS;
}

LONG SqliteTree::End(bool commit) {
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
      run_present_ = 0;
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
  if (rc != SQLITE_OK) return Fail(rc);
  if (group_step && (++group_steps_ >= kGroupSteps ||
                     std::chrono::steady_clock::now() - group_start_ >= kGroupTime)) {
    return CommitRunTransaction();
  }
  return ERROR_SUCCESS;
}

LONG SqliteTree::CommitRunTransaction() {
  if (!run_txn_open_) return ERROR_SUCCESS;
  LONG result = FlushTouch();
  run_txn_open_ = false;
  run_version_known_ = false;
  run_present_ = 0;
  if (result != ERROR_SUCCESS) {
    Run(rollback_, "ROLLBACK");
  } else if (int rc = Run(commit_, "COMMIT"); rc != SQLITE_OK) {
    Run(rollback_, "ROLLBACK");
    result = Fail(rc);
  }
  counter_.EndWrite();
  return result;
}

LONG SqliteTree::SetGrouping(bool on) {
  grouping_ = on;
  if (on || policy_ != CommitPolicy::kPerCall || in_step_) return ERROR_SUCCESS;
  return CommitRunTransaction();
}

bool SqliteTree::LastWriteAlone(uint64_t* before, uint64_t* after) const {
  if (!write_alone_) return false;
  *before = write_before_;
  *after = write_after_;
  return true;
}

LONG SqliteTree::Flush() {
  ReleaseHeldRead();
  if (run_txn_open_ && run_spoiled_) {
    Discard();
    return ERROR_FUNCTION_FAILED;
  }
  const LONG result = CommitRunTransaction();
  if (wrote_) {
    // Commits do not wait for the disk (synchronous=NORMAL); the run's end does.
    SyncFile(path_ + "-wal");
    SyncFile(path_);
    wrote_ = false;
  }
  return result;
}

void SqliteTree::Discard() {
  End(false);
  ReleaseHeldRead();
  run_spoiled_ = false;
  if (!run_txn_open_) return;
  run_txn_open_ = false;
  run_version_known_ = false;
  pending_touch_ = PendingTouch{};
  run_present_ = 0;
  Run(rollback_, "ROLLBACK");
  counter_.EndWrite();
  ++local_changes_;  // what was read inside the transaction is no longer so
}

LONG SqliteTree::KeyExists(KeyId key, bool* exists) {
  // Inside the run transaction only this process changes the store: a key
  // seen there stays until this process removes a key.
  if (run_txn_open_ && key == run_present_) {
    *exists = true;
    return ERROR_SUCCESS;
  }
  if (int rc = Use(key_exists_, "SELECT 1 FROM keys WHERE id=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(key_exists_);
  const int rc = q.Bind(key).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc);
  *exists = rc == SQLITE_ROW;
  if (run_txn_open_ && *exists) run_present_ = key;
  return ERROR_SUCCESS;
}

LONG SqliteTree::FindChild(KeyId parent, std::u16string_view name, KeyId* child) {
  if (old_folding_) return FindChildByName(parent, name, child);
  if (int rc = Use(find_child_, "SELECT id FROM keys WHERE parent=? AND folded=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(find_child_);
  const int rc = q.Bind(parent).BindBlob(FoldedBytes(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc);
  *child = q.Int(0);
  return ERROR_SUCCESS;
}

LONG SqliteTree::Touch(KeyId key) {
  // Inside the run transaction the last-write time of a key that one step
  // after another changes is written once, when another key is touched, the
  // time is read, or the transaction commits. A step that fails takes its
  // touch back with its other changes (or spoils the whole transaction).
  if (run_txn_open_) {
    if (pending_touch_.key != 0 && pending_touch_.key != key) {
      if (LONG rc = FlushTouch(); rc != ERROR_SUCCESS) return rc;
    }
    pending_touch_ = PendingTouch{key, NowAsFileTime()};
    return ERROR_SUCCESS;
  }
  return WriteTouch(key, NowAsFileTime());
}

LONG SqliteTree::FlushTouch() {
  if (pending_touch_.key == 0) return ERROR_SUCCESS;
  const PendingTouch touch = pending_touch_;
  pending_touch_ = PendingTouch{};
  return WriteTouch(touch.key, touch.time);
}

LONG SqliteTree::WriteTouch(KeyId key, int64_t time) {
  if (int rc = Use(touch_, "UPDATE keys SET last_write=? WHERE id=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(touch_);
  const int rc = q.Bind(time).Bind(key).Step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG SqliteTree::CreateChild(KeyId parent, std::u16string_view name,
                             const std::optional<std::u16string>& class_name, KeyId* child) {
  if (int rc = Use(create_child_,
                   "INSERT INTO keys(parent, folded, name, name_ansi, class, class_ansi, security, "
                   "last_write) VALUES(?1,?2,?3,?4,?5,?6,"
                   "(SELECT security FROM keys WHERE id=?1),?7)");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(create_child_);
    q.Bind(parent).BindBlob(FoldedBytes(name)).BindBlob(WideToBytes(name));
    q.Bind(static_cast<int64_t>(AnsiLength(name)));
    if (class_name) {
      q.BindBlob(WideToBytes(*class_name)).Bind(static_cast<int64_t>(AnsiLength(*class_name)));
    } else {
      q.BindNull().Bind(0);
    }
    q.Bind(NowAsFileTime());
    if (int rc = q.Step(); rc != SQLITE_DONE) return Fail(rc);
  }
  *child = sqlite3_last_insert_rowid(db_);
  return Touch(parent);
}

LONG SqliteTree::DeleteKey(KeyId key) {
  {
    // A loaded hive's key goes only with its unloading.
    LoadedHive hive;
    const LONG found = FindLoadedHive(key, &hive);
    if (found == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
    if (found != ERROR_FILE_NOT_FOUND) return found;
  }
  run_present_ = 0;
  if (int rc = Use(has_children_, "SELECT 1 FROM keys WHERE parent=? LIMIT 1"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(has_children_);
    const int rc = q.Bind(key).Step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  if (int rc = Use(delete_values_, "DELETE FROM vals WHERE key=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(delete_values_);
    if (int rc = q.Bind(key).Step(); rc != SQLITE_DONE) return Fail(rc);
  }
  if (int rc = Use(delete_key_, "DELETE FROM keys WHERE id=? RETURNING parent"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  KeyId parent = 0;
  {
    Query q(delete_key_);
    const int rc = q.Bind(key).Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return Fail(rc);
    parent = q.Int(0);
    if (int done = q.Step(); done != SQLITE_DONE) return Fail(done);
  }
  return Touch(parent);
}

LONG SqliteTree::KeyDepth(KeyId key, int* depth) {
  KeyId top = 0;
  if (LONG rc = KeyDepthInRows(key, depth, &top); rc != ERROR_SUCCESS) return rc;
  // Every key of the store leads up to a root.
  return top == 0 ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT;
}

LONG SqliteTree::GetKeyHeader(KeyId key, KeyInfo* info) {
  *info = KeyInfo{};
  if (LONG rc = FlushTouch(); rc != ERROR_SUCCESS) return rc;
  if (int rc = Use(key_row_, "SELECT class, security, last_write FROM keys WHERE id=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(key_row_);
    const int rc = q.Bind(key).Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return Fail(rc);
    info->class_name = OptionalWide(q, 0);
    info->security = std::string(q.Blob(1));
    info->last_write = q.Int(2);
  }
  return ERROR_SUCCESS;
}

LONG SqliteTree::GetKeyInfo(KeyId key, KeyInfo* info) {
  if (LONG rc = GetKeyHeader(key, info); rc != ERROR_SUCCESS) return rc;
  if (int rc = Use(child_stats_,
                   "SELECT count(*), max(name_ansi), max(class_ansi) FROM keys WHERE parent=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(child_stats_);
    if (int rc = q.Bind(key).Step(); rc != SQLITE_ROW) return Fail(rc);
    info->subkeys = ToDword(q.Int(0));
    info->max_subkey_name = ToDword(q.Int(1));
    info->max_subkey_class = ToDword(q.Int(2));
  }
  if (int rc =
          Use(value_stats_, "SELECT count(*), max(name_ansi), max(fit_size) FROM vals WHERE key=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(value_stats_);
  if (int rc = q.Bind(key).Step(); rc != SQLITE_ROW) return Fail(rc);
  info->values = ToDword(q.Int(0));
  info->max_value_name = ToDword(q.Int(1));
  info->max_value_data = ToDword(q.Int(2));
  return ERROR_SUCCESS;
}

LONG SqliteTree::SetKeySecurity(KeyId key, std::string_view security) {
  if (int rc = Use(set_security_, "UPDATE keys SET security=? WHERE id=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(set_security_);
  if (int rc = q.BindBlob(security).Bind(key).Step(); rc != SQLITE_DONE) return Fail(rc);
  return sqlite3_changes(db_) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG SqliteTree::ListChildren(KeyId key, std::vector<ChildEntry>* children) {
  children->clear();
  if (LONG rc = FlushTouch(); rc != ERROR_SUCCESS) return rc;
  if (int rc = Use(list_children_,
                   "SELECT id, name, class, last_write FROM keys WHERE parent=? ORDER BY folded");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(list_children_);
  q.Bind(key);
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) {
    children->push_back(ChildEntry{q.Int(0), BytesToWide(q.Blob(1)), OptionalWide(q, 2), q.Int(3)});
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG SqliteTree::ListValues(KeyId key, std::vector<ValueEntry>* values) {
  values->clear();
  // One range of the table, in order of name; the creation order is the
  // order of the ids. A datum of up to 1 KiB comes along (a blob), a larger
  // one only with its size (an integer).
  if (int rc = Use(list_values_,
                   "SELECT id, name, type, fit_size, "
                   "CASE WHEN length(data) <= 1024 THEN data ELSE length(data) END "
                   "FROM vals WHERE key=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  static_assert(kCarriedDataSize == 1024);
  // The rows gather in a vector kept for every listing; the handle's list
  // then takes exactly the room it needs (handles keep their lists).
  std::vector<ValueEntry>& rows = listing_rows_;
  rows.clear();
  Query q(list_values_);
  q.Bind(key);
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) {
    ValueEntry& entry = rows.emplace_back();
    entry.ref = q.Int(0);
    entry.name = BytesToWide(q.Blob(1));
    entry.type = ToDword(q.Int(2));
    entry.fit_size = static_cast<size_t>(q.Int(3));
    if (q.Type(4) == SQLITE_INTEGER) {
      entry.size = static_cast<size_t>(q.Int(4));
    } else {
      entry.data = std::string(q.Blob(4));
      entry.size = entry.data->size();
    }
  }
  if (rc != SQLITE_DONE) return Fail(rc);
  const auto by_id = [](const ValueEntry& a, const ValueEntry& b) { return a.ref < b.ref; };
  if (!std::is_sorted(rows.begin(), rows.end(), by_id)) std::sort(rows.begin(), rows.end(), by_id);
  values->assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  return ERROR_SUCCESS;
}

LONG SqliteTree::ReadValueData(int64_t ref, std::string* data) {
  if (int rc = Use(value_data_, "SELECT data FROM vals WHERE id=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(value_data_);
  const int rc = q.Bind(ref).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc);
  *data = std::string(q.Blob(0));
  return ERROR_SUCCESS;
}

LONG SqliteTree::ReadValue(KeyId key, std::u16string_view name, StoredValue* value) {
  if (old_folding_) return ReadValueByName(key, name, value);
  if (int rc = Use(read_value_, "SELECT type, data FROM vals WHERE key=? AND folded=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(read_value_);
  const int rc = q.Bind(key).BindBlob(FoldedBytes(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc);
  value->type = ToDword(q.Int(0));
  value->data = std::string(q.Blob(1));
  return ERROR_SUCCESS;
}

LONG SqliteTree::WriteValue(KeyId key, std::u16string_view name, DWORD type,
                            std::string_view data) {
  if (data.size() > static_cast<size_t>(sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1)) - 64) {
    return ERROR_INVALID_PARAMETER;
  }
  const auto fit = static_cast<int64_t>(FittingSize(type, data));
  // One statement: a new value goes to the end of the order (the next id
  // after the largest, found at the end of the index of ids), an existing one
  // keeps its row (its place in the order) and its name's spelling.
  if (int rc = Use(write_value_,
                   "INSERT INTO vals(key, folded, id, name, name_ansi, type, data, fit_size) "
                   "VALUES(?,?,(SELECT ifnull(max(id), 0) + 1 FROM vals),?,?,?,?,?) "
                   "ON CONFLICT(key, folded) DO UPDATE SET "
                   "type=excluded.type, data=excluded.data, fit_size=excluded.fit_size");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(write_value_);
    q.Bind(key).BindBlob(FoldedBytes(name)).BindBlob(WideToBytes(name));
    q.Bind(static_cast<int64_t>(AnsiLength(name))).Bind(type).BindBlob(data).Bind(fit);
    if (int rc = q.Step(); rc != SQLITE_DONE) return Fail(rc);
  }
  return Touch(key);
}

LONG SqliteTree::DeleteValue(KeyId key, std::u16string_view name) {
  if (int rc = Use(delete_value_, "DELETE FROM vals WHERE key=? AND folded=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  {
    Query q(delete_value_);
    if (int rc = q.Bind(key).BindBlob(FoldedBytes(name)).Step(); rc != SQLITE_DONE) {
      return Fail(rc);
    }
  }
  if (sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
  return Touch(key);
}

LONG SqliteTree::GetKeyData(KeyId key, KeyData* data) {
  if (int rc = Use(key_data_, "SELECT name, class, security, last_write FROM keys WHERE id=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(key_data_);
  const int rc = q.Bind(key).Step();
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return Fail(rc);
  data->name = BytesToWide(q.Blob(0));
  data->class_name = OptionalWide(q, 1);
  data->security = std::string(q.Blob(2));
  data->last_write = q.Int(3);
  return ERROR_SUCCESS;
}

LONG SqliteTree::SetKeyClass(KeyId key, const std::optional<std::u16string>& class_name) {
  if (int rc = Use(set_class_, "UPDATE keys SET class=?, class_ansi=? WHERE id=?");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(set_class_);
  if (class_name) {
    q.BindBlob(WideToBytes(*class_name)).Bind(static_cast<int64_t>(AnsiLength(*class_name)));
  } else {
    q.BindNull().Bind(0);
  }
  if (int rc = q.Bind(key).Step(); rc != SQLITE_DONE) return Fail(rc);
  return sqlite3_changes(db_) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG SqliteTree::SetKeyLastWrite(KeyId key, int64_t last_write) {
  // A time given outright wins over the key's pending touch.
  if (pending_touch_.key == key) pending_touch_ = PendingTouch{};
  if (int rc = Use(set_last_write_, "UPDATE keys SET last_write=? WHERE id=?"); rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(set_last_write_);
  if (int rc = q.Bind(last_write).Bind(key).Step(); rc != SQLITE_DONE) return Fail(rc);
  return sqlite3_changes(db_) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

}  // namespace orvik::posix
