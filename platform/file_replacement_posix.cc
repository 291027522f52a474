// FileReplacement on POSIX. The target's path is resolved as the kernel's
// protected-links rule allows (a link that another user planted in a shared
// sticky directory is not followed) and its directory is opened once, without
// following any link, so that the new file is made and named where the path
// led at the start. The new file has no name until it is complete
// (posix/safe_files.h), so a process killed on the way leaves nothing behind.
// It takes the mode, the group and, when root replaces it, the owner of the
// file it replaces, or the usual mode (0666 less the umask) for a new target.
// A target that is a symbolic link is replaced where the link points, so the
// link stays. A target that is not a file (a device or a pipe) is written in
// place.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_replacement.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/file_sync.h"
#include "platform/posix/safe_files.h"

namespace orvik {

LONG MoveFileOver(const std::string& source, const std::string& target) {
  // The target keeps its place: a link there is replaced itself, as a move
  // replaces it; a directory, device or pipe never.
  std::string directory;
  if (LONG rc = posix::ResolvePath(posix::DirectoryOf(target), &directory); rc != ERROR_SUCCESS) {
    return rc;
  }
  const int dir = posix::OpenDirectoryNoFollow(directory);
  if (dir < 0) return posix::FileError(errno, target);
  const std::string name = posix::BaseNameOf(target);
  LONG rc = ERROR_SUCCESS;
  struct stat old {};
  if (fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISREG(old.st_mode)) {
      const int fd = open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) {
        rc = posix::FileError(errno, source);
      } else {
        posix::KeepAttributes(fd, old);
        close(fd);
      }
    } else if (!S_ISLNK(old.st_mode)) {
      rc = ERROR_ACCESS_DENIED;
    }
  }
  if (rc == ERROR_SUCCESS && renameat(AT_FDCWD, source.c_str(), dir, name.c_str()) != 0) {
    rc = errno == EISDIR || errno == ENOTEMPTY ? ERROR_ACCESS_DENIED
                                               : posix::FileError(errno, target);
  }
  if (rc == ERROR_SUCCESS) posix::SyncDirectoryAt(dir);
  close(dir);
  return rc;
}

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Create(const std::string& target) {
  Discard();
  if (target.empty()) return false;
  std::string resolved;
  if (posix::ResolvePath(target, &resolved) != ERROR_SUCCESS) return false;
  const int dir = posix::OpenDirectoryNoFollow(posix::DirectoryOf(resolved));
  if (dir < 0) return false;
  directory_ = dir;
  target_ = posix::BaseNameOf(resolved);

  // An existing target must be a file this process may write, as it would
  // have to be to be opened for writing in place. (The path may still end
  // in a link of /proc that names a pipe or a device: /dev/stdout.)
  struct stat status {};
  if (stat(resolved.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode) || access(resolved.c_str(), W_OK) != 0) {
      Discard();
      return false;
    }
    if (!S_ISREG(status.st_mode)) {
      // A device, pipe or socket (/dev/stdout, say) holds no earlier file to
      // keep, and must not be replaced: it is written in place.
      const int fd = open(resolved.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) {
        Discard();
        return false;
      }
      handle_ = fd;
      open_ = true;
      in_place_ = true;
      return true;
    }
  }
  int fd = -1;
  if (posix::CreateNewFile(dir, target_, 0666, &fd, &temporary_) != ERROR_SUCCESS) {
    Discard();
    return false;
  }
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
  const int dir = static_cast<int>(directory_);
  if (in_place_) {
    open_ = false;
    in_place_ = false;
    const bool closed = close(fd) == 0;
    Discard();
    return closed ? Outcome::kDone : Outcome::kWriteFailed;
  }
  // The file it replaces lends it its attributes; what stands there now
  // must still be a file.
  struct stat old {};
  if (fstatat(dir, target_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(old.st_mode)) {
      Discard();
      return Outcome::kReplaceFailed;
    }
    posix::KeepAttributes(fd, old);
  }
  if (fsync(fd) != 0) {
    Discard();
    return Outcome::kWriteFailed;
  }
  if (posix::NameNewFile(dir, fd, target_, true, &temporary_) != ERROR_SUCCESS) {
    Discard();
    return Outcome::kReplaceFailed;
  }
  const bool closed = close(fd) == 0;
  open_ = false;
  // The new name is durable once the directory is.
  posix::SyncDirectoryAt(dir);
  Discard();
  return closed ? Outcome::kDone : Outcome::kWriteFailed;
}

void FileReplacement::Discard() {
  if (open_) {
    close(static_cast<int>(handle_));
    open_ = false;
  }
  in_place_ = false;
  if (!temporary_.empty() && directory_ >= 0) {
    unlinkat(static_cast<int>(directory_), temporary_.c_str(), 0);
  }
  temporary_.clear();
  if (directory_ >= 0) {
    close(static_cast<int>(directory_));
    directory_ = -1;
  }
}

}  // namespace orvik
