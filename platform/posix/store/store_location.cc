// The registry directory from the environment, its creation and checks, and
// the creation of the registry's files.
#include "platform/posix/store/store_location.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/posix/file_errors.h"

namespace orvik::posix {

namespace {

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// The home directory of this process's user in the password database.
std::string PasswordHome() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr) {
    return std::string();
  }
  return found->pw_dir;
}

// Whether this process is in the group `group`.
bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<size_t>(i)] == group) return true;
  }
  return false;
}

std::string InDirectory(const std::string& directory, const char* name) {
  const std::string base = !directory.empty() && directory.front() == '/' ? "" : "./";
  return base + directory + "/" + name;
}

}  // namespace

LONG FindRegistryDirectory(RegistryPlace* place) {
  place->named = false;
  place->directory = NonEmptyEnv("ORVIK_REGISTRY");
  if (!place->directory.empty()) {
    place->named = true;
    return ERROR_SUCCESS;
  }
  std::string data_home = NonEmptyEnv("XDG_DATA_HOME");
  if (data_home.empty()) {
    std::string home = NonEmptyEnv("HOME");
    if (home.empty()) home = PasswordHome();
    if (home.empty()) return ORVIK_ERROR_NO_HOME_DIRECTORY;
    data_home = home + "/.local/share";
  }
  place->directory = data_home + "/orvik/registry";
  return ERROR_SUCCESS;
}

LONG EnsureDirectory(const std::string& directory) {
  struct stat info {};
  if (stat(directory.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? ERROR_SUCCESS : ERROR_DIRECTORY;
  }
  // Create each missing component in turn.
  for (size_t pos = directory.find('/', 1);; pos = directory.find('/', pos + 1)) {
    const std::string part = directory.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      if (errno == ENOTDIR) return ERROR_DIRECTORY;
      if (errno == ENOSPC) return ERROR_DISK_FULL;
      return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED
                                                                   : ERROR_REGISTRY_IO_FAILED;
    }
    if (pos == std::string::npos) break;
  }
  return ERROR_SUCCESS;
}

LONG ResolveDirectory(const std::string& directory, std::string* resolved) {
  char* path = realpath(directory.c_str(), nullptr);
  if (path == nullptr) return RegistryFileError(errno);
  *resolved = path;
  std::free(path);
  return ERROR_SUCCESS;
}

LONG CheckRegistryDirectory(const RegistryPlace& place, DirectoryOwner* owner) {
  struct stat info {};
  if (stat(place.directory.c_str(), &info) != 0) return RegistryFileError(errno);
  if (!S_ISDIR(info.st_mode)) return ERROR_DIRECTORY;
  // Whoever may write the directory may put a link or a file of their own
  // in place of the registry's files.
  if ((info.st_mode & S_IWOTH) != 0) return ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY;
  // A directory its group may write is a registry the group shares. Without
  // the setgid bit the files would take the groups of the members who made
  // them, and no file could be told from one a member put there.
  const bool shared = (info.st_mode & S_IWGRP) != 0;
  if (shared && (info.st_mode & S_ISGID) == 0) return ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY;
  const uid_t me = geteuid();
  const bool trusted_owner = info.st_uid == me || info.st_uid == 0 || (me == 0 && place.named);
  if (!trusted_owner && !(shared && InGroup(info.st_gid))) {
    return ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY;
  }
  owner->uid = info.st_uid;
  owner->gid = info.st_gid;
  owner->shared = shared;
  for (const char* name : {"registry.db", "registry.db-wal", "registry.db-shm",
                           "registry.db-journal", "registry.changes"}) {
    struct stat file {};
    if (lstat(InDirectory(place.directory, name).c_str(), &file) != 0) continue;
    if (const LONG rc = CheckRegistryFile(file, *owner); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

LONG CheckRegistryFile(const struct stat& file, const DirectoryOwner& directory) {
  if (!S_ISREG(file.st_mode)) return ORVIK_ERROR_REGISTRY_FILE_LINKED;
  if (!directory.shared) return ERROR_SUCCESS;
  // A second name would make a file kept elsewhere (another member's, say)
  // the registry's; a file made here has the directory's group.
  if (file.st_nlink != 1 || file.st_gid != directory.gid) return ORVIK_ERROR_FOREIGN_REGISTRY_FILE;
  return ERROR_SUCCESS;
}

unsigned NewDatabaseMode(const DirectoryOwner& directory) { return directory.shared ? 0660 : 0644; }

int CreateRegistryFile(const std::string& path, unsigned mode, const DirectoryOwner& owner) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  auto fail = [&]() {
    const int error = errno;
    close(fd);
    unlink(path.c_str());
    errno = error;
    return -1;
  };
  // Root creating a file in another user's registry leaves it to that user,
  // who could not write it otherwise.
  if (geteuid() == 0 && owner.uid != 0 && fchown(fd, owner.uid, owner.gid) != 0) return fail();
  // The group of a shared registry keeps its rights whatever this user's
  // umask took away.
  if (owner.shared && fchmod(fd, mode) != 0) return fail();
  return fd;
}

std::string DatabasePath(const std::string& directory) {
  return InDirectory(directory, "registry.db");
}

std::string ChangeCounterPath(const std::string& directory) {
  return InDirectory(directory, "registry.changes");
}

std::string PrivateCopyPath(const std::string& directory, int64_t generation) {
  return InDirectory(directory, "loaded-hive-") + std::to_string(generation);
}

}  // namespace orvik::posix
