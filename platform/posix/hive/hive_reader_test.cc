// The reader on damaged input, and on the real hives beside hivex and
// libregf; a real hive written again by the writer reads back the same.
#include "platform/posix/hive/hive_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_walk.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;

const test::ViewFields kLibregf{true, true, true, true};
using orvik::test::WriteFileBytes;

// Counts what a walk reads, touching every byte handed out.
class CountingVisitor : public HiveVisitor {
 public:
  LONG EnterKey(const KeyNode& key, const std::u16string& c, const std::string& s) override {
    sum += key.name.size() + c.size() + s.size();
    return ERROR_SUCCESS;
  }
  LONG Value(const ValueNode& value, const std::string& data) override {
    sum += data.size();
    sum += value.name.size();
    return ERROR_SUCCESS;
  }
  LONG LeaveKey(const KeyNode&) override { return ERROR_SUCCESS; }
  size_t sum = 0;
};

LONG WalkBytes(const std::string& bytes) {
  std::unique_ptr<HiveReader> reader;
  LONG rc =
      HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reader);
  if (rc != ERROR_SUCCESS) return rc;
  CountingVisitor visitor;
  return WalkHive(*reader, visitor);
}

// A small hive with lists, a class name, big data and two descriptors.
std::string SmallHive() {
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  w.AddValue(u"a", 1, "x\0y\0\0\0");
  w.AddValue(u"big", 3, std::string(20000, 'b'));
  for (int i = 0; i < 3; ++i) {
    w.BeginKey({u"k" + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"cls", "", 2});
    w.AddValue(u"v", 4, "1234");
    w.EndKey();
  }
  w.EndKey();
  w.Finish(u"small", 3);
  return w.Bytes();
}

TEST(HiveReaderTest, RefusesFilesThatAreNoHive) {
  const std::string good = SmallHive();
  ASSERT_EQ(WalkBytes(good), ERROR_SUCCESS);
  std::string bad_checksum = good;
  bad_checksum[100] ^= 1;
  std::string no_bins = good.substr(0, kBaseBlockSize);
  std::string bad_signature = good;
  bad_signature[0] = 'R';
  std::string log_file = good;
  log_file[kFileTypeOffset] = 1;
  Store32(reinterpret_cast<uint8_t*>(log_file.data()) + kChecksumOffset,
          BaseBlockChecksum(reinterpret_cast<const uint8_t*>(log_file.data())));
  const struct {
    const char* what;
    std::string bytes;
    LONG expected;
  } cases[] = {
      {"empty", "", ERROR_NOT_REGISTRY_FILE},
      {"text", std::string(8192, 'a'), ERROR_NOT_REGISTRY_FILE},
      {"signature", bad_signature, ERROR_NOT_REGISTRY_FILE},
      {"log file", log_file, ERROR_NOT_REGISTRY_FILE},
      {"checksum", bad_checksum, ERROR_REGISTRY_CORRUPT},
      {"base block only", no_bins, ERROR_REGISTRY_CORRUPT},
      {"truncated", good.substr(0, good.size() - 4096), ERROR_REGISTRY_CORRUPT},
  };
  for (const auto& c : cases) EXPECT_EQ(WalkBytes(c.bytes), c.expected) << c.what;
}

// Every single damaged byte, in every position of a small hive, reads or
// fails cleanly (under the sanitizers this also proves no read strays).
TEST(HiveReaderTest, EveryDamagedByteFailsCleanlyOrReads) {
  const std::string good = SmallHive();
  std::mt19937 random(12);
  for (size_t at = 0; at < good.size(); ++at) {
    if (at >= 512 && at < kBaseBlockSize) continue;  // unused part of the base block
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ static_cast<int>(1 + random() % 255));
    // The checksum would catch base block damage; recompute it to get past.
    Store32(reinterpret_cast<uint8_t*>(bad.data()) + kChecksumOffset,
            BaseBlockChecksum(reinterpret_cast<const uint8_t*>(bad.data())));
    const LONG rc = WalkBytes(bad);
    EXPECT_TRUE(rc == ERROR_SUCCESS || rc == ERROR_REGISTRY_CORRUPT ||
                rc == ERROR_NOT_REGISTRY_FILE)
        << at << " " << rc;
  }
}

TEST(HiveReaderTest, RejectsCyclesAndKeysReachedTwice) {
  std::string bytes = SmallHive();
  std::unique_ptr<HiveReader> reader;
  ASSERT_EQ(
      HiveReader::FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reader),
      ERROR_SUCCESS);
  KeyNode root;
  ASSERT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  std::vector<uint32_t> cells;
  ASSERT_EQ(reader->ListSubkeys(root, &cells), ERROR_SUCCESS);
  // Point the first subkey's list entry at the root: a cycle.
  uint8_t* list = reinterpret_cast<uint8_t*>(bytes.data()) + kBaseBlockSize + root.subkey_list + 4;
  std::string cycle = bytes;
  Store32(reinterpret_cast<uint8_t*>(cycle.data()) +
              (list - reinterpret_cast<uint8_t*>(bytes.data())) + kListEntries,
          reader->root());
  EXPECT_EQ(WalkBytes(cycle), ERROR_REGISTRY_CORRUPT);
  // The same subkey twice.
  std::string twice = bytes;
  Store32(reinterpret_cast<uint8_t*>(twice.data()) +
              (list - reinterpret_cast<uint8_t*>(bytes.data())) + kListEntries + 8,
          cells[0]);
  EXPECT_EQ(WalkBytes(twice), ERROR_REGISTRY_CORRUPT);
}

TEST(HiveReaderTest, OpensFilesAndReportsWhyNot) {
  TempDir dir;
  std::unique_ptr<HiveReader> reader;
  EXPECT_EQ(HiveReader::Open(dir.File("missing"), &reader), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(HiveReader::Open(dir.File("missing/x"), &reader), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(HiveReader::Open(dir.path(), &reader), ERROR_ACCESS_DENIED);
  WriteFileBytes(dir.File("small"), SmallHive());
  EXPECT_EQ(HiveReader::Open(dir.File("small"), &reader), ERROR_SUCCESS);
}

// Rewrites a hive through the writer, everything carried over.
class CopyVisitor : public HiveVisitor {
 public:
  LONG EnterKey(const KeyNode& key, const std::u16string& c, const std::string& s) override {
    return writer.BeginKey({key.name, c, s, key.last_write});
  }
  LONG Value(const ValueNode& value, const std::string& data) override {
    return writer.AddValue(value.name, value.type, data);
  }
  LONG LeaveKey(const KeyNode&) override { return writer.EndKey(); }
  HiveWriter writer;
};

TEST(HiveReaderTest, RealHivesReadAlikeByEveryReaderAndSurviveARewrite) {
  TempDir dir;
  const std::vector<std::string> hives = test::UnpackRealHives(dir.path());
  if (hives.empty()) GTEST_SKIP() << "the real hives are not there";
  for (const std::string& name : hives) {
    SCOPED_TRACE(name);
    const std::string file = dir.File(name);
    long error = 0;
    const auto ours = test::OurView(file, {}, &error);
    const auto ours_for_libregf = test::OurView(file, kLibregf, &error);
    if (name == "corrupted_system_hive") {
      EXPECT_EQ(error, ERROR_REGISTRY_CORRUPT);
      continue;
    }
    ASSERT_EQ(error, 0);
    EXPECT_TRUE(test::SameLines(ours_for_libregf, test::LibregfView(file, kLibregf, &error)));
    const test::ViewFields hivex_fields{false, false, true};
    const auto ours_for_hivex = test::OurView(file, hivex_fields, &error);
    EXPECT_TRUE(test::SameLines(ours_for_hivex, test::HivexView(file, hivex_fields, &error)));

    std::unique_ptr<HiveReader> reader;
    ASSERT_EQ(HiveReader::Open(file, &reader), ERROR_SUCCESS);
    CopyVisitor copy;
    ASSERT_EQ(WalkHive(*reader, copy), ERROR_SUCCESS);
    ASSERT_EQ(copy.writer.Finish(u"copy", 1), ERROR_SUCCESS);
    const std::string rewritten = dir.File(name + ".copy");
    WriteFileBytes(rewritten, copy.writer.Bytes());
    EXPECT_TRUE(test::SameLines(ours, test::OurView(rewritten, {}, &error)));
    EXPECT_TRUE(test::SameLines(ours_for_libregf, test::LibregfView(rewritten, kLibregf, &error)));
    EXPECT_TRUE(test::SameLines(ours_for_hivex, test::HivexView(rewritten, hivex_fields, &error)));
    EXPECT_TRUE(
        test::SameLines(test::ReglookupView(file, &error), test::ReglookupView(rewritten, &error)));
  }
}

}  // namespace
}  // namespace orvik::posix::hive
