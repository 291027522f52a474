// The shared change counter in its mapped file.
#include "platform/posix/change_counter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::posix {

namespace {
constexpr size_t kFileSize = 4096;
}  // namespace

ChangeCounter::~ChangeCounter() {
  if (value_ != nullptr) munmap(value_, kFileSize);
}

bool ChangeCounter::Open(const std::string& path, bool writable, unsigned mode) {
  const int fd = writable ? open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode)
                          : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return !writable;
  struct stat info {};
  if (fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) < kFileSize && writable) {
    if (ftruncate(fd, kFileSize) != 0)
      info.st_size = 0;
    else
      info.st_size = kFileSize;
  }
  if (static_cast<size_t>(info.st_size) >= kFileSize) {
    void* map =
        mmap(nullptr, kFileSize, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      value_ = static_cast<uint64_t*>(map);
      writable_ = writable;
    }
  }
  close(fd);
  return !writable || value_ != nullptr;
}

uint64_t ChangeCounter::Load() const { return __atomic_load_n(value_, __ATOMIC_SEQ_CST); }

void ChangeCounter::BeginWrite() {
  if (value_ == nullptr || !writable_) return;
  const uint64_t current = Load();
  // Odd and different from any value a reader may have seen.
  __atomic_store_n(value_, (current | 1) + ((current & 1) != 0 ? 2 : 0), __ATOMIC_SEQ_CST);
}

void ChangeCounter::EndWrite() {
  if (value_ == nullptr || !writable_) return;
  const uint64_t current = Load();
  if ((current & 1) != 0) __atomic_store_n(value_, current + 1, __ATOMIC_SEQ_CST);
}

}  // namespace orvik::posix
