// Opening the SQLite store: the directory's checks, the database file, what
// the database is before anything is changed, the change counter, WAL mode,
// and the schema of a new store or of one made by an earlier version.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "platform/posix/codepage.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/file_sync.h"
#include "platform/posix/file_time.h"
#include "platform/posix/store/sqlite_schema.h"
#include "platform/posix/store/sqlite_store.h"
#include "platform/posix/store/store_location.h"
#include "platform/posix/store/wal_batching_vfs.h"

namespace orvik::posix {

namespace {

// The database header's application id of every store: "ORVK".
constexpr int64_t kApplicationId = 0x4F52564B;

struct InitialKey {
  KeyId parent;
  const char* name;
};

constexpr InitialKey kRoots[] = {
    {0, "HKEY_CLASSES_ROOT"}, {0, "HKEY_CURRENT_USER"},   {0, "HKEY_LOCAL_MACHINE"},
    {0, "HKEY_USERS"},        {0, "HKEY_CURRENT_CONFIG"},
};
constexpr InitialKey kInitialKeys[] = {
    {SqliteStore::kLocalMachine, "SOFTWARE"},
    {SqliteStore::kLocalMachine, "SYSTEM"},
    {SqliteStore::kCurrentUser, "Software"},
    {SqliteStore::kUsers, ".DEFAULT"},
};

// Marks the database as a store of this version's schema.
std::string VersionPragmas() {
  return "PRAGMA user_version=" + std::to_string(kSchemaVersion) +
         "; PRAGMA application_id=" + std::to_string(kApplicationId);
}

}  // namespace

// What the database file holds before the store touches it.
struct SqliteStore::Probe {
  int version = 0;  // PRAGMA user_version
  int64_t application_id = 0;
  int64_t objects = 0;      // of every kind
  int64_t tables = 0;       // `keys` and `vals`
  int64_t hive_tables = 0;  // `loaded_hives` and `removed_hive_keys`
  bool load_state = false;  // the columns of the load's state in `loaded_hives`
  bool legacy_hives = false;

  bool Ours() const {
    return application_id == kApplicationId ||
           // set up before stores carried the application id
           (application_id == 0 && version >= 1 && version <= kSchemaVersion && tables == 2);
  }
  bool Empty() const { return application_id == 0 && version == 0 && objects == 0; }
};

LONG SqliteStore::Open(const RegistryPlace& place, CommitPolicy policy, int busy_timeout_ms,
                       std::unique_ptr<SqliteStore>* store) {
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
  if (const int fd = CreateRegistryFile(path, NewDatabaseMode(owner), owner); fd >= 0) {
    close(fd);
    existed = false;
  } else if (errno != EEXIST && errno != EACCES && errno != EROFS) {
    return RegistryFileError(errno);
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
  std::unique_ptr<SqliteStore> opened(new SqliteStore(db, directory, policy));
  if (const LONG init = opened->Initialize(busy_timeout_ms, owner); init != ERROR_SUCCESS) {
    return init;
  }
  if (!existed) SyncPath(directory);
  *store = std::move(opened);
  return ERROR_SUCCESS;
}

SqliteStore::SqliteStore(sqlite3* db, std::string directory, CommitPolicy policy)
    : connection_(db),
      directory_(std::move(directory)),
      path_(DatabasePath(directory_)),
      steps_(db, path_, policy) {}

LONG SqliteStore::Exec(const char* sql) {
  const int rc = sqlite3_exec(db(), sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? ERROR_SUCCESS : SqliteError(rc);
}

LONG SqliteStore::Initialize(int busy_timeout_ms, const DirectoryOwner& owner) {
  owner_ = owner;
  writable_ = sqlite3_db_readonly(db(), "main") == 0;
  // What the database is, before anything in the directory is changed: a
  // database of another program is left as it is.
  Probe probe;
  if (LONG rc = ProbeDatabase(&probe); rc != ERROR_SUCCESS) return rc;
  if (!probe.Ours() && !probe.Empty()) return ORVIK_ERROR_NOT_AN_ORVIK_REGISTRY;
  hive_tables_ = probe.hive_tables == 2;
  load_state_ = probe.load_state;
  legacy_hives_ = probe.legacy_hives;
  if (LONG rc = OpenCounter(owner); rc != ERROR_SUCCESS) return rc;
  // A reader that may not convert an older store reads it as it is: the
  // statements of the value calls work on both layouts.
  if (!writable_) {
    old_folding_ = probe.version < kSchemaVersion;
    return probe.version >= 1 && probe.version <= kSchemaVersion ? ERROR_SUCCESS
                                                                 : ERROR_ACCESS_DENIED;
  }
  if (LONG rc = EnterWalMode(busy_timeout_ms); rc != ERROR_SUCCESS) return rc;
  if (probe.version == kSchemaVersion) return ERROR_SUCCESS;
  if (probe.version > kSchemaVersion) return ERROR_REGISTRY_CORRUPT;
  return CreateSchema();
}

LONG SqliteStore::ProbeDatabase(Probe* probe) {
  Statement statement;
  int rc = statement.Prepare(db(),
                             "SELECT (SELECT user_version FROM pragma_user_version), "
                             "(SELECT application_id FROM pragma_application_id), "
                             "(SELECT count(*) FROM sqlite_schema), "
                             "(SELECT count(*) FROM sqlite_schema WHERE type='table' AND "
                             "name IN ('keys', 'vals')), "
                             "(SELECT count(*) FROM sqlite_schema WHERE type='table' AND "
                             "name IN ('loaded_hives', 'removed_hive_keys')), "
                             "(SELECT count(*) FROM sqlite_schema WHERE type='table' AND "
                             "name='hives'), "
                             "(SELECT count(*) FROM pragma_table_info('loaded_hives') WHERE "
                             "name='copy_pages')");
  if (rc != SQLITE_OK) return SqliteError(rc);
  Query q(statement);
  rc = q.Step();
  if (rc != SQLITE_ROW) return SqliteError(rc);
  probe->version = static_cast<int>(q.Int(0));
  probe->application_id = q.Int(1);
  probe->objects = q.Int(2);
  probe->tables = q.Int(3);
  probe->hive_tables = q.Int(4);
  probe->legacy_hives = q.Int(5) == 1;
  probe->load_state = q.Int(6) == 1;
  return ERROR_SUCCESS;
}

LONG SqliteStore::OpenCounter(const DirectoryOwner& owner) {
  struct stat info {};
  const unsigned mode =
      stat(path_.c_str(), &info) == 0 ? (info.st_mode & 0777) : NewDatabaseMode(owner);
  ChangeCounter& counter = steps_.counter();
  const LONG rc = counter.Open(ChangeCounterPath(directory_), writable_, mode, owner);
  if (rc == ERROR_SUCCESS) return ERROR_SUCCESS;
  if (rc == ORVIK_ERROR_REGISTRY_FILE_LINKED || rc == ORVIK_ERROR_FOREIGN_REGISTRY_FILE ||
      rc == ERROR_DISK_FULL) {
    return rc;
  }
  writable_ = false;
  return counter.Open(ChangeCounterPath(directory_), false, mode, owner);
}

LONG SqliteStore::EnterWalMode(int busy_timeout_ms) {
  // Keep the WAL and its index after the last connection closes, so that a
  // user who may only read the registry can still open it.
  int persist = 1;
  sqlite3_file_control(db(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
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
  return Exec(
      "PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000; "
      "PRAGMA journal_size_limit=67108864");
}

LONG SqliteStore::CreateSchema() {
  if (LONG rc = Exec("BEGIN IMMEDIATE"); rc != ERROR_SUCCESS) return rc;
  auto abort = [this](LONG rc) {
    Exec("ROLLBACK");
    return rc;
  };
  int version = 0;
  {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db(), "PRAGMA user_version", -1, &stmt, nullptr);
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
  } else {
    for (const char* schema : {kKeysSchema, kValsSchema}) {
      if (LONG rc = Exec(schema); rc != ERROR_SUCCESS) return abort(rc);
    }
    if (LONG rc = AddInitialKeys(); rc != ERROR_SUCCESS) return abort(rc);
  }
  if (LONG rc = Exec(kLoadedHivesSchema); rc != ERROR_SUCCESS) return abort(rc);
  if (LONG rc = Exec(VersionPragmas().c_str()); rc != ERROR_SUCCESS) return abort(rc);
  hive_tables_ = true;
  load_state_ = true;
  return Exec("COMMIT");
}

LONG SqliteStore::AddInitialKeys() {
  const int64_t now = NowAsFileTime();
  Statement insert;
  if (int rc = insert.Prepare(db(),
                              "INSERT INTO keys(id, parent, folded, name, name_ansi, class, "
                              "class_ansi, security, last_write) VALUES(?,?,?,?,?,NULL,0,NULL,?)");
      rc != SQLITE_OK) {
    return SqliteError(rc);
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
    if (int rc = add(key); rc != SQLITE_DONE) return SqliteError(rc);
  }
  for (const auto& key : kInitialKeys) {
    if (int rc = add(key); rc != SQLITE_DONE) return SqliteError(rc);
  }
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix
