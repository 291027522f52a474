// The bins of a hive image and the cells in them, for changing a hive in
// place: reading or changing a cell in use (checked as the reader checks
// it: aligned, inside one bin, in use, large enough); allocating a cell in a
// free one (the smallest that fits of those in the bins already changed and
// in the last bins, split) or in a bin appended at the end; freeing a cell
// (merged with a free neighbour in its bin, as Windows merges them). Free
// space elsewhere is not looked for: finding it would read every bin of a
// large hive for each change. Appending a bin keeps the base block's size of
// the bins and its checksum right, so that the image always reads as a hive.
//
// The image is untrusted as the file it came from: a cell that is not
// where its offset says, or a bin that does not tile, is reported as
// ERROR_REGISTRY_CORRUPT before anything is written through it.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/posix/hive/hive_image.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

class HiveSpace {
 public:
  // The bins of `image`, which the caller keeps while the space is used.
  static LONG Open(HiveImage* image, std::unique_ptr<HiveSpace>* space);

  HiveImage& image() { return image_; }
  uint32_t bins_size() const { return bins_size_; }

  // The payload of the cell in use at `cell` (an offset from the first bin),
  // at least `min` bytes; Change records its pages as changed.
  LONG Read(uint32_t cell, uint32_t min, const uint8_t** payload, uint32_t* size) const;
  LONG Change(uint32_t cell, uint32_t min, uint8_t** payload, uint32_t* size);

  // A new cell in use with room for `payload` bytes, all zero.
  LONG Allocate(uint32_t payload, uint32_t* cell);
  // The cell in use at `cell` becomes free.
  LONG Free(uint32_t cell);

 private:
  explicit HiveSpace(HiveImage& image) : image_(image) {}
  LONG Load();
  // Finds the free cells of the bins already changed, then of the last
  // bins, until one of `size` bytes or more is known.
  LONG ScanForFit(uint32_t size);
  // Whether the free cells of the bin that holds `cell` are known; learns
  // those of the bin that starts at `bin`.
  bool Scanned(uint32_t cell) const;
  LONG ScanBin(uint32_t bin);
  LONG AppendBin(uint32_t cell_size, uint32_t* cell);
  // The bytes at `offset` from the first bin, to read.
  const uint8_t* Peek(uint32_t offset) const;
  // The size field of the cell at `offset`: read, or written (its page
  // recorded as changed).
  int32_t CellSize(uint32_t offset) const;
  void SetCellSize(uint32_t offset, int32_t size);
  // Walks the cells of the bin that holds `cell` from its first: the cell
  // before `cell` (kNoCell for none); ERROR_REGISTRY_CORRUPT when no cell
  // starts at `cell`.
  LONG CellBefore(uint32_t cell, uint32_t* before) const;

  HiveImage& image_;
  uint32_t bins_size_ = 0;
  // For each 4 KiB page of the bins: where its bin starts and ends.
  std::vector<uint32_t> bin_start_;
  std::vector<uint32_t> bin_end_;
  // The free cells, by size, of the bins whose first page is marked.
  std::vector<bool> scanned_;
  std::set<std::pair<uint32_t, uint32_t>> free_;  // (size, offset)
};

}  // namespace orvik::posix::hive
