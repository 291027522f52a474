// The shared change counter in its mapped file.
#include "platform/posix/store/change_counter.h"
#include "platform/posix/file_errors.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orvik::posix {

namespace {

constexpr size_t kFileSize = 4096;

// Opens the counter file without following a link and without blocking on
// a FIFO; a writer creates it when it is missing.
int OpenFile(const std::string& path, bool writable, unsigned mode, const DirectoryOwner& owner,
             bool* created) {
  *created = false;
  const int flags = (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (;;) {
    int fd = open(path.c_str(), flags);
    if (fd >= 0 || errno != ENOENT || !writable) return fd;
    fd = CreateRegistryFile(path, mode, owner);
    if (fd >= 0 || errno != EEXIST) {
      *created = fd >= 0;
      return fd;
    }
    // Another process created it in between: open theirs.
  }
}

}  // namespace

ChangeCounter::~ChangeCounter() {
  if (value_ != nullptr) munmap(value_, kFileSize);
}

LONG ChangeCounter::Open(const std::string& path, bool writable, unsigned mode,
                         const DirectoryOwner& owner) {
  bool created = false;
  const int fd = OpenFile(path, writable, mode, owner, &created);
  if (fd < 0) {
    const int error = errno;
    if (error == ELOOP) return ORVIK_ERROR_REGISTRY_FILE_LINKED;
    return writable ? RegistryFileError(error) : ERROR_SUCCESS;
  }
  LONG result = ERROR_SUCCESS;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    result = ERROR_REGISTRY_IO_FAILED;
  } else if (const LONG foreign = CheckRegistryFile(info, owner); foreign != ERROR_SUCCESS) {
    result = foreign;
  } else if (writable && (static_cast<size_t>(info.st_size) < kFileSize ||
                          static_cast<size_t>(info.st_blocks) * 512 < kFileSize)) {
    // The page must have its disk space before it is written through the
    // mapping: a write to a page the disk cannot hold kills the process.
    const int error = posix_fallocate(fd, 0, kFileSize);
    if (error == 0) {
      info.st_size = kFileSize;
    } else {
      result = error == ENOSPC || error == EDQUOT ? ERROR_DISK_FULL : ERROR_REGISTRY_IO_FAILED;
      if (created) unlink(path.c_str());
    }
  }
  if (result == ERROR_SUCCESS && static_cast<size_t>(info.st_size) >= kFileSize) {
    void* map =
        mmap(nullptr, kFileSize, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      value_ = static_cast<uint64_t*>(map);
      writable_ = writable;
    } else if (writable) {
      result = ERROR_REGISTRY_IO_FAILED;
    }
  }
  close(fd);
  return result;
}

uint64_t ChangeCounter::Load() const { return __atomic_load_n(value_, __ATOMIC_SEQ_CST); }

void ChangeCounter::BeginWrite() {
  alone_ = false;
  if (value_ == nullptr || !writable_) return;
  const uint64_t current = Load();
  // Odd and different from any value a reader may have seen.
  began_from_ = current;
  began_at_ = (current | 1) + ((current & 1) != 0 ? 2 : 0);
  __atomic_store_n(value_, began_at_, __ATOMIC_SEQ_CST);
}

void ChangeCounter::EndWrite() {
  if (value_ == nullptr || !writable_) return;
  // Only the value this writer set moves on: a writer that began after this
  // one committed has made it odd again, and it stays odd until that writer
  // ends.
  uint64_t expected = began_at_;
  alone_ = __atomic_compare_exchange_n(value_, &expected, began_at_ + 1, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST) &&
           (began_from_ & 1) == 0;
}

bool ChangeCounter::LastWriteAlone(uint64_t* before, uint64_t* after) const {
  if (!alone_) return false;
  *before = began_from_;
  *after = began_at_ + 1;
  return true;
}

}  // namespace orvik::posix
