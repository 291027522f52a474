// The layout of a hive's transaction logs (NAME.LOG, NAME.LOG1, NAME.LOG2),
// in both of their formats, for the reader of logs and for whatever writes
// them. Every log starts with a partial copy of the hive's base block (the
// first sector: the fields up to the checksum) whose file type names the
// format and whose two sequence numbers are equal.
//
// The old format (Windows XP to 8): after the base block, a dirty vector,
// "DIRT" and one bit per 512-byte page of the hive's bins, then the dirty
// pages themselves, one after another from the next sector on.
//
// The new format (Windows 8.1 on): after the base block, log entries, each
// on a 512-byte boundary: a header ("HvLE", its size, the base block's
// flags, a sequence number, the size of the hive's bins, the number of
// pages and two Marvin32 hashes), the references of its pages (offset from
// the first bin and size), then the pages. Entries are applied in the order
// of their sequence numbers, across both files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvik::posix::hive {

// ---- Both formats --------------------------------------------------------------
constexpr uint32_t kFileTypeOldLog = 1;  // in the base block copy
constexpr uint32_t kFileTypeNewLog = 6;
// The unit of a log's layout: the base block copy fills the first sector
// (the clustering factor's count of them), and every log entry and old dirty
// page starts on this boundary.
constexpr uint32_t kLogSectorSize = 512;
// The clustering factors a log may declare (sectors of 512 bytes).
constexpr uint32_t kMaxClusteringFactor = 8;
// The largest hive a log may describe: cells are addressed below 2 GiB (the
// upper half of the offsets is Windows' volatile storage).
constexpr uint32_t kMaxBinsSize = 0x80000000u;

// ---- Old format ------------------------------------------------------------------
constexpr uint32_t kDirtyPageSize = 512;  // one bit of the dirty vector
constexpr size_t kDirtyVectorBitmap = 4;  // after the signature "DIRT"

// ---- New format: a log entry's header --------------------------------------------
constexpr size_t kEntrySizeOffset = 4;  // after the signature "HvLE"
constexpr size_t kEntryFlagsOffset = 8;
constexpr size_t kEntrySequenceOffset = 12;
constexpr size_t kEntryBinsSizeOffset = 16;
constexpr size_t kEntryPageCountOffset = 20;
constexpr size_t kEntryHash1Offset = 24;  // of everything after the header
constexpr size_t kEntryHash2Offset = 32;  // of the header up to this field
constexpr size_t kEntryHeaderSize = 40;
constexpr size_t kPageReferenceSize = 8;  // offset from the first bin, size
// The key of both hashes.
constexpr uint64_t kEntryHashSeed = 0x82EF4D887A4E55C5ULL;

}  // namespace orvik::posix::hive
