// A hive file's image in memory, to be changed and written back: the file
// mapped privately (what is changed stays in this process; the file, and
// every other process that maps it, sees nothing of it), with address space
// reserved behind it for bins appended at the end. Every change is recorded
// by the 4 KiB page it falls in, so that the pages to write back are known
// without comparing the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

class HiveImage {
 public:
  // The file open at `fd`, from its start to its end.
  static LONG Map(int fd, std::unique_ptr<HiveImage>* image);
  // A copy of `bytes` (for tests and for hives built in memory).
  static LONG FromBytes(std::string_view bytes, std::unique_ptr<HiveImage>* image);
  ~HiveImage();
  HiveImage(const HiveImage&) = delete;
  HiveImage& operator=(const HiveImage&) = delete;

  const uint8_t* data() const { return data_; }
  // The bytes that may be read and changed: the file's, and what Grow added.
  size_t size() const { return size_; }
  // The length of the file the image was made from.
  size_t file_size() const { return file_size_; }

  // Makes the image at least `size` bytes long; what it adds reads as
  // zeros. ERROR_NOT_ENOUGH_MEMORY beyond what a hive may hold.
  LONG Grow(size_t size);

  // Bytes to change at `offset` (from the start of the file), which the
  // caller checked to lie inside the image; their pages are recorded.
  uint8_t* Change(size_t offset, size_t size);

  // The 4 KiB pages of the bins (numbered from the first bin) that were
  // changed, in order. Changes to the base block are not among them.
  std::vector<uint32_t> ChangedPages() const;

 private:
  HiveImage() = default;
  LONG Reserve(size_t file_size);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t file_size_ = 0;
  size_t usable_ = 0;    // bytes mapped for reading and writing
  size_t reserved_ = 0;  // bytes of address space held
  std::vector<bool> changed_;
};

}  // namespace orvik::posix::hive
