// Cells of a hive image: a freed cell joins its free neighbours, a free cell
// that fits is split, a cell that fits nowhere gets a bin at the end with the
// base block kept right; an offset that is not a cell in use is refused.
#include "platform/posix/hive/hive_space.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"

namespace orvik::posix::hive {
namespace {

// A root with values of a few sizes, in one bin, and a key below it.
std::string Sample() {
  HiveWriter w;
  w.BeginKey({u"ROOT", u"", "", 1});
  for (const size_t size : {size_t{20}, size_t{40}, size_t{40}, size_t{100}}) {
    w.AddValue(u"v", 3, std::string(size, 'x'));
  }
  w.BeginKey({u"Sub", u"", "", 1});
  w.AddValue(u"w", 3, std::string(30, 'w'));
  w.EndKey();
  w.EndKey();
  EXPECT_EQ(w.Finish(u"sample", 2), ERROR_SUCCESS);
  return w.Bytes();
}

// The cells of the first bin: offset and size (negative while in use).
std::vector<std::pair<uint32_t, int32_t>> Cells(const HiveImage& image) {
  std::vector<std::pair<uint32_t, int32_t>> cells;
  const uint8_t* bin = image.data() + kBaseBlockSize;
  for (uint32_t at = kBinHeaderSize; at < Load32(bin + kBinSizeOffset);) {
    const auto size = static_cast<int32_t>(Load32(bin + at));
    cells.emplace_back(at, size);
    at += static_cast<uint32_t>(size < 0 ? -size : size);
  }
  return cells;
}

struct Opened {
  std::unique_ptr<HiveImage> image;
  std::unique_ptr<HiveSpace> space;
};

Opened Open(const std::string& bytes) {
  Opened opened;
  EXPECT_EQ(HiveImage::FromBytes(bytes, &opened.image), ERROR_SUCCESS);
  EXPECT_EQ(HiveSpace::Open(opened.image.get(), &opened.space), ERROR_SUCCESS);
  return opened;
}

// The first cells in use of the given size, in the order of the bin.
std::vector<uint32_t> InUse(const HiveImage& image, int32_t size) {
  std::vector<uint32_t> found;
  for (const auto& [at, cell_size] : Cells(image)) {
    if (cell_size == -size) found.push_back(at);
  }
  return found;
}

TEST(HiveSpaceTest, FreedCellsJoinTheirNeighboursAndAreSplitWhenTaken) {
  Opened o = Open(Sample());
  // A 40-byte value's data (a 48-byte cell) and the value cell after it.
  const uint32_t data = InUse(*o.image, 48).front();
  const auto cells = Cells(*o.image);
  const auto next = std::find_if(cells.begin(), cells.end(),
                                 [data](const auto& cell) { return cell.first == data + 48; });
  ASSERT_NE(next, cells.end());
  ASSERT_LT(next->second, 0);
  const auto joined = static_cast<int32_t>(48 - next->second);
  ASSERT_EQ(o.space->Free(next->first), ERROR_SUCCESS);
  ASSERT_EQ(o.space->Free(data), ERROR_SUCCESS);
  const auto freed = Cells(*o.image);
  EXPECT_NE(std::find(freed.begin(), freed.end(), std::make_pair(data, joined)), freed.end());
  // A small cell takes the start of the joined one; the rest stays free.
  uint32_t cell = 0;
  ASSERT_EQ(o.space->Allocate(20, &cell), ERROR_SUCCESS);
  EXPECT_EQ(cell, data);
  const auto after = Cells(*o.image);
  EXPECT_NE(std::find(after.begin(), after.end(), std::make_pair(data, int32_t{-24})), after.end());
  EXPECT_NE(std::find(after.begin(), after.end(), std::make_pair(data + 24, joined - 24)),
            after.end());
}

TEST(HiveSpaceTest, ACellThatFitsNowhereGetsABinAtTheEnd) {
  Opened o = Open(Sample());
  const uint32_t bins = o.space->bins_size();
  uint32_t cell = 0;
  ASSERT_EQ(o.space->Allocate(20000, &cell), ERROR_SUCCESS);
  EXPECT_EQ(cell, bins + kBinHeaderSize);
  EXPECT_EQ(o.space->bins_size(), bins + 20480);
  // The image reads as a hive: size and checksum of the base block right.
  std::unique_ptr<HiveReader> reader;
  EXPECT_EQ(HiveReader::FromBytes(o.image->data(), kBaseBlockSize + o.space->bins_size(), &reader),
            ERROR_SUCCESS);
  // The rest of the new bin is free and taken next.
  uint32_t next = 0;
  ASSERT_EQ(o.space->Allocate(100, &next), ERROR_SUCCESS);
  EXPECT_EQ(next, cell + 20008);
}

TEST(HiveSpaceTest, WhatIsNoCellInUseIsRefused) {
  Opened o = Open(Sample());
  const uint32_t cell = InUse(*o.image, 48).front();
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  const struct {
    const char* what;
    uint32_t cell;
  } cases[] = {
      {"inside a cell", cell + 8},
      {"unaligned", cell + 4},
      {"a bin's header", 0},
      {"past the bins", o.space->bins_size() + 8},
      {"the last bytes of the bins", o.space->bins_size() - 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(o.space->Read(c.cell, 0, &p, &size), ERROR_REGISTRY_CORRUPT) << c.what;
    EXPECT_EQ(o.space->Free(c.cell), ERROR_REGISTRY_CORRUPT) << c.what;
  }
  EXPECT_EQ(o.space->Read(cell, 100, &p, &size), ERROR_REGISTRY_CORRUPT) << "too small";
  ASSERT_EQ(o.space->Free(cell), ERROR_SUCCESS);
  EXPECT_EQ(o.space->Free(cell), ERROR_REGISTRY_CORRUPT) << "freed twice";
}

}  // namespace
}  // namespace orvik::posix::hive
