// Paths resolved under the protected-links rule, directories opened without
// links, and new files named only when complete.
#include "platform/posix/safe_files.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <vector>

#include "platform/posix/file_errors.h"

namespace orvik::posix {

namespace {

// The components of a path, empty ones and "." left out.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t from = 0;
  while (from <= path.size()) {
    size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(from, slash - from);
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    from = slash + 1;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) path += "/" + part;
  return path.empty() ? "/" : path;
}

// Whether the kernel's protected-links rule lets this process follow a link
// owned by `link_owner` in the directory `directory`.
bool MayFollow(uid_t link_owner, const struct stat& directory) {
  const bool shared = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
  return !shared || link_owner == geteuid() || link_owner == directory.st_uid;
}

// A name for a file being made that nobody guesses.
std::string HiddenName(const std::string& name) {
  static std::random_device random;
  return "." + name + ".orvik-" + std::to_string(getpid()) + "-" + std::to_string(random());
}

}  // namespace

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

LONG ResolvePath(const std::string& path, std::string* resolved) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  std::string start = path;
  if (path.front() != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return FileError(errno, path);
    start = std::string(cwd) + "/" + path;
  }
  // Components still to walk, the next one last.
  std::vector<std::string> pending = Components(start);
  std::reverse(pending.begin(), pending.end());
  std::vector<std::string> done;
  int links = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.back());
    pending.pop_back();
    if (part == "..") {
      if (!done.empty()) done.pop_back();
      continue;
    }
    done.push_back(part);
    const std::string here = Joined(done);
    struct stat info {};
    if (lstat(here.c_str(), &info) != 0) {
      // A file yet to be made.
      if (errno == ENOENT && pending.empty()) break;
      return FileError(errno, path);
    }
    if (!S_ISLNK(info.st_mode)) continue;
    done.pop_back();
    struct stat directory {};
    if (lstat(Joined(done).c_str(), &directory) != 0) return FileError(errno, path);
    if (!MayFollow(info.st_uid, directory)) return ERROR_ACCESS_DENIED;
    if (++links > 40) return FileError(ELOOP, path);
    std::vector<char> target(static_cast<size_t>(PATH_MAX) + 1);
    const ssize_t length = readlink(here.c_str(), target.data(), target.size() - 1);
    if (length < 0) return FileError(errno, path);
    const std::string text(target.data(), static_cast<size_t>(length));
    // A link of /proc that names no path (a pipe, a socket: "pipe:[4021]")
    // ends the path; it is opened as it is.
    if (here.starts_with("/proc/") && text.find(":[") != std::string::npos) {
      if (!pending.empty()) return FileError(ENOTDIR, path);
      done.push_back(part);
      break;
    }
    if (!text.empty() && text.front() == '/') done.clear();
    std::vector<std::string> parts = Components(text);
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) pending.push_back(*it);
  }
  *resolved = Joined(done);
  return ERROR_SUCCESS;
}

int OpenDirectoryNoFollow(const std::string& directory) {
  if (directory.empty() || directory.front() != '/') {
    errno = EINVAL;
    return -1;
  }
  int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (const std::string& part : Components(directory)) {
    if (fd < 0) return -1;
    if (part == "..") {
      close(fd);
      errno = EINVAL;
      return -1;
    }
    int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // A directory that may be searched but not read is still a step.
    if (next < 0 && errno == EACCES) {
      next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    const int error = errno;
    close(fd);
    errno = error;
    fd = next;
  }
  return fd;
}

void KeepAttributes(int fd, const struct stat& replaced) {
  // The owner first: a change of owner clears the set-id bits of the mode.
  if (geteuid() == 0) {
    (void)fchown(fd, replaced.st_uid, replaced.st_gid);
  } else if (replaced.st_gid != getegid()) {
    (void)fchown(fd, static_cast<uid_t>(-1), replaced.st_gid);
  }
  fchmod(fd, replaced.st_mode & 07777);
}

LONG CreateNewFile(int directory, const std::string& name, mode_t mode, int* fd,
                   std::string* hidden) {
  *fd = -1;
  hidden->clear();
#ifdef O_TMPFILE
  // Giving the file a name later goes through /proc.
  if (access("/proc/self/fd", X_OK) == 0) {
    *fd = openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (*fd >= 0) return ERROR_SUCCESS;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return FileError(errno, name);
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    *hidden = HiddenName(name);
    *fd = openat(directory, hidden->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 mode);
    if (*fd >= 0) return ERROR_SUCCESS;
    if (errno != EEXIST) break;
  }
  const LONG rc = errno == EEXIST ? ERROR_ALREADY_EXISTS : FileError(errno, name);
  hidden->clear();
  return rc;
}

LONG NameNewFile(int directory, int fd, const std::string& name, bool replace,
                 std::string* hidden) {
  if (hidden->empty()) {
    // A file without a name gets one: its final name when no file may be
    // there, else a hidden one to move over the file that is.
    const std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
    if (!replace) {
      if (linkat(AT_FDCWD, fd_path.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return ERROR_SUCCESS;
      }
      return errno == EEXIST ? ERROR_ALREADY_EXISTS : FileError(errno, name);
    }
    for (int attempt = 0; hidden->empty() && attempt < 100; ++attempt) {
      const std::string candidate = HiddenName(name);
      if (linkat(AT_FDCWD, fd_path.c_str(), directory, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        *hidden = candidate;
      } else if (errno != EEXIST) {
        return FileError(errno, name);
      }
    }
    if (hidden->empty()) return ERROR_ALREADY_EXISTS;
  }
  const unsigned flags = replace ? 0 : RENAME_NOREPLACE;
  if (renameat2(directory, hidden->c_str(), directory, name.c_str(), flags) != 0) {
    return errno == EEXIST ? ERROR_ALREADY_EXISTS : FileError(errno, name);
  }
  hidden->clear();
  return ERROR_SUCCESS;
}

void SyncDirectoryAt(int directory) {
  const int fd = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

LONG NewFile::Create(int directory, const std::string& name, mode_t mode) {
  Discard();
  name_ = name;
  directory_ = fcntl(directory, F_DUPFD_CLOEXEC, 0);
  if (directory_ < 0) return FileError(errno, name);
  const LONG rc = CreateNewFile(directory_, name, mode, &fd_, &hidden_);
  if (rc != ERROR_SUCCESS) Discard();
  return rc;
}

LONG NewFile::Commit(bool replace) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  LONG rc = ERROR_SUCCESS;
  if (replace) {
    struct stat old {};
    if (fstatat(directory_, name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISREG(old.st_mode)) {
        KeepAttributes(fd_, old);
      } else {
        rc = ERROR_ACCESS_DENIED;
      }
    }
  }
  if (rc == ERROR_SUCCESS && fsync(fd_) != 0) rc = ERROR_WRITE_FAULT;
  if (rc == ERROR_SUCCESS) rc = NameNewFile(directory_, fd_, name_, replace, &hidden_);
  if (rc != ERROR_SUCCESS) {
    Discard();
    return rc;
  }
  const bool closed = close(fd_) == 0;
  fd_ = -1;
  SyncDirectoryAt(directory_);
  Discard();
  return closed ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

void NewFile::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!hidden_.empty() && directory_ >= 0) unlinkat(directory_, hidden_.c_str(), 0);
  hidden_.clear();
  if (directory_ >= 0) {
    close(directory_);
    directory_ = -1;
  }
}

}  // namespace orvik::posix
