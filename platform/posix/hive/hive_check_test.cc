// The check before a hive is served: damaged trees that a walk by cell
// offsets alone would follow are refused, and so are lists out of Windows'
// order; hashes that are not their names' come back as repairs.
#include "platform/posix/hive/hive_check.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_writer.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

LONG CheckBytes(const std::string& bytes, std::vector<HashRepair>* repairs = nullptr) {
  std::unique_ptr<HiveReader> reader;
  LONG rc =
      HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reader);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<HashRepair> ignored;
  return CheckHiveTree(*reader, repairs != nullptr ? repairs : &ignored);
}

// The root with subkeys k0, k1, k2, and k0 with a subkey s.
std::string TreeHive() {
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  for (int i = 0; i < 3; ++i) {
    w.BeginKey({u"k" + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"", "", 2});
    w.AddValue(u"v", 4, "1234");
    if (i == 0) {
      w.BeginKey({u"s", u"", "", 3});
      w.EndKey();
    }
    w.EndKey();
  }
  w.EndKey();
  w.Finish(u"tree", 3);
  return w.Bytes();
}

// Where the pieces of TreeHive lie in its bytes.
struct Layout {
  uint32_t root = 0;
  std::vector<uint32_t> keys;  // k0, k1, k2
  uint32_t s = 0;              // k0's subkey, when it has one
  size_t root_list = 0;        // byte offset of the root's first list entry
};

Layout Find(const std::string& bytes) {
  Layout layout;
  std::unique_ptr<HiveReader> reader;
  EXPECT_EQ(
      HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reader),
      ERROR_SUCCESS);
  KeyNode root;
  EXPECT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  layout.root = reader->root();
  EXPECT_EQ(reader->ListSubkeys(root, &layout.keys), ERROR_SUCCESS);
  KeyNode k0;
  EXPECT_EQ(reader->ReadKey(layout.keys.at(0), &k0), ERROR_SUCCESS);
  std::vector<uint32_t> below;
  EXPECT_EQ(reader->ListSubkeys(k0, &below), ERROR_SUCCESS);
  if (!below.empty()) layout.s = below.front();
  layout.root_list = kBaseBlockSize + root.subkey_list + 4 + kListEntries;
  return layout;
}

void Put32(std::string& bytes, size_t at, uint32_t value) {
  Store32(reinterpret_cast<uint8_t*>(bytes.data()) + at, value);
}

size_t KeyField(uint32_t cell, size_t field) { return kBaseBlockSize + cell + 4 + field; }

TEST(HiveCheckTest, RefusesTreesThatReachAKeyTwiceOrByTheWrongWay) {
  const std::string good = TreeHive();
  const Layout at = Find(good);
  std::string root_below = good;
  Put32(root_below, at.root_list + 8, at.root);
  std::string listed_twice = good;
  Put32(listed_twice, at.root_list + 8, at.keys[0]);
  std::string other_parent = good;
  Put32(other_parent, at.root_list + 8, at.s);
  std::string wrong_parent_field = good;
  Put32(wrong_parent_field, KeyField(at.keys[2], kNkParent), at.keys[0]);
  std::string twin_names = good;
  twin_names[KeyField(at.keys[1], kNkName) + 1] = '0';  // k1 becomes k0
  const struct {
    const char* what;
    const std::string& bytes;
    LONG expected;
  } cases[] = {
      {"good", good, ERROR_SUCCESS},
      {"the root as a subkey", root_below, ERROR_REGISTRY_CORRUPT},
      {"one key listed twice", listed_twice, ERROR_REGISTRY_CORRUPT},
      {"a key listed under another key", other_parent, ERROR_REGISTRY_CORRUPT},
      {"a parent field naming another key", wrong_parent_field, ERROR_REGISTRY_CORRUPT},
      {"two subkeys of one name", twin_names, ERROR_REGISTRY_CORRUPT},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckBytes(c.bytes), c.expected) << c.what;
}

// Swaps the list entries i and j (cell and hash) of a hash leaf.
void SwapEntries(std::string& bytes, size_t first_entry, size_t i, size_t j) {
  for (size_t b = 0; b < 8; ++b)
    std::swap(bytes[first_entry + 8 * i + b], bytes[first_entry + 8 * j + b]);
}

// A root whose subkeys are ix, kx and dotless-i x, in Windows' order: KX
// before the dotless i (U+0131), which is no I.
std::string DotlessHive() {
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  for (const char16_t* name : {u"\u0131x", u"kx", u"ix"}) {
    w.BeginKey({name, u"", "", 2});
    w.EndKey();
  }
  w.EndKey();
  w.Finish(u"dotless", 3);
  return w.Bytes();
}

TEST(HiveCheckTest, SubkeysMustBeInWindowsOrder) {
  const std::string good = TreeHive();
  const Layout at = Find(good);
  std::string swapped = good;
  SwapEntries(swapped, at.root_list, 0, 1);  // k1 before k0
  const std::string dotless = DotlessHive();
  const Layout dotless_at = Find(dotless);
  std::string dotless_as_i = dotless;
  SwapEntries(dotless_as_i, dotless_at.root_list, 1, 2);  // the dotless i before K
  const struct {
    const char* what;
    const std::string& bytes;
    LONG expected;
  } cases[] = {
      {"in order", good, ERROR_SUCCESS},
      {"two subkeys swapped", swapped, ERROR_REGISTRY_CORRUPT},
      {"dotless i after K, apart from I", dotless, ERROR_SUCCESS},
      {"dotless i sorted as I", dotless_as_i, ERROR_REGISTRY_CORRUPT},
  };
  for (const auto& c : cases) {
    std::vector<HashRepair> repairs;
    EXPECT_EQ(CheckBytes(c.bytes, &repairs), c.expected) << c.what;
    EXPECT_TRUE(repairs.empty()) << c.what;
  }
}

// A hash that is not its name's is handed back as a repair, and the file
// that takes it is right.
TEST(HiveCheckTest, WrongHashesComeBackAsRepairs) {
  std::string bytes = TreeHive();
  const Layout at = Find(bytes);
  Put32(bytes, at.root_list + 8 + 4, 0x1234);  // k1's hash
  std::vector<HashRepair> repairs;
  ASSERT_EQ(CheckBytes(bytes, &repairs), ERROR_SUCCESS);
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].offset, at.root_list + 8 + 4);
  EXPECT_EQ(repairs[0].hash, (uint32_t{'K'} * 37) + '1');

  orvik::test::TempDir dir;
  const std::string file = dir.File("hive");
  orvik::test::WriteFileBytes(file, bytes);
  ASSERT_EQ(RepairHashes(file, repairs), ERROR_SUCCESS);
  EXPECT_EQ(orvik::test::ReadFileBytes(file), TreeHive());
  EXPECT_EQ(RepairHashes(dir.File("missing"), repairs), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace orvik::posix::hive
