// FileReplacement on POSIX: open, write, fsync and rename. The new file gets
// the permissions of the file it replaces, or the usual ones (0666 less the
// umask) for a new target; a target that is a symbolic link is replaced
// where the link points, so the link stays.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_replacement.h"

namespace orvik {

namespace {

// Follows a symbolic link to the file it names; any other name is kept.
std::string ResolvedTarget(const std::string& target) {
  struct stat link_status {};
  if (lstat(target.c_str(), &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return target;
  char resolved[PATH_MAX];
  if (realpath(target.c_str(), resolved) == nullptr) return target;
  return resolved;
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
  }

  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = target_ + ".orvik-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    const int fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (mode != 0666) fchmod(fd, mode);
      handle_ = fd;
      open_ = true;
      return true;
    }
    if (errno != EEXIST) break;
  }
  temporary_.clear();
  return false;
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
  return true;
}

FileReplacement::Outcome FileReplacement::Commit() {
  if (!open_) return Outcome::kWriteFailed;
  const int fd = static_cast<int>(handle_);
  const bool flushed = fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  open_ = false;
  if (!flushed || !closed) {
    Discard();
    return Outcome::kWriteFailed;
  }
  if (rename(temporary_.c_str(), target_.c_str()) != 0) {
    Discard();
    return Outcome::kReplaceFailed;
  }
  temporary_.clear();
  // The new name is durable once the directory is.
  const size_t slash = target_.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  const int dir_fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return Outcome::kDone;
}

void FileReplacement::Discard() {
  if (open_) {
    close(static_cast<int>(handle_));
    open_ = false;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace orvik
