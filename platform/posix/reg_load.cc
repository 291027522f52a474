// RegLoadKeyA and RegUnLoadKeyA: a hive file loaded as a key under
// HKEY_LOCAL_MACHINE or HKEY_USERS, and written back when it is unloaded.
//
// Loading takes a private copy of the file into the registry directory (so
// that nobody changes it underneath), checks it whole, and serves it in
// place from there (RegistryTree): every process sees it, changes are kept
// in the store, and it stays across runs until it is unloaded. The record
// keeps the file's identity, so that one file is loaded once at most.
// A dirty hive is served as its logs recover it: the replay is written over
// the private copy; the file and its logs are only read.
// Unloading writes the tree back (a new file moved over the old) only when
// something under the key changed, and leaves the file as it was otherwise.
// The new file is clean, with a sequence number above any in the old logs,
// which are emptied once it is in place: no replay can ever spoil it.
//
// Hives loaded by an earlier version were copied into the store's rows; they
// are unloaded the way they were loaded, compared by a digest of their
// hive form.
#include <dirent.h>
#include <fcntl.h>
#include <libgen.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_digest.h"
#include "platform/posix/hive/hive_log_files.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive_tree_copy.h"
#include "platform/posix/key_path.h"
#include "platform/posix/key_step.h"
#include "platform/posix/registry_tree.h"
#include "platform/posix/store_location.h"
#include "platform/posix/token.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::KeyId;
using orvik::posix::KeyStep;
using orvik::posix::LoadedHive;
using orvik::posix::RegistryTree;
using orvik::posix::Tree;
using orvik::posix::hive::HiveWriter;

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return 116444736000000000LL + static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

// The checks both calls share: a root that takes hives, the privilege, and
// one key name.
LONG CheckCall(HKEY root, LPCSTR sub_key, std::u16string* name) {
  if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) return ERROR_INVALID_PARAMETER;
  if (!orvik::posix::PrivilegeEnabled(orvik::posix::kRestorePrivilege)) {
    return ERROR_PRIVILEGE_NOT_HELD;
  }
  std::vector<std::u16string> names;
  if (LONG rc = orvik::posix::SplitKeyPath(orvik::posix::AnsiToWide(sub_key), &names);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  if (names.size() != 1) return ERROR_INVALID_PARAMETER;
  *name = names.front();
  return ERROR_SUCCESS;
}

// Writes the key's tree in hive form to `fd` and takes the digest of it
// unless `digest` is null.
LONG WriteAndDigest(Tree& tree, KeyId key, const LoadedHive& hive, int fd, int64_t timestamp,
                    uint32_t sequence, std::string* digest) {
  {
    HiveWriter writer(fd);
    if (LONG rc = orvik::posix::WriteKeyAsHive(tree, key, writer, &hive.root_name);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    if (LONG rc = writer.Finish(orvik::posix::AnsiToWide(hive.file), timestamp, sequence);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return digest != nullptr ? orvik::posix::hive::DigestHiveFile(fd, digest) : ERROR_SUCCESS;
}

// Makes a rename in the file's directory durable.
void SyncDirectoryOf(const std::string& file) {
  std::string copy = file;
  const int fd = open(dirname(copy.data()), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Writes the tree back over the hive's file: a complete new file beside it,
// moved over it, then the logs beside it emptied. With `by_digest`, only
// when the digest of its hive form differs from the one taken at the load.
LONG WriteBack(Tree& tree, KeyId key, const LoadedHive& hive, bool by_digest) {
  std::string scratch = hive.file + ".XXXXXX";
  const int fd = mkostemp(scratch.data(), O_CLOEXEC);
  if (fd < 0) return orvik::posix::hive::FileError(errno, hive.file);
  // The new file keeps the old one's permissions.
  struct stat old {};
  if (stat(hive.file.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
  // Above every sequence number the old logs hold: none of their entries
  // follows the new file's.
  const uint32_t newest = orvik::posix::hive::HighestSequence(hive.file);
  const uint32_t sequence = newest == UINT32_MAX ? newest : newest + 1;
  std::string digest;
  LONG rc = WriteAndDigest(tree, key, hive, fd, Now(), sequence, by_digest ? &digest : nullptr);
  const bool changed = rc == ERROR_SUCCESS && (!by_digest || digest != hive.digest);
  if (changed && fsync(fd) != 0) rc = ERROR_WRITE_FAULT;
  if (close(fd) != 0 && rc == ERROR_SUCCESS) rc = ERROR_WRITE_FAULT;
  if (rc == ERROR_SUCCESS && changed) {
    if (rename(scratch.c_str(), hive.file.c_str()) != 0) {
      rc = orvik::posix::hive::FileError(errno, hive.file);
    } else {
      SyncDirectoryOf(hive.file);
      // Only now: a crash before this leaves the old hive with its logs, or
      // the new one, which no entry of theirs continues.
      orvik::posix::hive::EmptyHiveLogs(hive.file);
      return ERROR_SUCCESS;
    }
  }
  unlink(scratch.c_str());
  return rc;
}

// Copies every byte of `source` to `target`: in the kernel where it can
// (not between file systems of different kinds), else through a buffer.
LONG CopyFileBytes(int source, int target) {
  auto failed = []() -> LONG {
    return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
  };
  off_t offset = 0;
  for (;;) {
    const ssize_t n = copy_file_range(source, &offset, target, nullptr, size_t{1} << 30, 0);
    if (n == 0) return ERROR_SUCCESS;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (offset == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                        errno == EOPNOTSUPP || errno == EPERM)) {
      break;
    }
    return failed();
  }
  std::vector<char> buffer(size_t{1} << 20);
  for (;;) {
    const ssize_t n = read(source, buffer.data(), buffer.size());
    if (n == 0) return ERROR_SUCCESS;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ERROR_READ_FAULT;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(target, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return failed();
      }
      done += w;
    }
  }
}

// Copies the open hive file into the registry directory, where it stays
// while the hive is loaded: a clone where the file system shares blocks,
// else a copy, with the replay of a dirty hive's logs (when given) written
// over it. The copy goes to the disk while the caller checks it; the caller
// syncs it (`*fd`) before the load is committed, and closes it.
LONG CopyIntoRegistry(int source, const orvik::posix::hive::Replay* replay,
                      const orvik::posix::SqliteTree& store, int64_t generation, std::string* copy,
                      int* fd) {
  *copy = store.directory() + "/loaded-hive-" + std::to_string(generation);
  // A load killed before its commit leaves its copy, and its generation is
  // handed out again.
  unlink(copy->c_str());
  struct stat database {};
  const unsigned mode = stat(orvik::posix::DatabasePath(store.directory()).c_str(), &database) == 0
                            ? (database.st_mode & 0666)
                            : 0600;
  *fd = orvik::posix::CreateRegistryFile(*copy, mode, store.owner());
  if (*fd < 0) return orvik::posix::FileOpenError(errno);
  LONG rc = ERROR_SUCCESS;
  if (ioctl(*fd, FICLONE, source) != 0) rc = CopyFileBytes(source, *fd);
  // Before the pages go to the disk: written over once they are on their
  // way, they would wait for it and go twice.
  if (rc == ERROR_SUCCESS && replay != nullptr) rc = orvik::posix::hive::ApplyReplay(*replay, *fd);
  if (rc == ERROR_SUCCESS) {
    sync_file_range(*fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return ERROR_SUCCESS;
  }
  close(*fd);
  *fd = -1;
  unlink(copy->c_str());
  return rc;
}

// Removes the private copies that no loaded hive uses (left by an unload
// killed after its commit), except the one of `keep`, which its unload
// removes after the commit.
void RemoveUnusedCopies(RegistryTree& tree, int64_t keep) {
  const std::string& directory = tree.store().directory();
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  constexpr std::string_view kPrefix = "loaded-hive-";
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(kPrefix)) continue;
    char* end = nullptr;
    const long long generation = std::strtoll(entry->d_name + kPrefix.size(), &end, 10);
    if (end == nullptr || *end != '\0' || generation <= 0 || generation == keep) continue;
    LoadedHive record;
    if (tree.store().FindLoadedHiveGeneration(generation, &record) == ERROR_FILE_NOT_FOUND) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

}  // namespace

LONG RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile) {
  std::u16string name;
  if (LONG rc = CheckCall(hKey, lpSubKey, &name); rc != ERROR_SUCCESS) return rc;
  if (lpFile == nullptr || lpFile[0] == '\0') return ERROR_INVALID_PARAMETER;
  LoadedHive hive;
  const int source = open(lpFile, O_RDONLY | O_CLOEXEC);
  if (source < 0) return orvik::posix::hive::FileError(errno, lpFile);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{source};
  {
    struct stat info {};
    char resolved[PATH_MAX];
    if (fstat(source, &info) != 0 || realpath(lpFile, resolved) == nullptr) {
      return orvik::posix::hive::FileError(errno, lpFile);
    }
    if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
    hive.file = resolved;
    hive.device = static_cast<int64_t>(info.st_dev);
    hive.inode = static_cast<int64_t>(info.st_ino);
  }
  // A file that is no hive is reported before anything about the key (the
  // copy is checked whole before it is loaded).
  {
    char signature[4] = {};
    if (pread(source, signature, sizeof(signature), 0) != sizeof(signature) ||
        std::memcmp(signature, "regf", sizeof(signature)) != 0) {
      return ERROR_NOT_REGISTRY_FILE;
    }
  }
  // A dirty hive's logs, read before anything is made: without a recovery
  // the load is refused here.
  orvik::posix::hive::HiveRecovery recovery;
  if (LONG rc = recovery.Prepare(source, hive.file); rc != ERROR_SUCCESS) return rc;
  KeyStep step;
  if (LONG rc = step.Start(hKey, 0, KeyStep::kWrite); rc != ERROR_SUCCESS) return rc;
  auto* tree = dynamic_cast<RegistryTree*>(&step.tree());
  if (tree == nullptr) return step.Finish(ERROR_NOT_SUPPORTED);
  // While loaded, the file is the registry's.
  {
    LoadedHive other;
    const LONG found = tree->FindLoadedHiveFile(hive.device, hive.inode, &other);
    if (found == ERROR_SUCCESS) return step.Finish(ERROR_SHARING_VIOLATION);
    if (found != ERROR_FILE_NOT_FOUND) return step.Finish(found);
  }
  const KeyId parent = step.handle().key;
  if (LONG rc = tree->store().NextHiveGeneration(&hive.generation); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  if (hive.generation >= orvik::posix::kMaxHiveGeneration) return step.Finish(ERROR_NO_MORE_ITEMS);
  int copy_fd = -1;
  if (LONG rc = CopyIntoRegistry(source, recovery.needed() ? &recovery.replay() : nullptr,
                                 tree->store(), hive.generation, &hive.copy, &copy_fd);
      rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  LONG rc = tree->MountHive(parent, name, &hive);
  // The copy is on the disk before the record that names it.
  if (rc == ERROR_SUCCESS && fsync(copy_fd) != 0) rc = ERROR_WRITE_FAULT;
  if (close(copy_fd) != 0 && rc == ERROR_SUCCESS) rc = ERROR_WRITE_FAULT;
  rc = step.Finish(rc);
  if (rc != ERROR_SUCCESS) unlink(hive.copy.c_str());
  return rc;
}

LONG RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey) {
  std::u16string name;
  if (LONG rc = CheckCall(hKey, lpSubKey, &name); rc != ERROR_SUCCESS) return rc;
  KeyStep step;
  if (LONG rc = step.Start(hKey, 0, KeyStep::kWrite); rc != ERROR_SUCCESS) return rc;
  auto* tree = dynamic_cast<RegistryTree*>(&step.tree());
  if (tree == nullptr) return step.Finish(ERROR_NOT_SUPPORTED);
  KeyId key = 0;
  if (LONG rc = tree->FindChild(step.handle().key, name, &key); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  LoadedHive hive;
  if (LONG rc = tree->FindLoadedHive(key, &hive); rc != ERROR_SUCCESS) {
    return step.Finish(rc == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_PARAMETER : rc);
  }
  if (hive.generation == 0) {
    // Copied into rows by an earlier version.
    if (LONG rc = WriteBack(*tree, key, hive, true); rc != ERROR_SUCCESS) return step.Finish(rc);
    if (LONG rc = tree->RemoveLoadedHive(key); rc != ERROR_SUCCESS) return step.Finish(rc);
    return step.Finish(orvik::posix::RemoveKeyTree(*tree, key, true));
  }
  bool changed = true;
  if (LONG rc = tree->HiveChanged(hive, &changed); rc != ERROR_SUCCESS) return step.Finish(rc);
  if (changed) {
    if (LONG rc = WriteBack(*tree, key, hive, false); rc != ERROR_SUCCESS) return step.Finish(rc);
  }
  LONG rc = tree->UnmountHive(hive);
  if (rc == ERROR_SUCCESS) RemoveUnusedCopies(*tree, hive.generation);
  rc = step.Finish(rc);
  if (rc == ERROR_SUCCESS) unlink(hive.copy.c_str());
  return rc;
}
