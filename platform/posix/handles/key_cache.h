// What a handle keeps of its key's tree between calls, each part valid while
// the tree stamp it was read at is unchanged: the key's class, security and
// time, its subkeys and values listed once (so that enumerating n entries
// costs one listing, and reading a value of a listed key needs no query),
// and the keys of its last walk of a path. The functions here fill, use and
// forget them; the calls only read what they filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/posix/tree.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix {

class KeyStep;
struct KeyHandle;

struct KeyCache {
  // The key's class, security and last write time (the counts and lengths
  // stay zero): the key information is asked for more than once per key as
  // a tree is listed.
  bool header_cached = false;
  uint64_t header_stamp = 0;
  KeyInfo header;

  // Subkeys and values in enumeration order with their ANSI names.
  bool children_cached = false;
  uint64_t children_stamp = 0;
  std::vector<ChildEntry> children;
  std::vector<std::string> child_names;
  bool values_cached = false;
  uint64_t values_stamp = 0;
  std::vector<ValueEntry> values;
  std::vector<std::string> value_names;
  std::unordered_map<std::u16string, size_t> value_index;  // folded name; built on demand
  size_t value_hint = 0;  // the value found last: callers read a listing in its order
  // The ANSI form of one listed value's data (type, size and data are asked
  // for one after another); SIZE_MAX for none.
  size_t ansi_value = SIZE_MAX;
  std::string ansi_data;

  // The keys found by the last walk of a path from this key (folded names
  // and ids): opening a key and then each of its subkeys by their full
  // paths costs one lookup per key.
  uint64_t walked_stamp = 0;
  std::vector<std::u16string> walked_names;
  std::vector<KeyId> walked_keys;
  // The key under which the last walk from this key ended, and from the
  // second walk that ends under it on, its subkeys: a tree's keys opened one
  // after another by their full paths then cost one listing per parent
  // instead of one lookup per key.
  KeyId walk_parent = 0;
  uint64_t walk_parent_stamp = 0;
  bool walk_parent_listed = false;
  std::vector<ChildEntry> walk_parent_children;
};

// Fill the step's handle's cache when it is not current.
LONG LoadHeader(KeyStep& step);
LONG LoadChildren(KeyStep& step);
LONG LoadValues(KeyStep& step);

// Follows `names` from the step's key; *found is the number of names that
// exist, *last the key of the last one. The keys of the handle's last walk
// at the same stamp are taken without asking the tree again.
LONG WalkPath(KeyStep& step, const std::vector<std::u16string>& names, KeyId* last, size_t* found);

// After this process removed the subkey `child` of the handle's key in a
// write step that was the only change between the stamps `before` and
// `after`: a listing current at `before` loses that subkey and stays current
// at `after`. Removing the subkeys one after another, as a tree removal
// does, then lists the key once instead of once per subkey.
void ForgetChild(KeyHandle& handle, KeyId child, uint64_t before, uint64_t after);

// The listed value of that name when the list is current; nullptr when it
// is not current or has no such value (then ask the tree).
const ValueEntry* CachedValue(KeyStep& step, std::u16string_view name, bool* listed);

// The same for a name given to an ANSI call, without converting it: the
// value the listing gives next, when the name is ASCII (the same in every
// code page) and spelled exactly as that value's; nullptr otherwise (then
// convert the name and use CachedValue).
const ValueEntry* NextCachedValueAscii(KeyStep& step, const char* name);

// The ANSI form of the data a listed value (from CachedValue, data carried
// along) holds, converted once for the calls that ask for it in turn.
const std::string& CachedAnsiData(KeyHandle& handle, const ValueEntry& value);

}  // namespace orvik::posix
