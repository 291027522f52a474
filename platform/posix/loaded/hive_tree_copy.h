// Copying between a hive file and a key tree of the store: a hive's root
// into a key (restore, load), a key's tree into a hive (save, unload), and
// removing a key's tree. Each runs inside the caller's step on the tree.
#pragma once

#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/tree.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix {

// Gives the key, which has no values and no subkeys, the hive root's class
// name, descriptor, values, subkeys and last-write time, and every key
// below its own. A fault found in the hive gives its error; the caller's
// step then undoes what was done.
LONG CopyHiveIntoKey(const hive::HiveReader& reader, Tree& tree, KeyId key);

// Writes the key and its tree, depth first in the tree's order, through
// the writer (the caller finishes it). The hive's root takes `root_name`
// when it is given, else the key's own name.
LONG WriteKeyAsHive(Tree& tree, KeyId key, hive::HiveWriter& writer,
                    const std::u16string* root_name = nullptr);

// Removes the key's values and subkeys, and the key itself when `self`.
LONG RemoveKeyTree(Tree& tree, KeyId key, bool self);

}  // namespace orvik::posix
