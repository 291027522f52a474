// Finding, reading and emptying the logs beside a hive.
#include "platform/posix/hive/hive_log_files.h"
#include "platform/posix/file_errors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>

#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_reader.h"

namespace orvik::posix::hive {

namespace {

constexpr std::array<std::string_view, 3> kSuffixes = {".LOG", ".LOG1", ".LOG2"};
// A log holds the hive's pages, some of them more than once; beyond this it
// is no log of a hive that may be loaded.
constexpr uint64_t kMaxLogSize = uint64_t{kMaxBinsSize} * 2;

struct Place {
  std::string directory;  // with its trailing slash; "" for the current one
  std::string name;
};

Place Split(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

int OpenFlags(int access) { return access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC; }

// The names of the logs of the hive `name` among the entries of `dir`, in
// the order LOG, LOG1, LOG2 (empty for none); closes `dir`.
std::array<std::string, 3> MatchLogNames(DIR* dir, const std::string& name) {
  std::array<std::u16string, kSuffixes.size()> wanted;
  std::array<std::string, kSuffixes.size()> exact;
  for (size_t i = 0; i < kSuffixes.size(); ++i) {
    exact[i] = name + std::string(kSuffixes[i]);
    wanted[i] = FoldName(AnsiToWide(exact[i]));
  }
  std::array<std::string, kSuffixes.size()> found;
  while (const dirent* entry = readdir(dir)) {
    const std::string candidate = entry->d_name;
    const std::u16string folded = FoldName(AnsiToWide(candidate));
    for (size_t i = 0; i < kSuffixes.size(); ++i) {
      if (folded != wanted[i]) continue;
      std::string& taken = found[i];
      if (taken.empty() || candidate == exact[i] || (taken != exact[i] && candidate < taken)) {
        taken = candidate;
      }
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::vector<std::string> FindHiveLogs(const std::string& hive_path) {
  const Place place = Split(hive_path);
  DIR* dir = opendir(place.directory.empty() ? "." : place.directory.c_str());
  if (dir == nullptr) return {};
  std::vector<std::string> paths;
  for (const std::string& name : MatchLogNames(dir, place.name)) {
    if (!name.empty()) paths.push_back(place.directory + name);
  }
  return paths;
}

HiveLogNames FindHiveLogNames(int directory, const std::string& name) {
  // A description of its own, so that the caller's is left where it was.
  const int fd = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return {};
  }
  const std::array<std::string, 3> found = MatchLogNames(dir, name);
  return HiveLogNames{found[0], found[1], found[2]};
}

LONG ReadLogFile(const std::string& path, std::vector<uint8_t>* bytes) {
  bytes->clear();
  const int fd = open(path.c_str(), OpenFlags(O_RDONLY));
  if (fd < 0) return errno == ELOOP ? ERROR_REGISTRY_CORRUPT : FileError(errno, path);
  struct stat info {};
  LONG rc = ERROR_SUCCESS;
  if (fstat(fd, &info) != 0) {
    rc = FileError(errno, path);
  } else if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > kMaxLogSize) {
    rc = ERROR_REGISTRY_CORRUPT;
  } else {
    bytes->resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes->size()) {
      const ssize_t n =
          pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        rc = ERROR_READ_FAULT;
        break;
      }
      if (n == 0) break;  // shorter now than it was
      done += static_cast<size_t>(n);
    }
    bytes->resize(done);
  }
  close(fd);
  return rc;
}

void EmptyHiveLogs(const std::string& hive_path) {
  for (const std::string& path : FindHiveLogs(hive_path)) {
    const int fd = open(path.c_str(), OpenFlags(O_RDWR));
    if (fd < 0) continue;
    struct stat info {};
    uint8_t head[kLogSectorSize];
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
        pread(fd, head, sizeof(head), 0) == static_cast<ssize_t>(sizeof(head)) &&
        HasSignature(head, "regf") &&
        (Load32(head + kFileTypeOffset) == kFileTypeOldLog ||
         Load32(head + kFileTypeOffset) == kFileTypeNewLog) &&
        ftruncate(fd, 0) == 0) {
      fsync(fd);
    }
    close(fd);
  }
}

}  // namespace orvik::posix::hive
