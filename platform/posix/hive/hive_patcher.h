// Changes a hive image key by key, as Windows changes a hive it has loaded,
// so that everything not changed stays byte for byte: the version, the keys'
// flags, the kinds of lists, the cells that hold what did not change and
// where they lie. A key's values, class name, descriptor and time are made
// what the caller says, touching only what differs; a key is added (its
// cells in free space or in new bins at the end, put in its parent's list in
// Windows' order) or removed with its tree (its cells freed, its descriptors
// let go of). Counts follow, and the largest name, class and data sizes of a
// key grow with what is added and go back to zero when the last entry goes,
// as Windows keeps them. Finish completes the base block; the sequence
// numbers are for whoever writes the image out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_image.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_security_cells.h"
#include "platform/posix/hive/hive_space.h"
#include "platform/posix/hive/hive_subkey_list.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

struct ValueContent {
  std::u16string name;
  uint32_t type = 0;
  std::string data;
};

// What a key holds besides its subkeys.
struct KeyContent {
  std::u16string name;               // for a new key; a key that is there keeps its own
  std::u16string class_name;         // empty for none
  std::string security;              // self-relative; empty takes DefaultKeySecurity()
  int64_t last_write = 0;            // FILETIME as one number
  std::vector<ValueContent> values;  // in their order
};

class HivePatcher {
 public:
  // Over `image`, which the caller keeps while the patcher is used.
  static LONG Open(HiveImage* image, std::unique_ptr<HivePatcher>* patcher);

  uint32_t root() const { return root_; }
  uint32_t minor_version() const { return minor_; }

  // The key at `cell` takes the content's class name, descriptor, last-write
  // time and values: values whose name, type and data are unchanged keep
  // their cells, changed ones are written over, new ones added, the rest
  // removed, and the value list is in the content's order.
  LONG UpdateKey(uint32_t cell, const KeyContent& key);
  // A new subkey of the key at `parent`; *cell is its key cell.
  // ERROR_ALREADY_EXISTS when the parent has a subkey of that name.
  LONG AddKey(uint32_t parent, const KeyContent& key, uint32_t* cell);
  // Removes the subkey at `cell` of the key at `parent`, with its tree.
  LONG RemoveKey(uint32_t parent, uint32_t cell);

  // The base block's last-written time, the bins' size and the checksum.
  LONG Finish(int64_t timestamp);

 private:
  explicit HivePatcher(HiveImage& image) : image_(image) {}
  LONG Open();
  // The reader over the image as it is now (a new one after bins were
  // appended).
  LONG Reader(const HiveReader** reader);
  LONG ReadKey(uint32_t cell, KeyNode* key);
  LONG KeyName(uint32_t cell, std::u16string* name);
  LONG ChangeKey(uint32_t cell, uint8_t** nk);
  LONG SetValues(const KeyNode& key, const std::vector<ValueContent>& values);
  LONG NewValue(const ValueContent& value, uint32_t* cell);
  LONG RenameValue(uint32_t* cell, std::u16string_view name);
  LONG NewClass(std::u16string_view class_name, uint32_t* cell);
  LONG FreeValue(uint32_t cell);
  LONG FreeTree(uint32_t cell);

  HiveImage& image_;
  std::unique_ptr<HiveSpace> space_;
  std::unique_ptr<HiveReader> reader_;
  uint32_t reader_bins_ = 0;  // the size of the bins the reader knows
  std::unique_ptr<SecurityCells> security_;
  std::unique_ptr<SubkeyList> lists_;
  uint32_t root_ = 0;
  uint32_t minor_ = 0;
};

}  // namespace orvik::posix::hive
