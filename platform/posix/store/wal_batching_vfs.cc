// SQLite appends a commit to its write-ahead log frame by frame, each frame a
// 24-byte header and a page written with two calls, and then publishes the
// commit in the shared index. A commit of one registry call writes three or
// four frames side by side, so the system calls, not the bytes, are most of
// its cost. This layer gathers writes that follow one another in the log and
// writes them with one call when the page of the commit frame arrives (the
// frame whose header carries the database size), before SQLite publishes
// anything, so a commit is in the file once it is visible and a failed write
// fails the commit as before. Every other use of the log (a read, a sync, its
// size, a truncation, a write elsewhere, the close) writes what is gathered
// first, and so does the release of the log's write lock, so the file never
// differs from what SQLite wrote when anyone looks, and frames of a
// transaction that rolled back never land on what another writer commits
// later; a process killed with frames gathered loses only a transaction that
// had not committed, which SQLite would discard anyway.
#include "platform/posix/store/wal_batching_vfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace orvik::posix {
namespace {

constexpr int kFrameHeaderSize = 24;
// The layer below writes at most 128 KiB less one byte per call (it takes
// the size modulo 128 KiB), so what is gathered goes out in pieces of 64 KiB;
// a large transaction's frames go out whenever a piece is full.
constexpr size_t kPiece = size_t{1} << 16;
constexpr size_t kMaxGathered = kPiece;

struct File {
  sqlite3_file base{};
  sqlite3_file* below = nullptr;  // the file of the layer below, stored after this one
  const char* name = nullptr;     // as SQLite opened it; valid until the close
  bool log = false;               // the write-ahead log: the only file gathered
  // A database file and its log, linked while both are open: the log's
  // gathered frames go out before the database's write lock is released.
  File* partner = nullptr;
  bool commit_page_next = false;  // the next write is the page of a commit frame
  sqlite3_int64 gathered_at = 0;
  std::string gathered;
  // The end of what this process wrote since the log last began anew: an
  // append lies at or past it, a rewrite of a frame before it.
  sqlite3_int64 written_end = 0;
};

constexpr int kBelowOffset = static_cast<int>((sizeof(File) + 15) / 16 * 16);

File* Of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }

// The open database files, where a log opened later finds its own.
std::mutex g_databases_mutex;
std::vector<File*> g_databases;

sqlite3_vfs* Below(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }
const sqlite3_io_methods* BelowMethods(File* f) { return f->below->pMethods; }

int Flush(File* f) {
  int rc = SQLITE_OK;
  for (size_t done = 0; done < f->gathered.size() && rc == SQLITE_OK; done += kPiece) {
    const size_t size = std::min(kPiece, f->gathered.size() - done);
    rc = BelowMethods(f)->xWrite(f->below, f->gathered.data() + done, static_cast<int>(size),
                                 f->gathered_at + static_cast<sqlite3_int64>(done));
  }
  f->gathered.clear();
  return rc;
}

bool IsCommitHeader(const void* data, int amount) {
  if (amount != kFrameHeaderSize) return false;
  const auto* bytes = static_cast<const unsigned char*>(data);
  // Bytes 4 to 7: the database size in pages after a commit, zero otherwise.
  return (bytes[4] | bytes[5] | bytes[6] | bytes[7]) != 0;
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  File* f = Of(file);
  if (!f->log) return BelowMethods(f)->xWrite(f->below, data, amount, offset);
  if (offset == 0) f->written_end = 0;  // the log begins anew with its header
  const bool ends_commit = f->commit_page_next;
  f->commit_page_next = false;
  const bool follows = !f->gathered.empty() &&
                       offset == f->gathered_at + static_cast<sqlite3_int64>(f->gathered.size());
  if (!follows) {
    if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  }
  const sqlite3_int64 end = offset + amount;
  if (IsCommitHeader(data, amount)) {
    // Whatever follows a commit header goes out with it at once.
    f->commit_page_next = true;
    if (offset < f->written_end) {
      // The header of a frame written before, which SQLite may rewrite in
      // place with no page after it, or a log another process began anew:
      // it goes out alone.
      return BelowMethods(f)->xWrite(f->below, data, amount, offset);
    }
  }
  if (f->gathered.empty()) f->gathered_at = offset;
  f->gathered.append(static_cast<const char*>(data), static_cast<size_t>(amount));
  f->written_end = std::max(f->written_end, end);
  if (ends_commit || f->gathered.size() >= kMaxGathered) return Flush(f);
  return SQLITE_OK;
}

int Close(sqlite3_file* file) {
  File* f = Of(file);
  Flush(f);  // only frames of a transaction that did not commit can be left
  {
    const std::lock_guard<std::mutex> lock(g_databases_mutex);
    if (f->partner != nullptr) f->partner->partner = nullptr;
    std::erase(g_databases, f);
  }
  const int rc = BelowMethods(f)->xClose(f->below);
  f->~File();
  return rc;
}

int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
  File* f = Of(file);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return BelowMethods(f)->xRead(f->below, data, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  File* f = Of(file);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return BelowMethods(f)->xTruncate(f->below, size);
}

int Sync(sqlite3_file* file, int flags) {
  File* f = Of(file);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return BelowMethods(f)->xSync(f->below, flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  File* f = Of(file);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return BelowMethods(f)->xFileSize(f->below, size);
}

int FileControl(sqlite3_file* file, int op, void* arg) {
  File* f = Of(file);
  if (int rc = Flush(f); rc != SQLITE_OK) return rc;
  return BelowMethods(f)->xFileControl(f->below, op, arg);
}

int Lock(sqlite3_file* file, int level) {
  return BelowMethods(Of(file))->xLock(Of(file)->below, level);
}
int Unlock(sqlite3_file* file, int level) {
  return BelowMethods(Of(file))->xUnlock(Of(file)->below, level);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
  return BelowMethods(Of(file))->xCheckReservedLock(Of(file)->below, out);
}
int SectorSize(sqlite3_file* file) { return BelowMethods(Of(file))->xSectorSize(Of(file)->below); }
int DeviceCharacteristics(sqlite3_file* file) {
  return BelowMethods(Of(file))->xDeviceCharacteristics(Of(file)->below);
}

int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
  File* f = Of(file);
  if (BelowMethods(f)->iVersion < 2) return SQLITE_IOERR_SHMMAP;
  return BelowMethods(f)->xShmMap(f->below, region, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  File* f = Of(file);
  if (BelowMethods(f)->iVersion < 2) return SQLITE_IOERR_SHMLOCK;
  // Lock 0 is the log's write lock: what this writer gathered goes out
  // before another may write. A commit has gone out already; this is what a
  // transaction that did not commit wrote, beyond the log's valid end.
  if ((flags & SQLITE_SHM_UNLOCK) != 0 && offset == 0 && f->partner != nullptr) {
    Flush(f->partner);
  }
  return BelowMethods(f)->xShmLock(f->below, offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) {
  File* f = Of(file);
  if (BelowMethods(f)->iVersion >= 2) BelowMethods(f)->xShmBarrier(f->below);
}
int ShmUnmap(sqlite3_file* file, int remove) {
  File* f = Of(file);
  if (BelowMethods(f)->iVersion < 2) return SQLITE_OK;
  return BelowMethods(f)->xShmUnmap(f->below, remove);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  File* f = Of(file);
  *out = nullptr;
  if (BelowMethods(f)->iVersion < 3) return SQLITE_OK;
  return BelowMethods(f)->xFetch(f->below, offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  File* f = Of(file);
  if (BelowMethods(f)->iVersion < 3) return SQLITE_OK;
  return BelowMethods(f)->xUnfetch(f->below, offset, page);
}

const sqlite3_io_methods kMethods = {3,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     Fetch,
                                     Unfetch};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  File* f = new (file) File;
  f->below = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kBelowOffset);
  f->below->pMethods = nullptr;
  f->name = name;
  const int rc = Below(vfs)->xOpen(Below(vfs), name, f->below, flags, out_flags);
  if (f->below->pMethods == nullptr) {
    // SQLite calls no method of a file whose open left no methods.
    f->~File();
    file->pMethods = nullptr;
    return rc == SQLITE_OK ? SQLITE_CANTOPEN : rc;
  }
  f->base.pMethods = &kMethods;
  const std::lock_guard<std::mutex> lock(g_databases_mutex);
  if ((flags & SQLITE_OPEN_MAIN_DB) != 0) {
    g_databases.push_back(f);
  } else if ((flags & SQLITE_OPEN_WAL) != 0) {
    // SQLite names a log within the same block as its database, so the
    // database's own name is found by address; a log whose database is not
    // found is written as SQLite writes it.
    const char* database = sqlite3_filename_database(name);
    for (File* candidate : g_databases) {
      if (candidate->name == database && candidate->partner == nullptr) {
        f->log = true;
        f->partner = candidate;
        candidate->partner = f;
        break;
      }
    }
  }
  return rc;
}

sqlite3_vfs g_vfs{};

bool Register() {
  sqlite3_vfs* below = sqlite3_vfs_find(nullptr);
  if (below == nullptr) return false;
  g_vfs.iVersion = std::min(below->iVersion, 3);
  g_vfs.szOsFile = kBelowOffset + below->szOsFile;
  g_vfs.mxPathname = below->mxPathname;
  g_vfs.zName = "orvik-wal-batching";
  g_vfs.pAppData = below;
  g_vfs.xOpen = Open;
  g_vfs.xDelete = [](sqlite3_vfs* vfs, const char* name, int sync) {
    return Below(vfs)->xDelete(Below(vfs), name, sync);
  };
  g_vfs.xAccess = [](sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return Below(vfs)->xAccess(Below(vfs), name, flags, out);
  };
  g_vfs.xFullPathname = [](sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return Below(vfs)->xFullPathname(Below(vfs), name, size, out);
  };
  g_vfs.xDlOpen = [](sqlite3_vfs* vfs, const char* name) {
    return Below(vfs)->xDlOpen(Below(vfs), name);
  };
  g_vfs.xDlError = [](sqlite3_vfs* vfs, int size, char* out) {
    Below(vfs)->xDlError(Below(vfs), size, out);
  };
  g_vfs.xDlSym = [](sqlite3_vfs* vfs, void* handle, const char* symbol) {
    return Below(vfs)->xDlSym(Below(vfs), handle, symbol);
  };
  g_vfs.xDlClose = [](sqlite3_vfs* vfs, void* handle) { Below(vfs)->xDlClose(Below(vfs), handle); };
  g_vfs.xRandomness = [](sqlite3_vfs* vfs, int size, char* out) {
    return Below(vfs)->xRandomness(Below(vfs), size, out);
  };
  g_vfs.xSleep = [](sqlite3_vfs* vfs, int microseconds) {
    return Below(vfs)->xSleep(Below(vfs), microseconds);
  };
  g_vfs.xCurrentTime = [](sqlite3_vfs* vfs, double* out) {
    return Below(vfs)->xCurrentTime(Below(vfs), out);
  };
  g_vfs.xGetLastError = [](sqlite3_vfs* vfs, int size, char* out) {
    return Below(vfs)->xGetLastError(Below(vfs), size, out);
  };
  if (g_vfs.iVersion >= 2) {
    g_vfs.xCurrentTimeInt64 = [](sqlite3_vfs* vfs, sqlite3_int64* out) {
      return Below(vfs)->xCurrentTimeInt64(Below(vfs), out);
    };
  }
  if (g_vfs.iVersion >= 3) {
    g_vfs.xSetSystemCall = [](sqlite3_vfs* vfs, const char* name, sqlite3_syscall_ptr call) {
      return Below(vfs)->xSetSystemCall(Below(vfs), name, call);
    };
    g_vfs.xGetSystemCall = [](sqlite3_vfs* vfs, const char* name) {
      return Below(vfs)->xGetSystemCall(Below(vfs), name);
    };
    g_vfs.xNextSystemCall = [](sqlite3_vfs* vfs, const char* name) {
      return Below(vfs)->xNextSystemCall(Below(vfs), name);
    };
  }
  return sqlite3_vfs_register(&g_vfs, 0) == SQLITE_OK;
}

}  // namespace

const char* WalBatchingVfsName() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] { registered = Register(); });
  return registered ? g_vfs.zName : nullptr;
}

}  // namespace orvik::posix
