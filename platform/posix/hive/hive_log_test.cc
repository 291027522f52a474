// The log reader: logs of both formats built here, damaged one field at a
// time, and the real logs of the shared dirty hives.
#include "platform/posix/hive/hive_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/dirty_sets.h"
#include "platform/posix/hive/testing/log_builder.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;

uint8_t* At(std::string* s, size_t at) { return reinterpret_cast<uint8_t*>(s->data()) + at; }

LONG Read(const std::string& bytes, HiveLog* log) {
  return ReadHiveLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), log);
}

std::string TwoBinHive() {
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  w.AddValue(u"big", 3, std::string(6000, 'b'));
  w.EndKey();
  w.Finish(u"hive", 1);
  return w.Bytes();
}

// Three entries over the hive's first bin (4 KiB): sequence 7, 8, 9.
std::string ThreeEntryLog(const std::string& hive) {
  const std::string bins = test::Bins(hive);
  const auto size = static_cast<uint32_t>(bins.size());
  return test::NewFormatLog(hive, 7,
                            {{7, size, {{0, bins.substr(0, 4096)}}},
                             {8, size, {{0, bins.substr(0, 512)}, {4096, bins.substr(4096, 1024)}}},
                             {9, size, {{0, bins.substr(0, 4096)}}}});
}

TEST(HiveLogTest, ReadsTheNewFormat) {
  const std::string hive = TwoBinHive();
  const std::string bins = test::Bins(hive);
  const std::string bytes = ThreeEntryLog(hive);  // the log points into them
  HiveLog log;
  ASSERT_EQ(Read(bytes, &log), ERROR_SUCCESS);
  EXPECT_EQ(log.format, LogFormat::kNew);
  EXPECT_EQ(log.sequence, 7u);
  ASSERT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(log.entries[1].sequence, 8u);
  ASSERT_EQ(log.entries[1].pages.size(), 2u);
  EXPECT_EQ(log.entries[1].pages[1].offset, 4096u);
  EXPECT_EQ(log.entries[1].pages[1].size, 1024u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(log.entries[1].pages[1].bytes), 1024),
            bins.substr(4096, 1024));
}

// A damaged base block copy makes the whole log useless.
TEST(HiveLogTest, RefusesADamagedBaseBlock) {
  const std::string good = ThreeEntryLog(TwoBinHive());
  auto resealed = [](std::function<void(std::string*)> edit) {
    return [edit](std::string* s) {
      edit(s);
      Store32(At(s, kChecksumOffset), BaseBlockChecksum(At(s, 0)));
    };
  };
  const struct {
    const char* what;
    std::function<void(std::string*)> edit;
  } cases[] = {
      {"empty", [](std::string* s) { s->clear(); }},
      {"shorter than a sector", [](std::string* s) { s->resize(511); }},
      {"signature", [](std::string* s) { (*s)[0] = 'R'; }},
      {"checksum", [](std::string* s) { (*s)[kChecksumOffset] ^= 1; }},
      {"primary file type", resealed([](std::string* s) { Store32(At(s, kFileTypeOffset), 0); })},
      {"sequence numbers differ",
       resealed([](std::string* s) { Store32(At(s, kSecondarySequenceOffset), 6); })},
      {"bins size not whole pages",
       resealed([](std::string* s) { Store32(At(s, kDataSizeOffset), 4097); })},
      {"no bins", resealed([](std::string* s) { Store32(At(s, kDataSizeOffset), 0); })},
      {"clustering factor", resealed([](std::string* s) { Store32(At(s, kClusteringOffset), 0); })},
      {"clustering larger than the file", resealed([](std::string* s) {
         Store32(At(s, kClusteringOffset), 8);
         s->resize(4000);
       })},
  };
  for (const auto& c : cases) {
    std::string bad = good;
    c.edit(&bad);
    HiveLog log;
    EXPECT_EQ(Read(bad, &log), ERROR_REGISTRY_CORRUPT) << c.what;
  }
}

// An entry that fails a check ends the entries: those before it stay.
TEST(HiveLogTest, StopsAtTheFirstEntryThatFailsACheck) {
  const std::string hive = TwoBinHive();
  const std::string good = ThreeEntryLog(hive);
  const size_t second = kLogSectorSize + 4096 + kLogSectorSize;  // after entry one
  ASSERT_EQ(good.substr(second, 4), "HvLE");
  // Edits of the second entry; those that keep its hashes right redo them.
  auto rehashed = [&](std::function<void(test::EntrySpec*)> edit) {
    return [edit, &hive](std::string* s) {
      const std::string bins = test::Bins(hive);
      test::EntrySpec entry{8,
                            static_cast<uint32_t>(bins.size()),
                            {{0, bins.substr(0, 512)}, {4096, bins.substr(4096, 1024)}}};
      edit(&entry);
      const std::string bytes = test::LogEntryBytes(entry);
      s->replace(second, s->size() - second, bytes);
    };
  };
  const struct {
    const char* what;
    std::function<void(std::string*)> edit;
  } cases[] = {
      {"signature", [&](std::string* s) { (*s)[second] = 'h'; }},
      {"first hash", [&](std::string* s) { (*s)[second + kEntryHash1Offset] ^= 1; }},
      {"second hash", [&](std::string* s) { (*s)[second + kEntryHash2Offset] ^= 1; }},
      {"a page byte", [&](std::string* s) { (*s)[second + kEntryHeaderSize + 16 + 100] ^= 1; }},
      {"size beyond the file", [&](std::string* s) { s->resize(second + kLogSectorSize); }},
      {"bins size not whole pages", rehashed([](test::EntrySpec* e) { e->bins_size += 512; })},
      {"page beyond the bins",
       rehashed([](test::EntrySpec* e) { e->pages[1].first = e->bins_size - 512; })},
      {"page not on a sector", rehashed([](test::EntrySpec* e) { e->pages[1].first = 4100; })},
      {"empty page", rehashed([](test::EntrySpec* e) { e->pages[0].second.clear(); })},
  };
  for (const auto& c : cases) {
    std::string bad = good;
    c.edit(&bad);
    HiveLog log;
    ASSERT_EQ(Read(bad, &log), ERROR_SUCCESS) << c.what;
    EXPECT_EQ(log.entries.size(), 1u) << c.what;
  }
  // A page count whose references and pages do not fit the entry.
  std::string bad = good;
  Store32(At(&bad, second + kEntryPageCountOffset), 0x20000000);
  HiveLog log;
  ASSERT_EQ(Read(bad, &log), ERROR_SUCCESS);
  EXPECT_EQ(log.entries.size(), 1u);
}

TEST(HiveLogTest, ReadsTheOldFormatAndRefusesMissingPages) {
  const std::string hive = TwoBinHive();
  // Pages 0 to 2 and 9: two runs.
  const std::string good = test::OldFormatLog(hive, 5, 3, {0, 1, 2, 9});
  HiveLog log;
  ASSERT_EQ(Read(good, &log), ERROR_SUCCESS);
  EXPECT_EQ(log.format, LogFormat::kOld);
  EXPECT_EQ(log.timestamp, 5u);
  ASSERT_EQ(log.pages.size(), 2u);
  EXPECT_EQ(log.pages[0].offset, 0u);
  EXPECT_EQ(log.pages[0].size, 3 * kDirtyPageSize);
  EXPECT_EQ(log.pages[1].offset, 9 * kDirtyPageSize);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(log.pages[1].bytes), kDirtyPageSize),
            test::Bins(hive).substr(9 * kDirtyPageSize, kDirtyPageSize));

  std::string no_vector = good;
  no_vector[kLogSectorSize] = 'd';
  EXPECT_EQ(Read(no_vector, &log), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(Read(good.substr(0, good.size() - 1), &log), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(Read(good.substr(0, kLogSectorSize + 8), &log), ERROR_REGISTRY_CORRUPT);
}

TEST(HiveLogTest, ReadsTheRealLogs) {
  TempDir dir;
  const struct {
    const char* set;
    const char* log;
    LONG result;
    LogFormat format;
    std::vector<uint32_t> sequences;  // of the entries
    size_t dirty_bytes;               // of the old format
  } cases[] = {
      {"NewDirtyHive1", "NewDirtyHive.LOG1", ERROR_SUCCESS, LogFormat::kNew, {2}, 0},
      {"NewDirtyHive1", "NewDirtyHive.LOG2", ERROR_SUCCESS, LogFormat::kNew, {3, 4, 5}, 0},
      {"UsrClass", "UsrClass.dat.LOG1", ERROR_SUCCESS, LogFormat::kNew, {287, 288, 289, 290}, 0},
      {"UsrClass",
       "UsrClass.dat.LOG2",
       ERROR_SUCCESS,
       LogFormat::kNew,
       {291, 292, 293, 294, 295, 296, 297, 298, 299, 300},
       0},
      {"OldDirtyHive", "OldDirtyHive.LOG1", ERROR_SUCCESS, LogFormat::kOld, {}, 64 * 512},
      {"BadLogHive1", "BadLogHive.LOG1", ERROR_REGISTRY_CORRUPT, LogFormat::kOld, {}, 0},
      {"BadLogHive2", "BadLogHive.LOG1", ERROR_REGISTRY_CORRUPT, LogFormat::kOld, {}, 0},
      {"BadLogHive3", "BadLogHive.LOG2", ERROR_REGISTRY_CORRUPT, LogFormat::kOld, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.set) + "/" + c.log);
    const std::string set = dir.File(c.set);
    mkdir(set.c_str(), 0700);
    if (!test::UnpackDirtySet(c.set, set)) GTEST_SKIP() << "the dirty hives are not there";
    HiveLog log;
    const std::string bytes = ReadFileBytes(set + "/" + c.log);
    ASSERT_EQ(Read(bytes, &log), c.result);
    if (c.result != ERROR_SUCCESS) continue;
    EXPECT_EQ(log.format, c.format);
    std::vector<uint32_t> sequences;
    for (const LogEntry& entry : log.entries) sequences.push_back(entry.sequence);
    EXPECT_EQ(sequences, c.sequences);
    size_t dirty = 0;
    for (const LogPages& pages : log.pages) dirty += pages.size;
    EXPECT_EQ(dirty, c.dirty_bytes);
  }
}

}  // namespace
}  // namespace orvik::posix::hive
