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
// Unloading writes the tree back only when something under the key changed,
// and leaves the file as it was otherwise. It writes in place, as Windows
// does: the changes made to an image of the private copy, the pages that
// differ from the file written through the hive's log (hive_in_place.h), so
// that everything else keeps its bytes. A file that is not as LOAD found it,
// or whose hive the patcher cannot change, is written whole instead: a new
// file moved over the old, clean, with a sequence number above any in the
// old logs, which are emptied once it is in place: no replay can ever spoil
// it.
//
// Hives loaded by an earlier version were copied into the store's rows; they
// are unloaded the way they were loaded, compared by a digest of their
// hive form.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/calls/token.h"
#include "platform/posix/codepage.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/file_sync.h"
#include "platform/posix/file_time.h"
#include "platform/posix/handles/key_step.h"
#include "platform/posix/hive/hive_digest.h"
#include "platform/posix/hive/hive_file_diff.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_image.h"
#include "platform/posix/hive/hive_in_place.h"
#include "platform/posix/hive/hive_log_files.h"
#include "platform/posix/hive/hive_patcher.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_recovery.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/key_path.h"
#include "platform/posix/loaded/hive_tree_copy.h"
#include "platform/posix/loaded/registry_tree.h"
#include "platform/posix/safe_files.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::KeyId;
using orvik::posix::KeyStep;
using orvik::posix::LoadedHive;
using orvik::posix::RegistryTree;
using orvik::posix::Tree;
using orvik::posix::hive::HiveWriter;

// The checks both calls share: a root that takes hives, the privileges (both
// the restore and the backup privilege, as on Windows), and one key name.
LONG CheckCall(HKEY root, LPCSTR sub_key, std::u16string* name) {
  if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  if (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) return ERROR_INVALID_PARAMETER;
  if (!orvik::posix::PrivilegeEnabled(orvik::posix::kRestorePrivilege) ||
      !orvik::posix::PrivilegeEnabled(orvik::posix::kBackupPrivilege)) {
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

// Whether this process is root working on a registry of another user, whose
// records and files that user may have written: then a hive is loaded from,
// and written back to, only a file of that user, who could write it anyway.
bool RootInAnotherUsersRegistry(RegistryTree& tree) {
  return geteuid() == 0 && tree.store().owner().uid != 0;
}

// Whether others may have written the registry's records: another user's
// registry, or one a group shares. Then a record names no file that does not
// hold a hive: whatever else a forged record names is never written over.
bool RecordsOthersMayWrite(RegistryTree& tree) {
  return RootInAnotherUsersRegistry(tree) || tree.store().owner().shared;
}

bool HoldsAHive(int directory, const std::string& name) {
  const int fd = openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char signature[4] = {};
  const bool hive = pread(fd, signature, sizeof(signature), 0) == sizeof(signature) &&
                    std::memcmp(signature, "regf", sizeof(signature)) == 0;
  close(fd);
  return hive;
}

// Where the hive's file is to be written back: its directory, opened
// without following any link on the way (the path was recorded without
// links, so a link there now is one that somebody put there since), and
// what stands at its name.
struct WriteBackTarget {
  WriteBackTarget() = default;
  ~WriteBackTarget() {
    if (directory >= 0) close(directory);
  }
  WriteBackTarget(const WriteBackTarget&) = delete;
  WriteBackTarget& operator=(const WriteBackTarget&) = delete;

  int directory = -1;
  enum State {
    kLoaded,   // the very file that was loaded
    kMissing,  // no file has the name any more
    kOther,    // another regular file; the error says why it is not written
  } state = kLoaded;
  LONG why = ERROR_SUCCESS;  // for kOther
};

// A record in the registry's database is no proof of which file was loaded:
// the file itself is checked (its device and inode), and root in another
// user's registry writes only that user's files.
LONG OpenHiveFile(RegistryTree& tree, const LoadedHive& hive, WriteBackTarget* target) {
  const int dir = orvik::posix::OpenDirectoryNoFollow(orvik::posix::DirectoryOf(hive.file));
  if (dir < 0) {
    return errno == ELOOP || errno == ENOTDIR ? ORVIK_ERROR_HIVE_FILE_REPLACED
                                              : orvik::posix::FileError(errno, hive.file);
  }
  const std::string name = orvik::posix::BaseNameOf(hive.file);
  struct stat file {};
  LONG rc = ERROR_SUCCESS;
  target->state = WriteBackTarget::kLoaded;
  if (fstatat(dir, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {
      rc = orvik::posix::FileError(errno, hive.file);
    } else if (RecordsOthersMayWrite(tree)) {
      rc = ORVIK_ERROR_HIVE_FILE_REPLACED;
    } else {
      // Made anew, but only in a registry whose records are this user's
      // alone: nobody else's file can be at stake there.
      target->state = WriteBackTarget::kMissing;
    }
  } else if (S_ISDIR(file.st_mode)) {
    rc = ORVIK_ERROR_HIVE_FILE_IS_DIRECTORY;
  } else if (!S_ISREG(file.st_mode)) {
    rc = ORVIK_ERROR_HIVE_FILE_REPLACED;
  } else if (static_cast<int64_t>(file.st_dev) != hive.device ||
             static_cast<int64_t>(file.st_ino) != hive.inode) {
    target->state = WriteBackTarget::kOther;
    target->why = ORVIK_ERROR_HIVE_FILE_REPLACED;
  } else if (RootInAnotherUsersRegistry(tree) && file.st_uid != tree.store().owner().uid) {
    target->state = WriteBackTarget::kOther;
    target->why = ORVIK_ERROR_HIVE_FILE_OF_ANOTHER_USER;
  } else if (RecordsOthersMayWrite(tree) && !HoldsAHive(dir, name)) {
    rc = ORVIK_ERROR_HIVE_FILE_REPLACED;
  }
  if (rc != ERROR_SUCCESS) {
    close(dir);
    return rc;
  }
  target->directory = dir;
  return ERROR_SUCCESS;
}

// Whether the regular file `name` in `directory` holds the hive of that
// digest: then nothing needs writing (an unload killed after it moved its
// file into place, before it was recorded, wrote just that).
bool HoldsHive(int directory, const std::string& name, const std::string& digest) {
  const int fd = openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::string held;
  const bool same =
      orvik::posix::hive::DigestHiveFile(fd, &held) == ERROR_SUCCESS && held == digest;
  close(fd);
  return same;
}

// Writes the tree back over the hive's file, opened as `target`: a complete
// new file in its directory, without a name until it is complete, moved over
// it with the old file's owner, group and mode, then the logs beside it
// emptied. With `by_digest`, only when the digest of its hive form differs
// from the one taken at the load.
LONG WriteBack(RegistryTree& tree, KeyId key, const LoadedHive& hive, bool by_digest,
               const WriteBackTarget& target) {
  const std::string name = orvik::posix::BaseNameOf(hive.file);
  orvik::posix::NewFile file;
  if (LONG rc = file.Create(target.directory, name, 0600); rc != ERROR_SUCCESS) return rc;
  // Above every sequence number the old logs hold: none of their entries
  // follows the new file's.
  const uint32_t newest = orvik::posix::hive::HighestSequence(hive.file);
  const uint32_t sequence = newest == UINT32_MAX ? newest : newest + 1;
  const bool need_digest = by_digest || target.state == WriteBackTarget::kOther;
  std::string digest;
  LONG rc = WriteAndDigest(tree, key, hive, file.fd(), orvik::posix::NowAsFileTime(), sequence,
                           need_digest ? &digest : nullptr);
  if (rc == ERROR_SUCCESS && target.state == WriteBackTarget::kOther) {
    return HoldsHive(target.directory, name, digest) ? ERROR_SUCCESS : target.why;
  }
  if (rc != ERROR_SUCCESS || (by_digest && digest == hive.digest)) return rc;
  if (rc = file.Commit(target.state == WriteBackTarget::kLoaded); rc != ERROR_SUCCESS) return rc;
  // Only now: a crash before this leaves the old hive with its logs, or the
  // new one, which no entry of theirs continues.
  orvik::posix::hive::EmptyHiveLogs(hive.file);
  return ERROR_SUCCESS;
}

// Whether this process could write the file back when the hive is unloaded,
// as Windows opens a hive it loads for writing: it may write the file, and
// replace it in its directory (a sticky one only when it owns the file or
// the directory). Root in another user's registry loads that user's files
// only.
LONG CheckWriteBack(RegistryTree& tree, const std::string& path, const struct stat& file) {
  if (RootInAnotherUsersRegistry(tree) && file.st_uid != tree.store().owner().uid) {
    return ORVIK_ERROR_HIVE_FILE_OF_ANOTHER_USER;
  }
  if (geteuid() == 0) return ERROR_SUCCESS;
  const std::string directory = orvik::posix::DirectoryOf(path);
  struct stat dir {};
  if (access(path.c_str(), W_OK) != 0 || access(directory.c_str(), W_OK | X_OK) != 0 ||
      stat(directory.c_str(), &dir) != 0) {
    return ORVIK_ERROR_HIVE_FILE_NOT_WRITABLE;
  }
  if ((dir.st_mode & S_ISVTX) != 0 && file.st_uid != geteuid() && dir.st_uid != geteuid()) {
    return ORVIK_ERROR_HIVE_FILE_NOT_WRITABLE;
  }
  return ERROR_SUCCESS;
}

// Whether the file is one of the registry's own (its database, the private
// copy of a loaded hive), in its directory or linked from elsewhere.
bool IsRegistryFile(RegistryTree& tree, const std::string& path, const struct stat& file) {
  const std::string& registry = tree.store().directory();
  struct stat here {};
  struct stat registry_dir {};
  if (stat(orvik::posix::DirectoryOf(path).c_str(), &here) == 0 &&
      stat(registry.c_str(), &registry_dir) == 0 && here.st_dev == registry_dir.st_dev &&
      here.st_ino == registry_dir.st_ino) {
    return true;
  }
  if (file.st_nlink < 2) return false;
  DIR* dir = opendir(registry.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    struct stat info {};
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        info.st_dev == file.st_dev && info.st_ino == file.st_ino) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

// The hive file that was loaded, open for writing back in place: the file
// in its directory (opened as OpenHiveFile checked it), not through a link,
// the very one LOAD found (device, inode) as it found it (size, last status
// change). ERROR_NOT_SUPPORTED otherwise, or for a hive an earlier version
// loaded without saying: the caller writes the file whole.
class LoadedFile {
 public:
  ~LoadedFile() {
    if (file_.fd >= 0) close(file_.fd);
    if (file_.directory >= 0) close(file_.directory);
  }
  LONG Open(const LoadedHive& hive, int directory) {
    if (hive.file_size < 0) return ERROR_NOT_SUPPORTED;
    file_.name = orvik::posix::BaseNameOf(hive.file);
    file_.directory = fcntl(directory, F_DUPFD_CLOEXEC, 0);
    if (file_.directory < 0) return ERROR_NOT_SUPPORTED;
    file_.fd =
        openat(file_.directory, file_.name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (file_.fd < 0 || fstat(file_.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<int64_t>(info.st_dev) != hive.device ||
        static_cast<int64_t>(info.st_ino) != hive.inode || info.st_size != hive.file_size ||
        orvik::posix::ChangeTime(info) != hive.file_changed) {
      return ERROR_NOT_SUPPORTED;
    }
    return ERROR_SUCCESS;
  }
  const orvik::posix::hive::HiveFile& file() const { return file_; }

 private:
  orvik::posix::hive::HiveFile file_;
};

// Writes the changed tree back over the hive's file in place: the changes
// the store keeps made to an image of the private copy, and the pages that
// then differ from the file written through its log. ERROR_NOT_SUPPORTED or
// ERROR_REGISTRY_CORRUPT before anything is written: the caller writes the
// file whole.
LONG PatchBack(RegistryTree& tree, const LoadedHive& hive, const WriteBackTarget& opened) {
  namespace hive_codec = orvik::posix::hive;
  LoadedFile target;
  if (LONG rc = target.Open(hive, opened.directory); rc != ERROR_SUCCESS) return rc;
  std::unique_ptr<hive_codec::HiveImage> image;
  {
    const int copy = open(hive.copy.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (copy < 0) return orvik::posix::RegistryFileError(errno);
    const LONG rc = hive_codec::HiveImage::Map(copy, &image);
    close(copy);
    if (rc != ERROR_SUCCESS) return rc == ERROR_NOT_REGISTRY_FILE ? ERROR_REGISTRY_CORRUPT : rc;
  }
  // A dirty file is first made what its logs recover, as the private copy
  // holds it: the copy's pages where it differs from the file, then its base
  // block.
  {
    hive_codec::RecoveredState recovered;
    std::memcpy(recovered.base_block.data(), image->data(), hive_codec::kBaseBlockSize);
    const uint32_t bins = hive_codec::Load32(image->data() + hive_codec::kDataSizeOffset);
    for (const uint32_t page : hive.copy_pages) {
      if (page >= bins / hive_codec::kBinAlignment) return ERROR_REGISTRY_CORRUPT;
      recovered.pages.push_back(
          {page * hive_codec::kBinAlignment, hive_codec::kBinAlignment,
           image->data() + hive_codec::kBaseBlockSize + size_t{page} * hive_codec::kBinAlignment});
    }
    if (LONG rc = hive_codec::RecoverInPlace(target.file(), recovered); rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  std::unique_ptr<hive_codec::HivePatcher> patcher;
  if (LONG rc = hive_codec::HivePatcher::Open(image.get(), &patcher); rc != ERROR_SUCCESS) {
    return rc;
  }
  if (LONG rc = tree.PatchHive(hive, *patcher); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = patcher->Finish(orvik::posix::NowAsFileTime()); rc != ERROR_SUCCESS) return rc;
  std::vector<uint32_t> candidates = image->ChangedPages();
  candidates.insert(candidates.end(), hive.copy_pages.begin(), hive.copy_pages.end());
  hive_codec::HiveChanges changes;
  if (LONG rc = hive_codec::DiffWithFile(*image, target.file().fd, std::move(candidates), &changes);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  return hive_codec::WriteHiveInPlace(target.file(), changes);
}

}  // namespace

LONG RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile) {
  std::u16string name;
  if (LONG rc = CheckCall(hKey, lpSubKey, &name); rc != ERROR_SUCCESS) return rc;
  if (lpFile == nullptr || lpFile[0] == '\0') return ERROR_INVALID_PARAMETER;
  LoadedHive hive;
  // A pipe or device is refused without waiting for a writer.
  const int source = open(lpFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (source < 0) return orvik::posix::FileError(errno, lpFile);
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{source};
  struct stat info {};
  {
    char resolved[PATH_MAX];
    if (fstat(source, &info) != 0 || realpath(lpFile, resolved) == nullptr) {
      return orvik::posix::FileError(errno, lpFile);
    }
    if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
    hive.file = resolved;
    hive.device = static_cast<int64_t>(info.st_dev);
    hive.inode = static_cast<int64_t>(info.st_ino);
    hive.file_size = static_cast<int64_t>(info.st_size);
    hive.file_changed = orvik::posix::ChangeTime(info);
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
  RegistryTree& tree = step.tree();
  if (IsRegistryFile(tree, hive.file, info)) return step.Finish(ORVIK_ERROR_HIVE_FILE_IN_REGISTRY);
  if (LONG rc = CheckWriteBack(tree, hive.file, info); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  // While loaded, the file is the registry's.
  {
    LoadedHive other;
    const LONG found = tree.FindLoadedHiveFile(hive.device, hive.inode, &other);
    if (found == ERROR_SUCCESS) return step.Finish(ERROR_SHARING_VIOLATION);
    if (found != ERROR_FILE_NOT_FOUND) return step.Finish(found);
  }
  const KeyId parent = step.handle().key;
  if (LONG rc = tree.NextGeneration(&hive.generation); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  int copy_fd = -1;
  if (LONG rc = tree.TakePrivateCopy(source, recovery.needed() ? &recovery.replay() : nullptr,
                                     &hive, &copy_fd);
      rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  LONG rc = tree.MountHive(parent, name, &hive);
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
  RegistryTree& tree = step.tree();
  KeyId key = 0;
  if (LONG rc = tree.FindChild(step.handle().key, name, &key); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  LoadedHive hive;
  if (LONG rc = tree.FindLoadedHive(key, &hive); rc != ERROR_SUCCESS) {
    return step.Finish(rc == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_PARAMETER : rc);
  }
  if (hive.generation == 0) {
    // Copied into rows by an earlier version.
    WriteBackTarget target;
    LONG rc = OpenHiveFile(tree, hive, &target);
    if (rc == ERROR_SUCCESS) rc = WriteBack(tree, key, hive, true, target);
    if (rc != ERROR_SUCCESS) return step.Finish(rc);
    return step.Finish(tree.UnmountCopiedHive(key));
  }
  bool changed = true;
  if (LONG rc = tree.HiveChanged(hive, &changed); rc != ERROR_SUCCESS) return step.Finish(rc);
  if (changed) {
    WriteBackTarget target;
    LONG rc = OpenHiveFile(tree, hive, &target);
    // In place over the very file that was loaded, as LOAD found it; else
    // (or where the patcher cannot change the hive) the file written whole.
    if (rc == ERROR_SUCCESS && target.state == WriteBackTarget::kLoaded) {
      rc = PatchBack(tree, hive, target);
      if (rc == ERROR_NOT_SUPPORTED || rc == ERROR_REGISTRY_CORRUPT) {
        rc = WriteBack(tree, key, hive, false, target);
      }
    } else if (rc == ERROR_SUCCESS) {
      rc = WriteBack(tree, key, hive, false, target);
    }
    if (rc != ERROR_SUCCESS) return step.Finish(rc);
  }
  LONG rc = tree.UnmountHive(hive);
  if (rc == ERROR_SUCCESS) tree.RemoveUnusedCopies(hive.generation);
  rc = step.Finish(rc);
  if (rc == ERROR_SUCCESS) unlink(hive.copy.c_str());
  return rc;
}
