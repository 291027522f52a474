// Syncing files and directories.
#include "platform/posix/file_sync.h"

#include <fcntl.h>
#include <unistd.h>

namespace orvik::posix {

namespace {

void SyncOpened(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncPath(const std::string& path) { SyncOpened(path, 0); }

void SyncDirectoryOf(const std::string& path) { SyncOpened(DirectoryOf(path), O_DIRECTORY); }

}  // namespace orvik::posix
