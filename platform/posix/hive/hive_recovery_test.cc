// Dirty hives of the shared test data with their logs: the recovered tree is
// the one Windows itself recovered (read by libregf and hivex from Windows'
// file), damaged logs are refused, and a hive that needs no replay gets none.
#include "platform/posix/hive/hive_recovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/dirty_sets.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "platform/posix/hive/testing/log_builder.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

const test::ViewFields kLibregf{true, true, true, true};
const test::ViewFields kHivex{false, false, true};

// Prepares the hive at `path`; when a replay is needed, writes the recovered
// hive to `recovered`.
LONG Recover(const std::string& path, const std::string& recovered, bool* needed) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ERROR_FILE_NOT_FOUND;
  HiveRecovery recovery;
  LONG rc = recovery.Prepare(fd, path);
  *needed = recovery.needed();
  if (rc == ERROR_SUCCESS && recovery.needed()) {
    std::unique_ptr<ReplayedHive> hive;
    rc = ReplayedHive::Build(fd, recovery.replay(), &hive);
    if (rc == ERROR_SUCCESS) {
      WriteFileBytes(recovered,
                     std::string(reinterpret_cast<const char*>(hive->data()), hive->size()));
    }
  }
  close(fd);
  return rc;
}

std::string Unpack(const TempDir& dir, const std::string& set) {
  const std::string folder = dir.File(set);
  mkdir(folder.c_str(), 0700);
  return test::UnpackDirtySet(set, folder) ? folder : "";
}

TEST(HiveRecoveryTest, GivesTheTreeWindowsRecovered) {
  TempDir dir;
  const struct {
    const char* set;
    const char* hive;
    const char* oracle;  // Windows' own recovery, in the set named
  } cases[] = {
      {"OldDirtyHive", "OldDirtyHive", "OldDirtyHive/RecoveredHive_Windows7"},
      {"NewDirtyHive1", "NewDirtyHive", "NewDirtyHive1/RecoveredHive_Windows10"},
      // The same hive as the first, its base block damaged: the log's copy
      // stands for it.
      {"BadBaseBlockHive", "BadBaseBlockHive", "OldDirtyHive/RecoveredHive_Windows7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    const std::string set = Unpack(dir, c.set);
    if (set.empty() || Unpack(dir, "OldDirtyHive").empty()) {
      GTEST_SKIP() << "the dirty hives are not there";
    }
    const std::string recovered = dir.File(std::string(c.set) + ".recovered");
    bool needed = false;
    ASSERT_EQ(Recover(set + "/" + c.hive, recovered, &needed), ERROR_SUCCESS);
    ASSERT_TRUE(needed);
    const std::string oracle = dir.File(c.oracle);
    long error = 0;
    EXPECT_TRUE(test::SameLines(test::LibregfView(oracle, kLibregf, &error),
                                test::OurView(recovered, kLibregf, &error)));
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(test::SameLines(test::HivexView(oracle, kHivex, &error),
                                test::OurView(recovered, kHivex, &error)));
    std::unique_ptr<HiveReader> reader;
    ASSERT_EQ(HiveReader::Open(recovered, &reader), ERROR_SUCCESS);
    std::vector<HashRepair> repairs;
    EXPECT_EQ(CheckHiveTree(*reader, &repairs), ERROR_SUCCESS);
    EXPECT_TRUE(repairs.empty());
  }
}

TEST(HiveRecoveryTest, ReplaysARealClassesHiveFromBothOfItsLogs) {
  TempDir dir;
  const std::string set = Unpack(dir, "UsrClass");
  if (set.empty()) GTEST_SKIP() << "the dirty hives are not there";
  const std::string recovered = dir.File("recovered");
  bool needed = false;
  ASSERT_EQ(Recover(set + "/UsrClass.dat", recovered, &needed), ERROR_SUCCESS);
  ASSERT_TRUE(needed);
  std::unique_ptr<HiveReader> reader;
  ASSERT_EQ(HiveReader::Open(recovered, &reader), ERROR_SUCCESS);
  std::vector<HashRepair> repairs;
  EXPECT_EQ(CheckHiveTree(*reader, &repairs), ERROR_SUCCESS);
  EXPECT_TRUE(repairs.empty());
  long error = 0;
  const auto ours = test::OurView(recovered, kHivex, &error);
  EXPECT_TRUE(test::SameLines(test::HivexView(recovered, kHivex, &error), ours));
  // The logs hold keys the primary does not.
  EXPECT_GT(ours.size(), test::OurView(set + "/UsrClass.dat", kHivex, &error).size());
  // The newest entry is the last of LOG2.
  EXPECT_EQ(HighestSequence(set + "/UsrClass.dat"), 300u);
}

TEST(HiveRecoveryTest, RefusesLogsThatGiveNoRecovery) {
  TempDir dir;
  for (const char* set : {"BadLogHive1", "BadLogHive2", "BadLogHive3"}) {
    SCOPED_TRACE(set);
    const std::string folder = Unpack(dir, set);
    if (folder.empty()) GTEST_SKIP() << "the dirty hives are not there";
    bool needed = false;
    EXPECT_EQ(Recover(folder + "/BadLogHive", dir.File("unused"), &needed), ERROR_REGISTRY_CORRUPT);
  }
}

// What needs no replay is for the reader to judge, as before.
TEST(HiveRecoveryTest, LeavesCleanHivesAndDirtyOnesWithoutLogsAlone) {
  TempDir dir;
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  w.EndKey();
  w.Finish(u"hive", 1);
  const std::string clean = w.Bytes();
  std::string dirty = clean;
  test::SetSequences(&dirty, 3, 2);
  const struct {
    const char* what;
    std::string hive;
    std::vector<std::pair<std::string, std::string>> logs;
    LONG result;
    bool needed;
  } cases[] = {
      {"clean, damaged logs beside it", clean, {{"LOG1", "damaged"}}, ERROR_SUCCESS, false},
      {"dirty, no logs", dirty, {}, ERROR_SUCCESS, false},
      {"dirty, empty logs", dirty, {{"LOG", ""}, {"LOG1", ""}}, ERROR_SUCCESS, false},
      {"dirty, a damaged log",
       dirty,
       {{"LOG1", ""}, {"LOG2", "damaged"}},
       ERROR_REGISTRY_CORRUPT,
       false},
      {"dirty, a log of entries already applied",
       dirty,
       {{"LOG1", test::NewFormatLog(clean, 1, {{1, 4096, {{0, clean.substr(4096, 512)}}}})}},
       ERROR_REGISTRY_CORRUPT,
       false},
      {"no hive at all", "text", {{"LOG1", "damaged"}}, ERROR_SUCCESS, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string hive = dir.File("hive" + std::to_string(++n));
    WriteFileBytes(hive, c.hive);
    for (const auto& [suffix, bytes] : c.logs) WriteFileBytes(hive + "." + suffix, bytes);
    bool needed = true;
    EXPECT_EQ(Recover(hive, dir.File("unused"), &needed), c.result) << c.what;
    EXPECT_EQ(needed, c.needed) << c.what;
  }
  // The truncated dirty hive of the shared data has no logs: the reader
  // refuses it as it is.
  if (!test::UnpackDirtySet("TruncatedDirtyHive", dir.path())) return;
  bool needed = true;
  EXPECT_EQ(Recover(dir.File("TruncatedDirtyHive"), dir.File("unused"), &needed), ERROR_SUCCESS);
  EXPECT_FALSE(needed);
  std::unique_ptr<HiveReader> reader;
  EXPECT_EQ(HiveReader::Open(dir.File("TruncatedDirtyHive"), &reader), ERROR_REGISTRY_CORRUPT);
}

}  // namespace
}  // namespace orvik::posix::hive
