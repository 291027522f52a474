// Reads a hive file in place: the file is mapped read-only, and every key,
// value, list and descriptor is read from it on demand by its cell offset.
// A hive is untrusted input: every offset, length and count is checked
// against the file before it is followed, and a fault is reported as
// ERROR_REGISTRY_CORRUPT (ERROR_NOT_REGISTRY_FILE when the file is no hive
// at all); nothing is ever read outside the mapping.
//
// The reader keeps no state beyond the mapping and the table of its bins, so
// a loaded hive can be served straight from it: keys are named by their cell
// offset, lists are read when asked for, and FindSubkey looks a name up
// without listing the rest.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

struct KeyNode {
  uint32_t cell = 0;
  uint16_t flags = 0;
  std::u16string name;
  int64_t last_write = 0;  // FILETIME as one number
  uint32_t parent = 0;     // the parent key's cell (not checked)
  uint32_t subkey_count = 0;
  uint32_t subkey_list = 0;
  uint32_t value_count = 0;
  uint32_t value_list = 0;
  uint32_t security = 0;  // sk cell
  uint32_t class_cell = 0;
  uint16_t class_length = 0;  // bytes; 0 for no class name
};

struct ValueNode {
  uint32_t cell = 0;
  std::u16string name;
  uint32_t type = 0;
  uint32_t size = 0;       // bytes of data
  uint32_t data_word = 0;  // the data cell, or the data itself when inline
  bool is_inline = false;
};

// One entry of a key's subkey lists: the subkey's cell and, in a hash leaf
// ("lh"), the hash stored beside it and where it lies in the file.
struct SubkeyEntry {
  uint32_t cell = 0;
  bool has_hash = false;
  uint32_t hash = 0;
  size_t hash_offset = 0;  // from the start of the file
};

class HiveReader {
 public:
  // Maps the file and checks its base block and bins. ERROR_FILE_NOT_FOUND or
  // ERROR_PATH_NOT_FOUND for a missing file, ERROR_ACCESS_DENIED for one that
  // may not be read (or a directory), ERROR_NOT_REGISTRY_FILE for no hive.
  // `whole`: the caller is to read all of it (a check of the whole hive), so
  // its pages are mapped in one go rather than each when first read.
  static LONG Open(const std::string& path, std::unique_ptr<HiveReader>* reader,
                   bool whole = false);
  // The same for a file the caller opened for reading, described by `info`
  // (its fstat); the caller closes `fd`.
  static LONG Map(int fd, const struct stat& info, std::unique_ptr<HiveReader>* reader,
                  bool whole = false);
  // Over bytes the caller keeps alive for the reader's life.
  static LONG FromBytes(const uint8_t* data, size_t size, std::unique_ptr<HiveReader>* reader);
  ~HiveReader();
  HiveReader(const HiveReader&) = delete;
  HiveReader& operator=(const HiveReader&) = delete;

  uint32_t root() const { return root_; }
  uint32_t minor_version() const { return minor_version_; }

  LONG ReadKey(uint32_t cell, KeyNode* key) const;
  // The subkeys' cells in the order of the file's lists (Windows' order).
  LONG ListSubkeys(const KeyNode& key, std::vector<uint32_t>* cells) const;
  // The same, with the hashes of hash leaves and where they lie.
  LONG ListSubkeyEntries(const KeyNode& key, std::vector<SubkeyEntry>* entries) const;
  // The subkey of that name, compared without regard to case;
  // ERROR_FILE_NOT_FOUND when there is none.
  LONG FindSubkey(const KeyNode& key, std::u16string_view name, uint32_t* cell) const;
  LONG ReadClass(const KeyNode& key, std::u16string* class_name) const;
  LONG ReadSecurity(const KeyNode& key, std::string* descriptor) const;

  // The values' cells in the order of the key's value list.
  LONG ListValues(const KeyNode& key, std::vector<uint32_t>* cells) const;
  LONG ReadValue(uint32_t cell, ValueNode* value) const;
  LONG ReadValueData(const ValueNode& value, std::string* data) const;
  // Whether the value's data can be read, without reading it out.
  LONG CheckValueData(const ValueNode& value) const;

 private:
  HiveReader() = default;
  LONG Load();
  // The payload of the cell in use at `cell`, at least `min_size` bytes.
  LONG Cell(uint32_t cell, uint32_t min_size, const uint8_t** payload, uint32_t* size) const;
  // Calls visit(entry) (a SubkeyEntry) for every entry of a subkey list,
  // leaves of an index root included; stops early when visit returns false.
  // Calls sink(bytes, size) for each piece of the value's data in turn.
  template <typename Sink>
  LONG VisitValueData(const ValueNode& value, Sink sink) const;
  template <typename Visit>
  LONG WalkList(uint32_t list, uint32_t expected, Visit visit) const;

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  uint32_t bins_size_ = 0;  // bytes of bins after the base block
  uint32_t root_ = 0;
  uint32_t minor_version_ = 0;
  // For each 4 KiB page of the bins: where its bin ends (offset from the
  // first bin), so a cell can be checked to lie inside one bin.
  std::vector<uint32_t> bin_end_;
  std::vector<uint32_t> bin_start_;
};

}  // namespace orvik::posix::hive
