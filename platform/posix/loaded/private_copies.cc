// The private copies of loaded hives in the registry directory: taking one
// when a hive is loaded, removing those that no loaded hive uses.
#include "platform/posix/loaded/private_copies.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/posix/file_errors.h"
#include "platform/posix/store/store_location.h"

namespace orvik::posix {

namespace {

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

}  // namespace

LONG CopyIntoRegistry(int source, const hive::Replay* replay, const SqliteStore& store,
                      int64_t generation, std::string* copy, std::vector<uint32_t>* pages,
                      int* fd) {
  pages->clear();
  *copy = store.directory() + "/loaded-hive-" + std::to_string(generation);
  // A load killed before its commit leaves its copy, and its generation is
  // handed out again.
  unlink(copy->c_str());
  struct stat database {};
  const unsigned mode = stat(DatabasePath(store.directory()).c_str(), &database) == 0
                            ? (database.st_mode & 0666)
                            : 0600;
  *fd = CreateRegistryFile(*copy, mode, store.owner());
  if (*fd < 0) return RegistryFileError(errno);
  LONG rc = ERROR_SUCCESS;
  if (ioctl(*fd, FICLONE, source) != 0) rc = CopyFileBytes(source, *fd);
  // Before the pages go to the disk: written over once they are on their
  // way, they would wait for it and go twice.
  if (rc == ERROR_SUCCESS && replay != nullptr) {
    rc = hive::ApplyReplay(*replay, *fd);
    *pages = hive::ReplayedPages(*replay);
  }
  if (rc == ERROR_SUCCESS) {
    sync_file_range(*fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return ERROR_SUCCESS;
  }
  close(*fd);
  *fd = -1;
  unlink(copy->c_str());
  return rc;
}

void RemoveUnusedCopies(SqliteStore& store, int64_t keep) {
  const std::string& directory = store.directory();
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
    if (store.FindLoadedHiveGeneration(generation, &record) == ERROR_FILE_NOT_FOUND) {
      unlinkat(dirfd(dir), entry->d_name, 0);
    }
  }
  closedir(dir);
}

}  // namespace orvik::posix
