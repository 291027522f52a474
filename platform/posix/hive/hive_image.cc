// The changeable image of a hive file.
#include "platform/posix/hive/hive_image.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"

namespace orvik::posix::hive {

namespace {

size_t PageSize() {
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<size_t>(size) : 4096;
}

size_t RoundUp(size_t size, size_t unit) { return (size + unit - 1) / unit * unit; }

}  // namespace

LONG HiveImage::Reserve(size_t file_size) {
  // Room for the largest hive there may be; where the system does not give
  // that much address space, for a generous growth of this one.
  const size_t page = PageSize();
  const size_t largest = RoundUp(size_t{kBaseBlockSize} + kMaxBinsSize, page);
  for (const size_t want : {std::max(largest, RoundUp(file_size, page)),
                            RoundUp(file_size, page) + (size_t{64} << 20)}) {
    void* space =
        mmap(nullptr, want, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (space == MAP_FAILED) continue;
    data_ = static_cast<uint8_t*>(space);
    reserved_ = want;
    file_size_ = file_size;
    size_ = file_size;
    return ERROR_SUCCESS;
  }
  return ERROR_NOT_ENOUGH_MEMORY;
}

LONG HiveImage::Map(int fd, std::unique_ptr<HiveImage>* image) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return ERROR_READ_FAULT;
  const auto size = static_cast<size_t>(info.st_size);
  if (size < kBaseBlockSize) return ERROR_NOT_REGISTRY_FILE;
  std::unique_ptr<HiveImage> made(new HiveImage);
  if (LONG rc = made->Reserve(size); rc != ERROR_SUCCESS) return rc;
  const size_t mapped = RoundUp(size, PageSize());
  // Private: a change copies the page for this process alone. The pages are
  // mapped in one go, read-only (so that none is copied), and may then be
  // written.
  if (mmap(made->data_, mapped, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) ==
          MAP_FAILED ||
      mprotect(made->data_, mapped, PROT_READ | PROT_WRITE) != 0) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  made->usable_ = mapped;
  *image = std::move(made);
  return ERROR_SUCCESS;
}

LONG HiveImage::FromBytes(std::string_view bytes, std::unique_ptr<HiveImage>* image) {
  if (bytes.size() < kBaseBlockSize) return ERROR_NOT_REGISTRY_FILE;
  std::unique_ptr<HiveImage> made(new HiveImage);
  if (LONG rc = made->Reserve(bytes.size()); rc != ERROR_SUCCESS) return rc;
  made->size_ = 0;
  if (LONG rc = made->Grow(bytes.size()); rc != ERROR_SUCCESS) return rc;
  std::memcpy(made->data_, bytes.data(), bytes.size());
  *image = std::move(made);
  return ERROR_SUCCESS;
}

HiveImage::~HiveImage() {
  if (data_ != nullptr) munmap(data_, reserved_);
}

LONG HiveImage::Grow(size_t size) {
  if (size <= size_) return ERROR_SUCCESS;
  if (size > reserved_) return ERROR_NOT_ENOUGH_MEMORY;
  if (size > usable_) {
    const size_t usable = RoundUp(size, PageSize());
    // Anonymous pages of the reservation: zeros until written.
    if (mprotect(data_ + usable_, usable - usable_, PROT_READ | PROT_WRITE) != 0) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    usable_ = usable;
  }
  // Bytes past the file's end on its last mapped page read as zeros too.
  size_ = size;
  return ERROR_SUCCESS;
}

uint8_t* HiveImage::Change(size_t offset, size_t size) {
  if (size > 0 && offset + size > kBaseBlockSize) {
    const size_t first = offset < kBaseBlockSize ? 0 : (offset - kBaseBlockSize) / kBinAlignment;
    const size_t last = (offset + size - 1 - kBaseBlockSize) / kBinAlignment;
    if (changed_.size() <= last) changed_.resize(last + 1, false);
    for (size_t page = first; page <= last; ++page) changed_[page] = true;
  }
  return data_ + offset;
}

std::vector<uint32_t> HiveImage::ChangedPages() const {
  std::vector<uint32_t> pages;
  for (size_t page = 0; page < changed_.size(); ++page) {
    if (changed_[page]) pages.push_back(static_cast<uint32_t>(page));
  }
  return pages;
}

}  // namespace orvik::posix::hive
