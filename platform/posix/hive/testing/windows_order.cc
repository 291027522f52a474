// The subkey lists of a hive held against Windows' order and hashes.
#include "platform/posix/hive/testing/windows_order.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "tests/support/windows_upcase.h"

namespace orvik::posix::hive::test {

namespace {

struct Entry {
  uint32_t cell = 0;
  bool has_hash = false;  // an "lh" entry
  uint32_t hash = 0;
};

// The entries of a subkey list in file order, leaves of an index root in turn.
bool ListEntries(const std::string& bytes, uint32_t list, std::vector<Entry>* entries) {
  const size_t at = kBaseBlockSize + static_cast<size_t>(list) + 4;
  if (at + kListEntries > bytes.size()) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
  const uint16_t count = Load16(p + kListCount);
  if (HasSignature(p, "ri")) {
    if (at + kListEntries + 4 * size_t{count} > bytes.size()) return false;
    for (uint16_t i = 0; i < count; ++i) {
      if (!ListEntries(bytes, Load32(p + kListEntries + 4 * i), entries)) return false;
    }
    return true;
  }
  const bool lh = HasSignature(p, "lh");
  const size_t size = HasSignature(p, "li") ? 4 : 8;
  if (at + kListEntries + size * count > bytes.size()) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = p + kListEntries + size * i;
    entries->push_back(Entry{Load32(e), lh, lh ? Load32(e + 4) : 0});
  }
  return true;
}

::testing::AssertionResult CheckKey(const std::string& bytes, const HiveReader& reader,
                                    const KeyNode& key, const std::string& path) {
  if (key.subkey_count == 0) return ::testing::AssertionSuccess();
  std::vector<Entry> entries;
  if (!ListEntries(bytes, key.subkey_list, &entries)) {
    return ::testing::AssertionFailure() << path << ": a list beyond the file";
  }
  std::u16string previous;
  for (size_t i = 0; i < entries.size(); ++i) {
    KeyNode child;
    if (reader.ReadKey(entries[i].cell, &child) != ERROR_SUCCESS) {
      return ::testing::AssertionFailure() << path << ": entry " << i << " is no key";
    }
    const std::string child_path = path + "\\" + ::testing::PrintToString(child.name);
    const std::u16string upper = orvik::test::WindowsUpcase(child.name);
    if (i > 0 && !(previous < upper)) {
      return ::testing::AssertionFailure() << child_path << " does not follow its sibling before";
    }
    previous = upper;
    if (entries[i].has_hash && entries[i].hash != orvik::test::WindowsNameHash(child.name)) {
      return ::testing::AssertionFailure()
             << child_path << ": hash " << std::hex << entries[i].hash << ", Windows' "
             << orvik::test::WindowsNameHash(child.name);
    }
    if (auto sub = CheckKey(bytes, reader, child, child_path); !sub) return sub;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

::testing::AssertionResult ListsInWindowsOrder(const std::string& hive_bytes) {
  if (orvik::test::WindowsUpcaseTable().empty()) {
    return ::testing::AssertionFailure() << "Windows' upper-case table is not there";
  }
  std::unique_ptr<HiveReader> reader;
  if (HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(hive_bytes.data()), hive_bytes.size(),
                            &reader) != ERROR_SUCCESS) {
    return ::testing::AssertionFailure() << "no hive";
  }
  KeyNode root;
  if (reader->ReadKey(reader->root(), &root) != ERROR_SUCCESS) {
    return ::testing::AssertionFailure() << "no root key";
  }
  return CheckKey(hive_bytes, *reader, root, "");
}

}  // namespace orvik::posix::hive::test
