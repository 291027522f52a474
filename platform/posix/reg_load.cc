// RegLoadKeyA and RegUnLoadKeyA: a hive file loaded as a key under
// HKEY_LOCAL_MACHINE or HKEY_USERS, and written back when it is unloaded.
//
// Loading copies the hive's tree into the store in one transaction, under a
// new key, and records the file: from then on the tree is the registry's
// like any other key (every process sees it, changes are durable, it stays
// across runs) until it is unloaded. The record keeps the file's identity,
// so that one file is loaded once at most, and a digest of the tree's hive
// form: unloading writes the tree back (a new file moved over the old) only
// when that form changed, and leaves the file as it was otherwise.
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_digest.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive_tree_copy.h"
#include "platform/posix/key_path.h"
#include "platform/posix/key_step.h"
#include "platform/posix/token.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::KeyId;
using orvik::posix::KeyStep;
using orvik::posix::LoadedHive;
using orvik::posix::Tree;
using orvik::posix::hive::HiveReader;
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

// Writes the key's tree in hive form to `fd` and takes the digest of it.
LONG WriteAndDigest(Tree& tree, KeyId key, const LoadedHive& hive, int fd, int64_t timestamp,
                    std::string* digest) {
  {
    HiveWriter writer(fd);
    if (LONG rc = orvik::posix::WriteKeyAsHive(tree, key, writer, &hive.root_name);
        rc != ERROR_SUCCESS) {
      return rc;
    }
    if (LONG rc = writer.Finish(orvik::posix::AnsiToWide(hive.file), timestamp);
        rc != ERROR_SUCCESS) {
      return rc;
    }
  }
  return orvik::posix::hive::DigestHiveFile(fd, digest);
}

// The digest of the tree as it stands, from a scratch file.
LONG DigestOfTree(Tree& tree, KeyId key, const LoadedHive& hive, std::string* digest) {
  FILE* scratch = std::tmpfile();
  if (scratch == nullptr) return ERROR_WRITE_FAULT;
  const LONG rc = WriteAndDigest(tree, key, hive, fileno(scratch), 0, digest);
  std::fclose(scratch);
  return rc;
}

// Makes a rename in the file's directory durable.
void SyncDirectoryOf(const std::string& file) {
  std::string copy = file;
  const int fd = open(dirname(copy.data()), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Writes the tree back over the hive's file when it changed since the load:
// a complete new file beside it, moved over it.
LONG WriteBack(Tree& tree, KeyId key, const LoadedHive& hive) {
  std::string scratch = hive.file + ".XXXXXX";
  const int fd = mkostemp(scratch.data(), O_CLOEXEC);
  if (fd < 0) return orvik::posix::hive::FileError(errno, hive.file);
  // The new file keeps the old one's permissions.
  struct stat old {};
  if (stat(hive.file.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
  std::string digest;
  LONG rc = WriteAndDigest(tree, key, hive, fd, Now(), &digest);
  const bool changed = rc == ERROR_SUCCESS && digest != hive.digest;
  if (changed && fsync(fd) != 0) rc = ERROR_WRITE_FAULT;
  if (close(fd) != 0 && rc == ERROR_SUCCESS) rc = ERROR_WRITE_FAULT;
  if (rc == ERROR_SUCCESS && changed) {
    if (rename(scratch.c_str(), hive.file.c_str()) != 0) {
      rc = orvik::posix::hive::FileError(errno, hive.file);
    } else {
      SyncDirectoryOf(hive.file);
      return ERROR_SUCCESS;
    }
  }
  unlink(scratch.c_str());
  return rc;
}

}  // namespace

LONG RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile) {
  std::u16string name;
  if (LONG rc = CheckCall(hKey, lpSubKey, &name); rc != ERROR_SUCCESS) return rc;
  if (lpFile == nullptr || lpFile[0] == '\0') return ERROR_INVALID_PARAMETER;
  std::unique_ptr<HiveReader> reader;
  if (LONG rc = HiveReader::Open(lpFile, &reader); rc != ERROR_SUCCESS) return rc;
  LoadedHive hive;
  {
    struct stat info {};
    char resolved[PATH_MAX];
    if (stat(lpFile, &info) != 0 || realpath(lpFile, resolved) == nullptr) {
      return orvik::posix::hive::FileError(errno, lpFile);
    }
    hive.file = resolved;
    hive.device = static_cast<int64_t>(info.st_dev);
    hive.inode = static_cast<int64_t>(info.st_ino);
    orvik::posix::hive::KeyNode root;
    if (LONG rc = reader->ReadKey(reader->root(), &root); rc != ERROR_SUCCESS) return rc;
    hive.root_name = root.name;
  }
  KeyStep step;
  if (LONG rc = step.Start(hKey, 0, KeyStep::kWrite); rc != ERROR_SUCCESS) return rc;
  Tree& tree = step.tree();
  // While loaded, the file is the registry's.
  {
    LoadedHive other;
    const LONG found = tree.FindLoadedHiveFile(hive.device, hive.inode, &other);
    if (found == ERROR_SUCCESS) return step.Finish(ERROR_SHARING_VIOLATION);
    if (found != ERROR_FILE_NOT_FOUND) return step.Finish(found);
  }
  const KeyId parent = step.handle().key;
  KeyId key = 0;
  if (LONG rc = tree.FindChild(parent, name, &key); rc != ERROR_FILE_NOT_FOUND) {
    return step.Finish(rc == ERROR_SUCCESS ? ERROR_ALREADY_EXISTS : rc);
  }
  if (LONG rc = tree.CreateChild(parent, name, std::nullopt, &key); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  if (LONG rc = orvik::posix::CopyHiveIntoKey(*reader, tree, key); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  hive.key = key;
  if (LONG rc = DigestOfTree(tree, key, hive, &hive.digest); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  return step.Finish(tree.AddLoadedHive(hive));
}

LONG RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey) {
  std::u16string name;
  if (LONG rc = CheckCall(hKey, lpSubKey, &name); rc != ERROR_SUCCESS) return rc;
  KeyStep step;
  if (LONG rc = step.Start(hKey, 0, KeyStep::kWrite); rc != ERROR_SUCCESS) return rc;
  Tree& tree = step.tree();
  KeyId key = 0;
  if (LONG rc = tree.FindChild(step.handle().key, name, &key); rc != ERROR_SUCCESS) {
    return step.Finish(rc);
  }
  LoadedHive hive;
  if (LONG rc = tree.FindLoadedHive(key, &hive); rc != ERROR_SUCCESS) {
    return step.Finish(rc == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_PARAMETER : rc);
  }
  if (LONG rc = WriteBack(tree, key, hive); rc != ERROR_SUCCESS) return step.Finish(rc);
  if (LONG rc = tree.RemoveLoadedHive(key); rc != ERROR_SUCCESS) return step.Finish(rc);
  return step.Finish(orvik::posix::RemoveKeyTree(tree, key, true));
}
