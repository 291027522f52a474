// Lays out a whole hive file in one pass, as a key tree is walked depth
// first: BeginKey for the root, then for each key its values and subkeys,
// then EndKey. Each key's cells are written when it begins and its lists
// when it ends, so only the open keys' lists are held beside the bins.
//
// The writer either keeps the whole file in memory (Bytes, WriteTo) or
// streams it to a file as each bin fills, so that only the bin being filled
// and the open keys' lists are held; the few fields completed later are
// written into the file in place.
//
// The file is format 1.5: base block with checksum, 4 KiB hive bins (a larger
// bin for a cell that needs one), names in the compressed 8-bit form where
// every character fits, subkeys in hash leaves sorted as Windows sorts them
// (under an index root above one leaf's size), big data for long values, and
// one security cell for each distinct descriptor, shared by every key that
// carries it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

struct KeyRecord {
  std::u16string name;        // the root's name is kept as given
  std::u16string class_name;  // empty for none
  std::string security;       // self-relative; empty takes DefaultKeySecurity()
  int64_t last_write = 0;     // FILETIME as one number
};

// The descriptor of a key that carries none: owner Administrators, group
// SYSTEM; full access for SYSTEM and Administrators, read for Users, all
// inherited by subkeys.
const std::string& DefaultKeySecurity();

class HiveWriter {
 public:
  // Keeps the file in memory.
  HiveWriter();
  // Streams the file to `fd` (empty, opened for writing), from its start.
  explicit HiveWriter(int fd);

  // Opens a key below the open key; the first opens the hive's root.
  LONG BeginKey(const KeyRecord& key);
  // A value of the open key, in the order they are added.
  LONG AddValue(std::u16string_view name, uint32_t type, std::string_view data);
  LONG EndKey();

  // After the root's EndKey: completes the base block (the file name's tail
  // goes into it, as Windows keeps it; both sequence numbers are `sequence`,
  // which marks the hive clean) and the security cells' chain. A streaming
  // writer has then written the whole file.
  LONG Finish(std::u16string_view file_name, int64_t timestamp, uint32_t sequence = 1);
  // The whole file, after Finish, of a writer that keeps it in memory.
  LONG WriteTo(int fd) const;
  std::string Bytes() const;
  uint64_t FileSize() const { return base_.size() + bins_size_; }

 private:
  struct Child {
    std::u16string folded;
    uint32_t cell;
  };
  struct OpenKey {
    uint32_t cell = 0;
    uint32_t security = 0;
    uint32_t class_cell = kNoCellValue;
    std::vector<uint32_t> values;
    std::vector<Child> children;
    uint32_t max_subkey_name = 0;
    uint32_t max_subkey_class = 0;
    uint32_t max_value_name = 0;
    uint32_t max_value_data = 0;
  };
  struct Security {
    uint32_t cell = 0;
    uint32_t references = 0;
  };

  // A new cell in use for `payload` bytes, zero-filled; its offset.
  LONG Allocate(uint64_t payload, uint32_t* cell);
  uint8_t* At(uint32_t cell);  // the payload of a cell in the bin being filled
  // Writes bytes at an offset from the first bin, in memory or in the file.
  void Patch(uint32_t offset, const uint8_t* bytes, size_t size);
  void CloseBin();
  // Writes the closed bins not yet in the file, and lets them go.
  void WriteClosedBins();
  LONG WriteData(std::string_view data, uint32_t* cell);
  LONG WriteSubkeyList(std::vector<Child>& children, uint32_t* cell);
  LONG Fail(LONG rc);

  static constexpr uint32_t kNoCellValue = 0xFFFFFFFF;

  int fd_ = -1;
  LONG error_ = ERROR_SUCCESS;
  std::vector<std::vector<uint8_t>> bins_;
  std::vector<uint32_t> bin_of_page_;  // index into bins_ for each 4 KiB page
  std::vector<uint32_t> bin_offset_;   // offset of each bin from the first
  uint32_t bins_size_ = 0;             // bytes of bins so far
  uint32_t used_ = 0;                  // bytes used in the last bin
  bool last_closed_ = false;           // the last bin takes no more cells
  size_t unwritten_ = 0;               // the first bin not yet in the file
  static constexpr uint32_t kWriteBatch = 1 << 20;
  std::vector<OpenKey> open_;
  std::map<std::string, Security> security_;
  std::vector<uint32_t> security_order_;
  uint32_t root_ = 0;
  bool done_ = false;
  std::vector<uint8_t> base_;
};

}  // namespace orvik::posix::hive
