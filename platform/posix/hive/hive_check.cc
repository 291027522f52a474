// The whole-hive check before a hive is served in place, and the repair of
// the hashes it finds wrong.
#include "platform/posix/hive/hive_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/codepage.h"
#include "platform/posix/file_errors.h"
#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_walk.h"

namespace orvik::posix::hive {

namespace {

// The longest names a registry path can carry.
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

class Checker {
 public:
  Checker(const HiveReader& reader, std::vector<HashRepair>* repairs)
      : reader_(reader), repairs_(repairs) {}

  // Each key's subkeys are checked, their parent fields and names, before
  // any of them is entered: a key listed twice under one key has a twin
  // name, one listed under another key has that key's cell in its parent
  // field, and the root is no key's subkey. So every key is entered once,
  // and no table of the keys seen is needed.
  LONG Key(const KeyNode& key, int depth) {
    if (depth > kMaxKeyDepth) return ERROR_REGISTRY_CORRUPT;
    if (LONG rc = reader_.ReadClass(key, &text_); rc != ERROR_SUCCESS) return rc;
    // Keys share descriptors: each is read once.
    if (key.security != last_security_) {
      if (LONG rc = reader_.ReadSecurity(key, &bytes_); rc != ERROR_SUCCESS) return rc;
      last_security_ = key.security;
    }
    std::vector<uint32_t> cells;
    if (LONG rc = reader_.ListValues(key, &cells); rc != ERROR_SUCCESS) return rc;
    ValueNode value;
    for (const uint32_t value_cell : cells) {
      if (LONG rc = reader_.ReadValue(value_cell, &value); rc != ERROR_SUCCESS) return rc;
      if (value.name.size() > kMaxValueName) return ERROR_REGISTRY_CORRUPT;
      if (LONG rc = reader_.CheckValueData(value); rc != ERROR_SUCCESS) return rc;
    }
    // Windows keeps a key's subkeys in strictly ascending order of their
    // upper-cased names, which also leaves no twins: a hive out of that
    // order is refused (Windows' load would drop keys from it). A hash that
    // is not the name's is to be put right.
    std::vector<SubkeyEntry> entries;
    if (LONG rc = reader_.ListSubkeyEntries(key, &entries); rc != ERROR_SUCCESS) return rc;
    std::u16string previous;
    KeyNode child;
    for (size_t i = 0; i < entries.size(); ++i) {
      const SubkeyEntry& entry = entries[i];
      if (entry.cell == reader_.root()) return ERROR_REGISTRY_CORRUPT;
      if (LONG rc = reader_.ReadKey(entry.cell, &child); rc != ERROR_SUCCESS) return rc;
      if (child.parent != key.cell || child.name.size() > kMaxKeyName) {
        return ERROR_REGISTRY_CORRUPT;
      }
      if (i > 0 && CompareFoldedNames(previous, child.name) >= 0) return ERROR_REGISTRY_CORRUPT;
      if (entry.has_hash && entry.hash != NameHash(child.name)) {
        repairs_->push_back(HashRepair{entry.hash_offset, NameHash(child.name)});
      }
      previous.swap(child.name);
    }
    // Only the entries stay while the subkeys are entered, so that memory
    // does not grow with the length of a list.
    for (const SubkeyEntry& entry : entries) {
      if (LONG rc = reader_.ReadKey(entry.cell, &child); rc != ERROR_SUCCESS) return rc;
      if (LONG rc = Key(child, depth + 1); rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
  }

 private:
  const HiveReader& reader_;
  std::vector<HashRepair>* repairs_;
  uint32_t last_security_ = 0xFFFFFFFF;
  std::u16string text_;
  std::string bytes_;
};

}  // namespace

LONG CheckHiveTree(const HiveReader& reader, std::vector<HashRepair>* repairs) {
  repairs->clear();
  KeyNode root;
  if (LONG rc = reader.ReadKey(reader.root(), &root); rc != ERROR_SUCCESS) return rc;
  Checker checker(reader, repairs);
  return checker.Key(root, 0);
}

LONG RepairHashes(const std::string& path, const std::vector<HashRepair>& repairs) {
  if (repairs.empty()) return ERROR_SUCCESS;
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return FileError(errno, path);
  LONG rc = ERROR_SUCCESS;
  for (const HashRepair& repair : repairs) {
    uint8_t bytes[4];
    Store32(bytes, repair.hash);
    if (pwrite(fd, bytes, sizeof(bytes), static_cast<off_t>(repair.offset)) !=
        static_cast<ssize_t>(sizeof(bytes))) {
      rc = ERROR_WRITE_FAULT;
      break;
    }
  }
  if (close(fd) != 0 && rc == ERROR_SUCCESS) rc = ERROR_WRITE_FAULT;
  return rc;
}

}  // namespace orvik::posix::hive
