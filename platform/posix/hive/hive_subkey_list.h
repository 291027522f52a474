// A key's subkey list in a hive image, changed as Windows changes it: an
// entry put in its place in Windows' order (names compared upper-cased by
// Windows' table) with the hash or hint its leaf kind keeps, a full leaf
// split in two under an index root, a leaf that empties freed. The kind of
// every leaf stays as the file has it; a key's first list takes the kind the
// hive's version uses (hash leaves from 1.5, fast leaves from 1.3, index
// leaves before). Only the cells an entry goes into or leaves are changed,
// and a cell moves only when it has no room for one more entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/hive/hive_space.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

// The signature of the leaf a key's first subkey goes into, in a hive of
// that minor version: "lh", "lf" or "li".
const char* FirstLeafKind(uint32_t minor_version);

// Reads the name of the key at a cell, to order the entries.
using KeyNameReader = std::function<LONG(uint32_t cell, std::u16string* name)>;

class SubkeyList {
 public:
  SubkeyList(HiveSpace& space, KeyNameReader name_of)
      : space_(space), name_of_(std::move(name_of)) {}

  // Adds the key at `child`, named `name`, to the list at *list, which holds
  // `count` entries (none: a new leaf of the kind `first_kind`). *list
  // changes when the list's top cell moves. ERROR_ALREADY_EXISTS for a name
  // the list holds.
  LONG Insert(uint32_t* list, uint32_t count, uint32_t child, std::u16string_view name,
              const char* first_kind);
  // Takes the key at `child` out of the list; *list becomes kNoCell when it
  // empties. ERROR_REGISTRY_CORRUPT when the list does not hold it.
  LONG Remove(uint32_t* list, uint32_t count, uint32_t child);
  // Frees the list's cells (the keys stay); the keys it held in *children.
  LONG Release(uint32_t list, uint32_t count, std::vector<uint32_t>* children);

 private:
  struct Leaf {
    uint32_t cell = 0;
    uint32_t count = 0;
    uint32_t stride = 0;  // bytes per entry: 4 for "li", 8 for "lf" and "lh"
    char kind[2] = {};
  };
  // The list's leaves, in order, and whether an index root holds them;
  // checked against `count`.
  LONG Leaves(uint32_t list, uint32_t count, std::vector<Leaf>* leaves, bool* has_root) const;
  LONG ReadLeaf(uint32_t cell, Leaf* leaf) const;
  uint32_t EntryCell(const Leaf& leaf, uint32_t index) const;
  // The entry's place in the leaf: the first entry whose name sorts after.
  LONG Position(const Leaf& leaf, std::u16string_view name, uint32_t* position) const;
  LONG NameAt(const Leaf& leaf, uint32_t index, std::u16string* name) const;
  // Moves a leaf or an index root to a larger cell when it has no room for
  // `entries` entries; *cell follows it.
  LONG MakeRoom(uint32_t* cell, uint32_t stride, uint32_t entries);
  void WriteEntry(uint8_t* payload, const Leaf& leaf, uint32_t index, uint32_t child,
                  std::u16string_view name) const;
  LONG SplitLeaf(std::vector<Leaf>* leaves, size_t at, uint32_t* list, bool* has_root);

  HiveSpace& space_;
  KeyNameReader name_of_;
};

}  // namespace orvik::posix::hive
