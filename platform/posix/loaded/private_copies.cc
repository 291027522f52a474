// The private copies of loaded hives in the registry directory: taking one
// when a hive is loaded, removing those that no loaded hive uses.
#include "platform/posix/loaded/private_copies.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/posix/file_errors.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/store/store_location.h"

namespace orvik::posix {

namespace {

// Copies the first `length` bytes of `source` to `target`: in the kernel
// where it can (not between file systems of different kinds), else through
// a buffer.
LONG CopyFileBytes(int source, int target, off_t length) {
  auto failed = []() -> LONG {
    return errno == ENOSPC || errno == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
  };
  off_t offset = 0;
  while (offset < length) {
    const auto left = static_cast<size_t>(length - offset);
    const ssize_t n = copy_file_range(source, &offset, target, nullptr, left, 0);
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
  while (offset < length) {
    const ssize_t n = pread(source, buffer.data(),
                            std::min(buffer.size(), static_cast<size_t>(length - offset)), offset);
    if (n == 0) return ERROR_SUCCESS;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ERROR_READ_FAULT;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w =
          pwrite(target, buffer.data() + done, static_cast<size_t>(n - done), offset + done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return failed();
      }
      done += w;
    }
    offset += n;
  }
  return ERROR_SUCCESS;
}

// How much of the hive file a copy takes: the base block and the bins it
// declares (a dirty hive's recovered base block declares them, the damaged
// one in the file may not), never more than the file holds. A file grown
// (or made sparse) beyond its hive costs nothing.
off_t HiveLength(int source, const hive::Replay* replay, off_t file_size) {
  uint32_t bins = 0;
  if (replay != nullptr) {
    bins = replay->bins_size;
  } else {
    uint8_t base_block[hive::kBaseBlockSize];
    if (pread(source, base_block, sizeof(base_block), 0) !=
        static_cast<ssize_t>(sizeof(base_block))) {
      return file_size;
    }
    bins = hive::Load32(base_block + hive::kDataSizeOffset);
  }
  return std::min(static_cast<off_t>(hive::kBaseBlockSize) + static_cast<off_t>(bins), file_size);
}

// The mode of a private copy: never more than the database's (the registry's
// readers) nor the source file's, and no group access where the copy's group
// is not the source's.
mode_t CopyMode(mode_t database, const struct stat& source, gid_t copy_group) {
  mode_t mode = database & source.st_mode & 0666;
  if (copy_group != source.st_gid) mode &= ~static_cast<mode_t>(0070);
  return mode | 0600;
}

}  // namespace

LONG CopyIntoRegistry(int source, const hive::Replay* replay, const SqliteStore& store,
                      int64_t generation, std::string* copy, std::vector<uint32_t>* pages,
                      int* fd) {
  pages->clear();
  *copy = PrivateCopyPath(store.directory(), generation);
  // A load killed before its commit leaves its copy, and its generation is
  // handed out again.
  unlink(copy->c_str());
  struct stat file {};
  if (fstat(source, &file) != 0) return FileError(errno, *copy);
  *fd = CreateRegistryFile(*copy, 0600, store.owner());
  if (*fd < 0) return RegistryFileError(errno);
  LONG rc = ERROR_SUCCESS;
  // The registry's readers read the copy, if they may read the file.
  struct stat database {};
  struct stat made {};
  if (stat(DatabasePath(store.directory()).c_str(), &database) == 0 && fstat(*fd, &made) == 0 &&
      fchmod(*fd, CopyMode(database.st_mode, file, made.st_gid)) != 0) {
    rc = RegistryFileError(errno);
  }
  const off_t length = HiveLength(source, replay, file.st_size);
  if (rc == ERROR_SUCCESS && ioctl(*fd, FICLONE, source) == 0) {
    if (file.st_size > length && ftruncate(*fd, length) != 0) rc = ERROR_WRITE_FAULT;
  } else if (rc == ERROR_SUCCESS) {
    rc = CopyFileBytes(source, *fd, length);
  }
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

LONG OpenPrivateCopy(const SqliteStore& store, const LoadedHive& hive,
                     std::unique_ptr<hive::HiveReader>* reader) {
  const int fd = open(hive.copy.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ERROR_REGISTRY_CORRUPT;
  struct stat info {};
  LONG rc = ERROR_REGISTRY_CORRUPT;
  if (fstat(fd, &info) == 0 && CheckRegistryFile(info, store.owner()) == ERROR_SUCCESS) {
    rc = hive::HiveReader::Map(fd, info, reader) == ERROR_SUCCESS ? ERROR_SUCCESS
                                                                  : ERROR_REGISTRY_CORRUPT;
  }
  close(fd);
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
