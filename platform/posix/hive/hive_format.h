// The layout of a Windows hive file ("regf", format 1.5): the base block,
// hive bins and the cells the reader and the writer share, with the
// little-endian accessors, the name hash of hash leaves and the base block's
// checksum.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/posix/codepage.h"

namespace orvik::posix::hive {

// ---- Base block ------------------------------------------------------------
constexpr uint32_t kBaseBlockSize = 4096;
constexpr uint32_t kBinAlignment = 4096;  // bins are multiples of this size
constexpr size_t kSignatureOffset = 0;    // "regf"
constexpr size_t kPrimarySequenceOffset = 4;
constexpr size_t kSecondarySequenceOffset = 8;
constexpr size_t kTimestampOffset = 12;
constexpr size_t kMajorVersionOffset = 20;
constexpr size_t kMinorVersionOffset = 24;
constexpr size_t kFileTypeOffset = 28;
constexpr size_t kFileFormatOffset = 32;
constexpr size_t kRootCellOffset = 36;
constexpr size_t kDataSizeOffset = 40;
constexpr size_t kClusteringOffset = 44;
constexpr size_t kFileNameOffset = 48;
constexpr size_t kFileNameSize = 64;
constexpr size_t kFlagsOffset = 144;  // set from the log entries a replay applies
constexpr size_t kChecksumOffset = 508;
constexpr uint32_t kMajorVersion = 1;
constexpr uint32_t kMinorVersion = 5;
constexpr uint32_t kFileTypePrimary = 0;  // logs: hive_log_format.h

// ---- Hive bins ---------------------------------------------------------------
constexpr uint32_t kBinHeaderSize = 32;
constexpr size_t kBinOffsetOffset = 4;  // of the bin, from the start of the bins
constexpr size_t kBinSizeOffset = 8;
constexpr size_t kBinTimestampOffset = 20;

// Cells: a 32-bit size (negative while the cell is in use) and the payload;
// every cell starts and ends on this alignment.
constexpr uint32_t kCellAlignment = 8;
// Offsets in cells count from the first bin; this one means "none".
constexpr uint32_t kNoCell = 0xFFFFFFFF;

// ---- Key node (nk) -----------------------------------------------------------
constexpr size_t kNkFlags = 2;
constexpr size_t kNkLastWrite = 4;
constexpr size_t kNkParent = 16;
constexpr size_t kNkSubkeyCount = 20;
constexpr size_t kNkVolatileSubkeyCount = 24;
constexpr size_t kNkSubkeyList = 28;
constexpr size_t kNkVolatileSubkeyList = 32;
constexpr size_t kNkValueCount = 36;
constexpr size_t kNkValueList = 40;
constexpr size_t kNkSecurity = 44;
constexpr size_t kNkClass = 48;
constexpr size_t kNkMaxSubkeyName = 52;
constexpr size_t kNkMaxSubkeyClass = 56;
constexpr size_t kNkMaxValueName = 60;
constexpr size_t kNkMaxValueData = 64;
constexpr size_t kNkNameLength = 72;
constexpr size_t kNkClassLength = 74;
constexpr size_t kNkName = 76;

constexpr uint16_t kKeyHiveExit = 0x0002;
constexpr uint16_t kKeyHiveEntry = 0x0004;  // the hive's root key
constexpr uint16_t kKeyNoDelete = 0x0008;
constexpr uint16_t kKeyCompressedName = 0x0020;

// ---- Value (vk) ----------------------------------------------------------------
constexpr size_t kVkNameLength = 2;
constexpr size_t kVkDataSize = 4;
constexpr size_t kVkData = 8;
constexpr size_t kVkType = 12;
constexpr size_t kVkFlags = 16;
constexpr size_t kVkName = 20;
constexpr uint16_t kValueCompressedName = 0x0001;
// In the data size: the data (up to 4 bytes) sits in the data offset field.
constexpr uint32_t kDataInline = 0x80000000;
constexpr uint32_t kMaxInlineData = 4;

// ---- Big data (db), for data longer than one cell may hold -------------------
constexpr uint32_t kBigDataThreshold = 16344;  // bytes per segment, too
constexpr size_t kDbCount = 2;
constexpr size_t kDbList = 4;
constexpr size_t kDbSize = 8;

// ---- Subkey lists ------------------------------------------------------------
// li: offsets; lf: offset and the first four name characters; lh: offset and
// the name hash; ri: offsets of leaves. Each starts with a signature and a
// 16-bit count.
constexpr size_t kListCount = 2;
constexpr size_t kListEntries = 4;
// Entries of one hash leaf, the most that fit one 4 KiB bin.
constexpr uint32_t kMaxLeafEntries = 507;

// ---- Security (sk) -------------------------------------------------------------
constexpr size_t kSkNext = 4;
constexpr size_t kSkPrevious = 8;
constexpr size_t kSkReferences = 12;
constexpr size_t kSkSize = 16;
constexpr size_t kSkDescriptor = 20;

inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Load64(const uint8_t* p) {
  return static_cast<uint64_t>(Load32(p)) | (static_cast<uint64_t>(Load32(p + 4)) << 32);
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Store64(uint8_t* p, uint64_t v) {
  Store32(p, static_cast<uint32_t>(v));
  Store32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline bool HasSignature(const uint8_t* p, std::string_view signature) {
  return std::memcmp(p, signature.data(), signature.size()) == 0;
}

// The base block's checksum: the XOR of its first 127 double words, with
// 0 and 0xFFFFFFFF moved aside as Windows does.
inline uint32_t BaseBlockChecksum(const uint8_t* base) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kChecksumOffset; i += 4) sum ^= Load32(base + i);
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  if (sum == 0) return 1;
  return sum;
}

// Names of keys and values are stored in 8 bits when every character fits
// (the flag kKeyCompressedName or kValueCompressedName says so), else in
// UTF-16LE.
inline bool FitsCompressed(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x100; });
}
inline uint32_t StoredNameSize(std::u16string_view name) {
  return static_cast<uint32_t>(FitsCompressed(name) ? name.size() : name.size() * 2);
}
inline void StoreName(uint8_t* out, std::u16string_view name) {
  const bool compressed = FitsCompressed(name);
  for (size_t i = 0; i < name.size(); ++i) {
    if (compressed) {
      out[i] = static_cast<uint8_t>(name[i]);
    } else {
      Store16(out + 2 * i, name[i]);
    }
  }
}

// The hash of a hash leaf entry: over the name's UTF-16 units upper-cased as
// Windows upper-cases them (a name already upper-cased gives the same hash).
inline uint32_t NameHash(std::u16string_view name) {
  uint32_t hash = 0;
  for (const char16_t unit : name) hash = hash * 37 + UpcaseUnit(unit);
  return hash;
}

}  // namespace orvik::posix::hive
