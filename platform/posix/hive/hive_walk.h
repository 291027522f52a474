// Walks a whole hive depth first, reading every key, class name, security
// descriptor and value, for the callers that copy or compare a hive as a
// whole (restoring one into the registry, tests, the benchmark). The walk
// rejects a key reached twice (a cycle or a shared subtree) and trees deeper
// than Windows allows.
#pragma once

#include <string>

#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/key_path.h"

namespace orvik::posix::hive {

class HiveVisitor {
 public:
  virtual ~HiveVisitor() = default;
  // A key, before its values and subkeys. A result other than ERROR_SUCCESS
  // ends the walk with that result.
  virtual LONG EnterKey(const KeyNode& key, const std::u16string& class_name,
                        const std::string& security) = 0;
  virtual LONG Value(const ValueNode& value, const std::string& data) = 0;
  // After the key's values and subkeys.
  virtual LONG LeaveKey(const KeyNode& key) = 0;
};

LONG WalkHive(const HiveReader& reader, HiveVisitor& visitor);
// The same walk from the key at `cell`, which counts as `depth` levels below
// the root.
LONG WalkHiveKey(const HiveReader& reader, uint32_t cell, int depth, HiveVisitor& visitor);

}  // namespace orvik::posix::hive
