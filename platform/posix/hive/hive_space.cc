// Cells of a hive image: reading, changing, allocating and freeing them.
#include "platform/posix/hive/hive_space.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"

namespace orvik::posix::hive {

namespace {

constexpr LONG kCorrupt = ERROR_REGISTRY_CORRUPT;
constexpr uint32_t kMinCell = 8;
// The last bins looked at for free space before a bin is appended.
constexpr uint32_t kTailBins = 16;

uint32_t RoundUp(uint64_t size, uint32_t unit) {
  return static_cast<uint32_t>((size + unit - 1) / unit * unit);
}

}  // namespace

LONG HiveSpace::Open(HiveImage* image, std::unique_ptr<HiveSpace>* space) {
  std::unique_ptr<HiveSpace> opened(new HiveSpace(*image));
  if (LONG rc = opened->Load(); rc != ERROR_SUCCESS) return rc;
  *space = std::move(opened);
  return ERROR_SUCCESS;
}

LONG HiveSpace::Load() {
  const uint8_t* base = image_.data();
  bins_size_ = Load32(base + kDataSizeOffset);
  if (bins_size_ == 0 || bins_size_ % kBinAlignment != 0 || bins_size_ > kMaxBinsSize ||
      bins_size_ > image_.size() - kBaseBlockSize) {
    return kCorrupt;
  }
  const size_t pages = bins_size_ / kBinAlignment;
  bin_start_.assign(pages, 0);
  bin_end_.assign(pages, 0);
  scanned_.assign(pages, false);
  for (uint32_t offset = 0; offset < bins_size_;) {
    const uint8_t* bin = Peek(offset);
    if (!HasSignature(bin, "hbin") || Load32(bin + kBinOffsetOffset) != offset) return kCorrupt;
    const uint32_t size = Load32(bin + kBinSizeOffset);
    if (size < kBinAlignment || size % kBinAlignment != 0 || size > bins_size_ - offset) {
      return kCorrupt;
    }
    for (uint32_t page = offset / kBinAlignment; page < (offset + size) / kBinAlignment; ++page) {
      bin_start_[page] = offset;
      bin_end_[page] = offset + size;
    }
    offset += size;
  }
  return ERROR_SUCCESS;
}

const uint8_t* HiveSpace::Peek(uint32_t offset) const {
  return image_.data() + kBaseBlockSize + offset;
}

int32_t HiveSpace::CellSize(uint32_t offset) const {
  return static_cast<int32_t>(Load32(Peek(offset)));
}

void HiveSpace::SetCellSize(uint32_t offset, int32_t size) {
  Store32(image_.Change(kBaseBlockSize + offset, 4), static_cast<uint32_t>(size));
}

LONG HiveSpace::Read(uint32_t cell, uint32_t min, const uint8_t** payload, uint32_t* size) const {
  if (cell >= bins_size_ || cell % kCellAlignment != 0) return kCorrupt;
  const uint32_t start = bin_start_[cell / kBinAlignment];
  const uint32_t end = bin_end_[cell / kBinAlignment];
  if (cell < start + kBinHeaderSize || end - cell < kMinCell) return kCorrupt;
  const int32_t raw = CellSize(cell);
  if (raw >= -4) return kCorrupt;  // free, or too small to hold anything
  const uint32_t cell_size = 0u - static_cast<uint32_t>(raw);
  if (cell_size > end - cell || cell_size - 4 < min) return kCorrupt;
  *payload = Peek(cell) + 4;
  *size = cell_size - 4;
  return ERROR_SUCCESS;
}

LONG HiveSpace::Change(uint32_t cell, uint32_t min, uint8_t** payload, uint32_t* size) {
  const uint8_t* read = nullptr;
  if (LONG rc = Read(cell, min, &read, size); rc != ERROR_SUCCESS) return rc;
  *payload = image_.Change(kBaseBlockSize + cell + 4, *size);
  return ERROR_SUCCESS;
}

LONG HiveSpace::CellBefore(uint32_t cell, uint32_t* before) const {
  const uint32_t start = bin_start_[cell / kBinAlignment];
  const uint32_t end = bin_end_[cell / kBinAlignment];
  *before = kNoCell;
  uint32_t at = start + kBinHeaderSize;
  while (at < cell) {
    const int32_t raw = CellSize(at);
    const uint32_t size = raw < 0 ? 0u - static_cast<uint32_t>(raw) : static_cast<uint32_t>(raw);
    if (size < kMinCell || size % kCellAlignment != 0 || size > end - at) return kCorrupt;
    *before = at;
    at += size;
  }
  return at == cell ? ERROR_SUCCESS : kCorrupt;
}

bool HiveSpace::Scanned(uint32_t cell) const {
  return scanned_[bin_start_[cell / kBinAlignment] / kBinAlignment];
}

LONG HiveSpace::ScanBin(uint32_t bin) {
  if (Scanned(bin)) return ERROR_SUCCESS;
  scanned_[bin / kBinAlignment] = true;
  const uint32_t end = bin_end_[bin / kBinAlignment];
  for (uint32_t at = bin + kBinHeaderSize; at < end;) {
    const int32_t raw = CellSize(at);
    const uint32_t cell = raw < 0 ? 0u - static_cast<uint32_t>(raw) : static_cast<uint32_t>(raw);
    if (cell < kMinCell || cell % kCellAlignment != 0 || cell > end - at) return kCorrupt;
    if (raw > 0) free_.insert({cell, at});
    at += cell;
  }
  return ERROR_SUCCESS;
}

LONG HiveSpace::ScanForFit(uint32_t size) {
  auto fits = [this, size] { return free_.lower_bound({size, 0}) != free_.end(); };
  // The bins already changed, whose pages are written anyway.
  for (const uint32_t page : image_.ChangedPages()) {
    if (fits()) return ERROR_SUCCESS;
    if (page < bin_start_.size()) {
      if (LONG rc = ScanBin(bin_start_[page]); rc != ERROR_SUCCESS) return rc;
    }
  }
  // Then the last bins, where the free space a hive grows by is.
  for (uint32_t bin = bins_size_, looked = 0; !fits() && bin > 0 && looked < kTailBins; ++looked) {
    bin = bin_start_[(bin - 1) / kBinAlignment];
    if (LONG rc = ScanBin(bin); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

LONG HiveSpace::AppendBin(uint32_t cell_size, uint32_t* cell) {
  const uint32_t bin_size = RoundUp(uint64_t{cell_size} + kBinHeaderSize, kBinAlignment);
  if (uint64_t{bins_size_} + bin_size > kMaxBinsSize) return ERROR_NOT_ENOUGH_MEMORY;
  const uint32_t offset = bins_size_;
  if (LONG rc = image_.Grow(size_t{kBaseBlockSize} + offset + bin_size); rc != ERROR_SUCCESS) {
    return rc;
  }
  // The bin replaces whatever lay past the last bin (a file may end in
  // padding) with zeros, its header and its cells.
  uint8_t* bin = image_.Change(kBaseBlockSize + offset, bin_size);
  std::memset(bin, 0, bin_size);
  std::memcpy(bin, "hbin", 4);
  Store32(bin + kBinOffsetOffset, offset);
  Store32(bin + kBinSizeOffset, bin_size);
  bins_size_ += bin_size;
  bin_start_.insert(bin_start_.end(), bin_size / kBinAlignment, offset);
  bin_end_.insert(bin_end_.end(), bin_size / kBinAlignment, bins_size_);
  scanned_.resize(bin_start_.size(), false);
  scanned_[offset / kBinAlignment] = true;
  *cell = offset + kBinHeaderSize;
  SetCellSize(*cell, -static_cast<int32_t>(cell_size));
  const uint32_t rest = bin_size - kBinHeaderSize - cell_size;
  if (rest > 0) {
    SetCellSize(*cell + cell_size, static_cast<int32_t>(rest));
    free_.insert({rest, *cell + cell_size});
  }
  uint8_t* base = image_.Change(0, kBaseBlockSize);
  Store32(base + kDataSizeOffset, bins_size_);
  Store32(base + kChecksumOffset, BaseBlockChecksum(base));
  return ERROR_SUCCESS;
}

LONG HiveSpace::Allocate(uint32_t payload, uint32_t* cell) {
  if (payload > kMaxBinsSize - kBinAlignment) return ERROR_NOT_ENOUGH_MEMORY;
  const uint32_t size = std::max(kMinCell, RoundUp(uint64_t{payload} + 4, kCellAlignment));
  if (LONG rc = ScanForFit(size); rc != ERROR_SUCCESS) return rc;
  const auto fit = free_.lower_bound({size, 0});
  if (fit == free_.end()) {
    if (LONG rc = AppendBin(size, cell); rc != ERROR_SUCCESS) return rc;
  } else {
    const auto [free_size, offset] = *fit;
    free_.erase(fit);
    uint32_t taken = free_size;
    // The rest stays free when it can still hold a cell.
    if (free_size - size >= kMinCell) {
      taken = size;
      SetCellSize(offset + size, static_cast<int32_t>(free_size - size));
      free_.insert({free_size - size, offset + size});
    }
    SetCellSize(offset, -static_cast<int32_t>(taken));
    *cell = offset;
  }
  uint8_t* p = nullptr;
  uint32_t room = 0;
  if (LONG rc = Change(*cell, 0, &p, &room); rc != ERROR_SUCCESS) return rc;
  std::memset(p, 0, room);
  return ERROR_SUCCESS;
}

LONG HiveSpace::Free(uint32_t cell) {
  const uint8_t* payload = nullptr;
  uint32_t payload_size = 0;
  if (LONG rc = Read(cell, 0, &payload, &payload_size); rc != ERROR_SUCCESS) return rc;
  uint32_t before = kNoCell;
  if (LONG rc = CellBefore(cell, &before); rc != ERROR_SUCCESS) return rc;
  const uint32_t end = bin_end_[cell / kBinAlignment];
  uint32_t start = cell;
  uint32_t size = payload_size + 4;
  auto forget = [this](uint32_t offset, uint32_t free_size) {
    if (Scanned(offset)) free_.erase({free_size, offset});
  };
  // A free cell after it and one before it become one with it.
  if (end - cell > size && CellSize(cell + size) > 0) {
    const auto next = static_cast<uint32_t>(CellSize(cell + size));
    if (next < kMinCell || next % kCellAlignment != 0 || next > end - cell - size) return kCorrupt;
    forget(cell + size, next);
    size += next;
  }
  if (before != kNoCell && CellSize(before) > 0) {
    const auto previous = static_cast<uint32_t>(CellSize(before));
    forget(before, previous);
    start = before;
    size += previous;
  }
  SetCellSize(start, static_cast<int32_t>(size));
  if (Scanned(start)) free_.insert({size, start});
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix::hive
