// The writer's hives, read back by our reader and by hivex and libregf.
#include "platform/posix/hive/hive_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "platform/posix/hive/testing/windows_order.h"
#include "tests/support/process_runner.h"
#include "tests/support/windows_upcase.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::TempDir;

const test::ViewFields kLibregf{true, true, true, true};
using orvik::test::WriteFileBytes;

KeyRecord Key(std::u16string name, std::u16string class_name = u"", std::string security = "",
              int64_t time = 132000000000000000) {
  return KeyRecord{std::move(name), std::move(class_name), std::move(security), time};
}

std::string Written(HiveWriter& writer) {
  EXPECT_EQ(writer.Finish(u"C:\\backup\\test.hiv", 132500000000000000), ERROR_SUCCESS);
  return writer.Bytes();
}

std::unique_ptr<HiveReader> Read(const std::string& bytes) {
  std::unique_ptr<HiveReader> reader;
  EXPECT_EQ(
      HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reader),
      ERROR_SUCCESS);
  return reader;
}

// One hive with something of every kind, shared by the tests below, from
// the given writer.
std::string SampleHive(HiveWriter& w);
std::string SampleHive() {
  HiveWriter w;
  return SampleHive(w);
}
std::string SampleHive(HiveWriter& w) {
  EXPECT_EQ(w.BeginKey(Key(u"ROOT", u"", test::OtherSecurity())), ERROR_SUCCESS);
  w.AddValue(u"", 1, std::string("d\0e\0f\0\0\0", 8));
  w.AddValue(u"none", 0, "");
  w.AddValue(u"dword", 4, std::string("\x01\x02\x03\x04", 4));
  w.AddValue(u"three", 3, "abc");
  w.AddValue(u"five", 3, "abcde");
  w.AddValue(u"big", 3, std::string(40000, 'x') + "end");
  w.AddValue(u"edge", 3, std::string(kBigDataThreshold, 'e'));
  w.AddValue(u"\u00e9t\u00e9", 0x12345678, "odd type");
  w.AddValue(u"\u65e5\u672c", 7, std::string("a\0\0\0", 4));
  w.BeginKey(Key(u"zeta", u"Class\u263a"));
  w.EndKey();
  w.BeginKey(Key(u"Alpha", u"", test::OtherSecurity(), 5));
  w.BeginKey(Key(u"Inner"));
  w.AddValue(u"x", 4, std::string(4, '\0'));
  w.EndKey();
  w.EndKey();
  w.BeginKey(Key(u"\u00c4rger"));
  w.EndKey();
  w.BeginKey(Key(u"\u65e5\u672c"));
  w.EndKey();
  EXPECT_EQ(w.EndKey(), ERROR_SUCCESS);
  return Written(w);
}

TEST(HiveWriterTest, ReadsBackKeysValuesClassesDescriptorsAndTimes) {
  const std::string bytes = SampleHive();
  const auto reader = Read(bytes);
  ASSERT_TRUE(reader);
  KeyNode root;
  ASSERT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  EXPECT_EQ(root.flags & (kKeyHiveEntry | kKeyNoDelete), kKeyHiveEntry | kKeyNoDelete);
  // Subkeys in Windows' order: by upper-cased name, code unit by code unit.
  std::vector<uint32_t> cells;
  ASSERT_EQ(reader->ListSubkeys(root, &cells), ERROR_SUCCESS);
  std::vector<std::u16string> names;
  for (uint32_t cell : cells) {
    KeyNode key;
    ASSERT_EQ(reader->ReadKey(cell, &key), ERROR_SUCCESS);
    names.push_back(key.name);
  }
  EXPECT_EQ(names,
            (std::vector<std::u16string>{u"Alpha", u"zeta", u"\u00c4rger", u"\u65e5\u672c"}));

  KeyNode zeta;
  ASSERT_EQ(reader->ReadKey(cells[1], &zeta), ERROR_SUCCESS);
  std::u16string class_name;
  ASSERT_EQ(reader->ReadClass(zeta, &class_name), ERROR_SUCCESS);
  EXPECT_EQ(class_name, u"Class\u263a");
  EXPECT_EQ(zeta.last_write, 132000000000000000);
  std::string sd;
  ASSERT_EQ(reader->ReadSecurity(zeta, &sd), ERROR_SUCCESS);
  EXPECT_EQ(sd, DefaultKeySecurity());

  // Equal descriptors share one cell, and the cell counts its keys.
  KeyNode alpha;
  ASSERT_EQ(reader->ReadKey(cells[0], &alpha), ERROR_SUCCESS);
  EXPECT_EQ(alpha.security, root.security);
  EXPECT_NE(zeta.security, root.security);
  EXPECT_EQ(alpha.last_write, 5);
  EXPECT_EQ(Load32(reinterpret_cast<const uint8_t*>(bytes.data()) + kBaseBlockSize + root.security +
                   4 + kSkReferences),
            2u);

  // Names that fit 8 bits are stored so; others in UTF-16.
  KeyNode wide;
  ASSERT_EQ(reader->ReadKey(cells[3], &wide), ERROR_SUCCESS);
  EXPECT_EQ(wide.flags & kKeyCompressedName, 0);
  KeyNode latin;
  ASSERT_EQ(reader->ReadKey(cells[2], &latin), ERROR_SUCCESS);
  EXPECT_NE(latin.flags & kKeyCompressedName, 0);

  // Values in the order written, every size of data exact.
  ASSERT_EQ(reader->ListValues(root, &cells), ERROR_SUCCESS);
  const struct {
    std::u16string name;
    uint32_t type;
    std::string data;
  } expected[] = {
      {u"", 1, std::string("d\0e\0f\0\0\0", 8)},
      {u"none", 0, ""},
      {u"dword", 4, std::string("\x01\x02\x03\x04", 4)},
      {u"three", 3, "abc"},
      {u"five", 3, "abcde"},
      {u"big", 3, std::string(40000, 'x') + "end"},
      {u"edge", 3, std::string(kBigDataThreshold, 'e')},
      {u"\u00e9t\u00e9", 0x12345678, "odd type"},
      {u"\u65e5\u672c", 7, std::string("a\0\0\0", 4)},
  };
  ASSERT_EQ(cells.size(), std::size(expected));
  for (size_t i = 0; i < cells.size(); ++i) {
    ValueNode value;
    ASSERT_EQ(reader->ReadValue(cells[i], &value), ERROR_SUCCESS);
    std::string data;
    ASSERT_EQ(reader->ReadValueData(value, &data), ERROR_SUCCESS);
    EXPECT_EQ(value.name, expected[i].name) << i;
    EXPECT_EQ(value.type, expected[i].type) << i;
    EXPECT_EQ(data, expected[i].data) << i;
  }
}

TEST(HiveWriterTest, IndependentReadersSeeWhatWasWritten) {
  TempDir dir;
  const std::string file = dir.File("sample.hiv");
  WriteFileBytes(file, SampleHive());
  long error = 0;
  const auto ours_for_libregf = test::OurView(file, kLibregf, &error);
  ASSERT_EQ(error, 0);
  EXPECT_TRUE(test::SameLines(ours_for_libregf, test::LibregfView(file, kLibregf, &error)));
  EXPECT_EQ(error, 0);
  const test::ViewFields hivex_fields{false, false, true};
  EXPECT_TRUE(test::SameLines(test::OurView(file, hivex_fields, &error),
                              test::HivexView(file, hivex_fields, &error)));
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(
      test::SameLines(test::OurReglookupView(file, &error), test::ReglookupView(file, &error)));
  EXPECT_EQ(error, 0);
}

TEST(HiveWriterTest, ManySubkeysGoUnderAnIndexRootAndAreFoundInAnyCase) {
  HiveWriter w;
  w.BeginKey(Key(u"r"));
  constexpr int kCount = 1500;  // three hash leaves
  for (int i = kCount - 1; i >= 0; --i) {
    const std::string name = "Key" + std::to_string(i);
    w.BeginKey(Key(std::u16string(name.begin(), name.end())));
    w.EndKey();
  }
  w.EndKey();
  const std::string bytes = Written(w);
  const auto reader = Read(bytes);
  ASSERT_TRUE(reader);
  KeyNode root;
  ASSERT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  EXPECT_EQ(root.subkey_count, static_cast<uint32_t>(kCount));
  const uint8_t* list =
      reinterpret_cast<const uint8_t*>(bytes.data()) + kBaseBlockSize + root.subkey_list + 4;
  EXPECT_TRUE(HasSignature(list, "ri"));
  EXPECT_EQ(Load16(list + kListCount), 3);
  std::vector<uint32_t> cells;
  ASSERT_EQ(reader->ListSubkeys(root, &cells), ERROR_SUCCESS);
  std::u16string previous;
  for (uint32_t cell : cells) {
    KeyNode key;
    ASSERT_EQ(reader->ReadKey(cell, &key), ERROR_SUCCESS);
    EXPECT_LT(previous, key.name);
    previous = key.name;
  }
  uint32_t found = 0;
  ASSERT_EQ(reader->FindSubkey(root, u"kEY1234", &found), ERROR_SUCCESS);
  KeyNode key;
  ASSERT_EQ(reader->ReadKey(found, &key), ERROR_SUCCESS);
  EXPECT_EQ(key.name, u"Key1234");
  EXPECT_EQ(reader->FindSubkey(root, u"Key1500", &found), ERROR_FILE_NOT_FOUND);

  TempDir dir;
  WriteFileBytes(dir.File("many.hiv"), bytes);
  long error = 0;
  EXPECT_TRUE(test::SameLines(test::OurView(dir.File("many.hiv"), kLibregf, &error),
                              test::LibregfView(dir.File("many.hiv"), kLibregf, &error)));
  EXPECT_EQ(error, 0);
}

// Names beyond ASCII are ordered and hashed as Windows upper-cases them,
// and found in another case only where Windows finds them.
TEST(HiveWriterTest, SubkeysTakeWindowsOrderAndHashesAndAreFoundAsWindowsFindsThem) {
  const std::u16string names[] = {
      u"\u0131x",  // dotless i: after K, not among the I's
      u"ix",          u"kx",
      u"\u01C5x",                  // title-case digraph, no case of its own
      u"\u01C4x",                  // its capital
      u"\u017Fx",                  // long s
      u"sx",          u"\u00B5x",  // micro sign
      u"\u03BCx",                  // small mu
      u"\u00DFx",     u"ssx",
      u"\u03C2x",  // final sigma
      u"\u03C3x",  // small sigma
      u"\u044Fx",     u"\u65E5\u672C",
      u"\U00010428x",  // beyond U+FFFF
      u"\U00010400x",
  };
  HiveWriter w;
  w.BeginKey(Key(u"r"));
  for (const auto& name : names) {
    w.BeginKey(Key(name));
    w.EndKey();
  }
  w.EndKey();
  const std::string bytes = Written(w);
  const auto reader = Read(bytes);
  ASSERT_TRUE(reader);
  KeyNode root;
  ASSERT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  const struct {
    std::u16string asked;
    std::u16string found;  // empty: none
  } lookups[] = {
      {u"IX", u"ix"},
      {u"\u0131X", u"\u0131x"},
      {u"\u01C6X", u"\u01C4x"},  // small digraph to capital
      {u"\u01C5X", u"\u01C5x"},
      {u"SX", u"sx"},
      {u"\u039CX", u"\u03BCx"},  // capital mu: small mu, not the micro sign
      {u"\u03A3X", u"\u03C3x"},  // capital sigma: small sigma, not final sigma
      {u"\u042FX", u"\u044Fx"},
      {u"\u65E5\u672C", u"\u65E5\u672C"},
      {u"\U00010400X", u"\U00010400x"},
      {u"SSX", u"ssx"},
      {u"\u0130X", u""},  // dotted capital I
  };
  for (const auto& l : lookups) {
    uint32_t cell = 0;
    const LONG rc = reader->FindSubkey(root, l.asked, &cell);
    if (l.found.empty()) {
      EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND) << testing::PrintToString(l.asked);
      continue;
    }
    ASSERT_EQ(rc, ERROR_SUCCESS) << testing::PrintToString(l.asked);
    KeyNode key;
    ASSERT_EQ(reader->ReadKey(cell, &key), ERROR_SUCCESS);
    EXPECT_EQ(key.name, l.found) << testing::PrintToString(l.asked);
  }
  if (orvik::test::WindowsUpcaseTable().empty()) {
    GTEST_SKIP() << "Windows' upper-case table is not there";
  }
  EXPECT_TRUE(test::ListsInWindowsOrder(bytes));
}

// Streamed to a file, bins leave memory as they fill and the fields known
// only later are written in place: the file is the same.
TEST(HiveWriterTest, StreamingWritesTheSameFile) {
  TempDir dir;
  const std::string file = dir.File("streamed.hiv");
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  {
    HiveWriter streaming(fd);
    SampleHive(streaming);
  }
  close(fd);
  EXPECT_EQ(orvik::test::ReadFileBytes(file), SampleHive());
}

TEST(HiveWriterTest, RefusesCallsOutOfOrder) {
  HiveWriter w;
  EXPECT_EQ(w.AddValue(u"v", 1, ""), ERROR_INVALID_PARAMETER);
  HiveWriter second;
  second.BeginKey(Key(u"r"));
  EXPECT_EQ(second.Finish(u"f", 0), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace orvik::posix::hive
