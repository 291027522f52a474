// FileReplacement on POSIX. The new file is made without a name where the
// file system allows it (O_TMPFILE), so that a process killed on the way
// leaves nothing behind; it gets a name beside the target only at the end,
// just before it is renamed over the target. Elsewhere it is a named file
// from the start. It gets the permissions of the file it replaces, or the
// usual ones (0666 less the umask) for a new target; a target that is a
// symbolic link is replaced where the link points, so the link stays. A
// target that is not a file (a device or a pipe) is written in place.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_replacement.h"
#include "platform/posix/file_sync.h"

namespace orvik {

LONG MoveFileOver(const std::string& source, const std::string& target) {
  if (MoveFileExA(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return ERROR_SUCCESS;
  }
  return static_cast<LONG>(GetLastError());
}

namespace {

// Follows a symbolic link to the file it names; any other name is kept.
std::string ResolvedTarget(const std::string& target) {
  struct stat link_status {};
  if (lstat(target.c_str(), &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return target;
  char resolved[PATH_MAX];
  if (realpath(target.c_str(), resolved) == nullptr) return target;
  return resolved;
}

// A name beside the target that no other file has yet.
std::string TemporaryName(const std::string& target, int attempt) {
  return target + ".orvik-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
}

}  // namespace

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Create(const std::string& target) {
  Discard();
  if (target.empty()) return false;
  target_ = ResolvedTarget(target);

  // An existing target must be a file this process may write, as it would
  // have to be to be opened for writing in place.
  struct stat status {};
  mode_t mode = 0666;
  if (stat(target_.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode) || access(target_.c_str(), W_OK) != 0) return false;
    mode = status.st_mode & 07777;
    if (!S_ISREG(status.st_mode)) {
      // A device, pipe or socket (/dev/stdout, say) holds no earlier file to
      // keep, and must not be replaced: it is written in place.
      const int fd = open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) return false;
      handle_ = fd;
      open_ = true;
      in_place_ = true;
      return true;
    }
  }

  int fd = -1;
#ifdef O_TMPFILE
  // Giving the file a name later goes through /proc.
  if (access("/proc/self/fd", X_OK) == 0) {
    fd = open(posix::DirectoryOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  }
#endif
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary_ = TemporaryName(target_, attempt);
    fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      temporary_.clear();
      if (errno != EEXIST) return false;
    }
  }
  if (fd < 0) return false;
  if (mode != 0666) fchmod(fd, mode);
  handle_ = fd;
  open_ = true;
  return true;
}

bool FileReplacement::Write(std::string_view bytes) {
  if (!open_) return false;
  const int fd = static_cast<int>(handle_);
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  // What is written goes to the disk while the rest is made, so that the
  // sync before the rename has little left to wait for.
  if (!in_place_) sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  return true;
}

FileReplacement::Outcome FileReplacement::Commit() {
  if (!open_) return Outcome::kWriteFailed;
  const int fd = static_cast<int>(handle_);
  if (in_place_) {
    open_ = false;
    in_place_ = false;
    return close(fd) == 0 ? Outcome::kDone : Outcome::kWriteFailed;
  }
  if (fsync(fd) != 0) {
    Discard();
    return Outcome::kWriteFailed;
  }
  // A file without a name gets one beside the target now.
  const std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; temporary_.empty() && attempt < 100; ++attempt) {
    const std::string name = TemporaryName(target_, attempt);
    if (linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temporary_ = name;
    } else if (errno != EEXIST) {
      break;
    }
  }
  const bool closed = close(fd) == 0;
  open_ = false;
  if (temporary_.empty()) return Outcome::kReplaceFailed;
  if (!closed) {
    Discard();
    return Outcome::kWriteFailed;
  }
  if (rename(temporary_.c_str(), target_.c_str()) != 0) {
    Discard();
    return Outcome::kReplaceFailed;
  }
  temporary_.clear();
  // The new name is durable once the directory is.
  posix::SyncDirectoryOf(target_);
  return Outcome::kDone;
}

void FileReplacement::Discard() {
  if (open_) {
    close(static_cast<int>(handle_));
    open_ = false;
  }
  in_place_ = false;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace orvik
