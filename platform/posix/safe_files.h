// Files in directories that other users may control, as root meets them:
// paths resolved the way the kernel's protected-links rule allows,
// directories opened without following any link, and new files that have no
// name until they are complete and then take the owner, group and mode of
// the file they replace.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

// Resolves `path` (relative to the current directory when not absolute) to
// an absolute path without links, ".." or ".". A symbolic link is followed
// as the kernel's protected-links rule follows one when a file is opened: not
// when it lies in a sticky directory that others may write and belongs to
// neither this process's user nor the directory's owner (ERROR_ACCESS_DENIED;
// rename() does not pass through that rule, so it is applied here). A
// missing last component is kept as it is named, for a file yet to be made;
// a link of /proc that names a pipe or socket (/dev/stdout) is kept too.
LONG ResolvePath(const std::string& path, std::string* resolved);

// The last component of a path and the directory that holds it.
std::string BaseNameOf(const std::string& path);

// Opens the directory at the absolute path `directory` one component at a
// time without following a symbolic link anywhere: a directory that another
// user swapped for a link is not reached. The descriptor can be read and
// synced where the directory may be read, else it only names it. -1 with
// errno (ELOOP or ENOTDIR for a link) on failure.
int OpenDirectoryNoFollow(const std::string& directory);

// Gives the file open at `fd` the mode of the file `replaced` describes, and
// its group where this user may; root also gives it that file's owner, so
// that a file root replaces stays its owner's to read and write.
void KeepAttributes(int fd, const struct stat& replaced);

// A new file in a directory `directory` (a descriptor), to be named `name`
// once written in full: a file without a name (O_TMPFILE) where the file
// system allows it, so that a process killed on the way leaves nothing
// behind, else one under a hidden name (*hidden) that nobody guesses. Its
// mode is `mode` less the umask.
LONG CreateNewFile(int directory, const std::string& name, mode_t mode, int* fd,
                   std::string* hidden);

// Gives the new file `fd` (its hidden name in *hidden, empty for none) its
// name `name` in `directory`: with `replace` over the file of that name, else
// only when no file has it (ERROR_ALREADY_EXISTS). *hidden is empty after.
// The caller has synced the file, and syncs the directory.
LONG NameNewFile(int directory, int fd, const std::string& name, bool replace, std::string* hidden);

// Syncs the directory open at `directory` (nothing when it may not be read).
void SyncDirectoryAt(int directory);

// A new file (CreateNewFile) that Commit names and Discard removes.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { Discard(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Makes the file in the directory `directory` (a descriptor, kept open
  // until Commit or Discard) that is to be named `name`, with `mode` less
  // the umask.
  LONG Create(int directory, const std::string& name, mode_t mode);
  int fd() const { return fd_; }

  // Sends the file to the disk and gives it its name, then makes the name
  // durable. With `replace`, over the regular file of that name, whose owner
  // (when root replaces it), group and mode it takes; a name that is now
  // anything but a regular file is not replaced (ERROR_ACCESS_DENIED).
  // Without, only when no file has the name (ERROR_ALREADY_EXISTS). On
  // failure the file is discarded.
  LONG Commit(bool replace);
  void Discard();

 private:
  int directory_ = -1;
  int fd_ = -1;
  std::string name_;
  std::string hidden_;  // the file's name until Commit, when it has one
};

}  // namespace orvik::posix
