// Which log, entries and base block a dirty hive is recovered from: hives
// the writer makes stand for the primary and for what the logs turn it into.
#include "platform/posix/hive/hive_replay.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/log_builder.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

const uint8_t* Data(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A hive whose root has the named subkeys; `padding` makes its bins larger.
std::string Tree(const std::vector<std::u16string>& names, size_t padding = 0) {
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  if (padding > 0) w.AddValue(u"pad", 3, std::string(padding, 'p'));
  for (const auto& name : names) {
    w.BeginKey({name, u"", "", 2});
    w.EndKey();
  }
  w.EndKey();
  w.Finish(u"hive", 1);
  return w.Bytes();
}

// The root's subkeys as the reader sees them; "corrupt" when it refuses.
std::string Names(const uint8_t* data, size_t size) {
  std::unique_ptr<HiveReader> reader;
  if (HiveReader::FromBytes(data, size, &reader) != ERROR_SUCCESS) return "corrupt";
  KeyNode root;
  std::vector<uint32_t> cells;
  if (reader->ReadKey(reader->root(), &root) != ERROR_SUCCESS ||
      reader->ListSubkeys(root, &cells) != ERROR_SUCCESS) {
    return "corrupt";
  }
  std::string names;
  for (const uint32_t cell : cells) {
    KeyNode key;
    if (reader->ReadKey(cell, &key) != ERROR_SUCCESS) return "corrupt";
    names += (names.empty() ? "" : ",") + std::string(key.name.begin(), key.name.end());
  }
  return names;
}

// The dirty primary (sequence numbers 3 and 2) and the trees logs bring.
const std::string kA = Tree({u"A"});
const std::string kB = Tree({u"B1", u"B2"});
const std::string kC = Tree({u"C"}, 9000);  // two bins: the hive grows

std::string DirtyPrimary() {
  std::string primary = kA;
  test::SetSequences(&primary, 3, 2);
  return primary;
}

test::EntrySpec WholeHive(uint32_t sequence, const std::string& hive) {
  const std::string bins = test::Bins(hive);
  return {sequence, static_cast<uint32_t>(bins.size()), {{0, bins}}};
}

// Plans the replay of `logs` over `primary` and reads the recovered root's
// subkeys from the hive built in memory and from a copy of the file written
// over; both must agree.
std::string Recover(const std::string& primary, const std::vector<std::string>& log_files) {
  std::vector<HiveLog> logs;
  for (const std::string& bytes : log_files) {
    HiveLog log;
    if (ReadHiveLog(Data(bytes), bytes.size(), &log) == ERROR_SUCCESS) logs.push_back(log);
  }
  Replay replay;
  if (PlanReplay(Data(primary), primary.size(), logs, &replay) != ERROR_SUCCESS) return "refused";
  const uint8_t* base = replay.base_block.data();
  EXPECT_FALSE(HiveIsDirty(base));
  EXPECT_EQ(Load32(base + kFileTypeOffset), kFileTypePrimary);
  EXPECT_EQ(Load32(base + kDataSizeOffset), replay.bins_size);

  TempDir dir;
  WriteFileBytes(dir.File("copy"), primary);
  const int fd = open(dir.File("copy").c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_EQ(ApplyReplay(replay, fd), ERROR_SUCCESS);
  std::unique_ptr<ReplayedHive> built;
  EXPECT_EQ(ReplayedHive::Build(fd, replay, &built), ERROR_SUCCESS);
  close(fd);
  const std::string copy = ReadFileBytes(dir.File("copy"));
  const std::string names = Names(built->data(), built->size());
  EXPECT_EQ(Names(Data(copy), copy.size()), names);
  return names;
}

TEST(HiveReplayTest, NewFormatEntriesInSequence) {
  const std::string primary = DirtyPrimary();
  std::string no_hash = test::LogEntryBytes(WholeHive(3, kC));
  no_hash[kEntryHash1Offset] ^= 1;
  const struct {
    const char* what;
    std::vector<std::string> logs;
    const char* names;
  } cases[] = {
      {"one entry", {test::NewFormatLog(kA, 2, {WholeHive(2, kB)})}, "B1,B2"},
      {"across both files",
       {test::NewFormatLog(kA, 2, {WholeHive(2, kB)}),
        test::NewFormatLog(kA, 3, {WholeHive(3, kC)})},
       "C"},
      {"the later file named first",
       {test::NewFormatLog(kA, 3, {WholeHive(3, kC)}),
        test::NewFormatLog(kA, 2, {WholeHive(2, kB)})},
       "C"},
      {"entries older than the primary skipped",
       {test::NewFormatLog(kA, 1, {WholeHive(1, kC), WholeHive(2, kB)})},
       "B1,B2"},
      {"a gap ends the replay",
       {test::NewFormatLog(kA, 2, {WholeHive(2, kB), WholeHive(4, kC)})},
       "B1,B2"},
      {"a damaged entry ends the replay",
       {test::NewFormatLog(kA, 2, {WholeHive(2, kB)}) + no_hash},
       "B1,B2"},
      {"the first entry after the primary's starts it",
       {test::NewFormatLog(kA, 5, {WholeHive(5, kB), WholeHive(6, kC)})},
       "C"},
      {"part of a page",
       {test::NewFormatLog(kA, 2, {{2, 4096, {{0, test::Bins(kB).substr(0, 4096)}}}})},
       "B1,B2"},
      {"only entries older than the primary",
       {test::NewFormatLog(kA, 1, {WholeHive(1, kB)})},
       "refused"},
      {"no log", {}, "refused"},
  };
  for (const auto& c : cases) EXPECT_EQ(Recover(primary, c.logs), c.names) << c.what;
}

TEST(HiveReplayTest, ADamagedBaseBlockIsTakenFromTheEarliestLog) {
  std::string primary = DirtyPrimary();
  test::SpoilChecksum(&primary);
  // The later log's base block would start the replay at entry 4.
  EXPECT_EQ(Recover(primary, {test::NewFormatLog(kA, 4, {WholeHive(4, kC)}),
                              test::NewFormatLog(kA, 2, {WholeHive(2, kB)})}),
            "B1,B2");
  EXPECT_EQ(Recover(primary, {test::NewFormatLog(kA, 4, {WholeHive(3, kB)})}), "refused");
}

TEST(HiveReplayTest, OldFormatLogMadeForThisPrimary) {
  std::string primary = DirtyPrimary();
  test::SetTimestamp(&primary, 77);
  // kB and kA share their layout; every page of kB's bins is logged.
  std::vector<uint32_t> pages;
  for (uint32_t i = 0; i < test::Bins(kB).size() / kDirtyPageSize; ++i) pages.push_back(i);
  EXPECT_EQ(Recover(primary, {test::OldFormatLog(kB, 77, 3, pages)}), "B1,B2");
  EXPECT_EQ(
      Recover(primary, {test::OldFormatLog(kB, 78, 3, pages), test::OldFormatLog(kB, 77, 3, {})}),
      "A");
  EXPECT_EQ(Recover(primary, {test::OldFormatLog(kB, 78, 3, pages)}), "refused");
  // New-format logs come first; an old one is the fallback.
  EXPECT_EQ(Recover(primary, {test::OldFormatLog(kB, 77, 3, pages),
                              test::NewFormatLog(kA, 2, {WholeHive(2, kC)})}),
            "C");
  // A damaged base block: its time, or else the first bin's, must match.
  std::string damaged = primary;
  test::SpoilChecksum(&damaged);
  EXPECT_EQ(Recover(damaged, {test::OldFormatLog(kB, 77, 3, pages)}), "B1,B2");
  const uint64_t bin_time = Load64(Data(primary) + kBaseBlockSize + kBinTimestampOffset);
  EXPECT_EQ(Recover(damaged, {test::OldFormatLog(kB, bin_time, 3, pages)}), "B1,B2");
}

}  // namespace
}  // namespace orvik::posix::hive
