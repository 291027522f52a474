// Finding the logs beside a hive with case ignored (the shared naming sets),
// reading them safely, and emptying only what is a log of one name.
#include "platform/posix/hive/hive_log_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/hive/hive_log_format.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/dirty_sets.h"
#include "platform/posix/hive/testing/log_builder.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

std::vector<std::string> Names(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const std::string& path : paths) names.push_back(path.substr(path.rfind('/') + 1));
  return names;
}

TEST(HiveLogFilesTest, FindsTheSharedNamingSets) {
  TempDir dir;
  const struct {
    const char* set;
    const char* hive;
    std::vector<std::string> logs;
  } cases[] = {
      {"Discovery/1", "aa", {"aa.LOG", "aa.LOG1", "aa.LOG2"}},
      {"Discovery/2", "AA", {"aa.LOG1", "aa.LOG2"}},
      {"Discovery/3", "AA", {"aa.log", "aa.log1"}},
      {"Discovery/4", "AA", {"aa.LOG", "aa.log1", "aa.log2"}},
      {"Discovery/5", "aa", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.set);
    const std::string set = dir.File(std::string(c.set).substr(10));
    mkdir(set.c_str(), 0700);
    if (!test::UnpackDirtySet(c.set, set)) GTEST_SKIP() << "the dirty hives are not there";
    EXPECT_EQ(Names(FindHiveLogs(set + "/" + c.hive)), c.logs);
    // The hive's own name may be given in any case too.
    EXPECT_EQ(Names(FindHiveLogs(set + "/aA")), c.logs);
  }
}

TEST(HiveLogFilesTest, TakesOneNameForEachLogAndNothingElse) {
  TempDir dir;
  for (const char* name : {"hive", "hive.log1", "hive.LOG1", "hive.Log2", "hive.LOG3", "hive.LOG1x",
                           "xhive.LOG", "hive.LOG.bak", "hive.LOG2.tmp", "other.LOG"}) {
    WriteFileBytes(dir.File(name), "");
  }
  // "hive.LOG1" is the name spelled as asked; the others have one each.
  EXPECT_EQ(Names(FindHiveLogs(dir.File("hive"))),
            (std::vector<std::string>{"hive.LOG1", "hive.Log2"}));
  EXPECT_EQ(Names(FindHiveLogs(dir.File("HIVE"))),
            (std::vector<std::string>{"hive.LOG1", "hive.Log2"}));
  // Non-ASCII names fold too.
  WriteFileBytes(dir.File("\xC3\xA9t\xC3\xA9"), "");
  WriteFileBytes(dir.File("\xC3\x89T\xC3\x89.log"), "");
  EXPECT_EQ(Names(FindHiveLogs(dir.File("\xC3\xA9t\xC3\xA9"))),
            (std::vector<std::string>{"\xC3\x89T\xC3\x89.log"}));
  EXPECT_TRUE(FindHiveLogs(dir.File("missing/hive")).empty());
}

TEST(HiveLogFilesTest, ReadsOnlyRegularFilesWithoutLinks) {
  TempDir dir;
  WriteFileBytes(dir.File("hive.LOG1"), "bytes");
  std::vector<uint8_t> bytes;
  ASSERT_EQ(ReadLogFile(dir.File("hive.LOG1"), &bytes), ERROR_SUCCESS);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "bytes");
  ASSERT_EQ(symlink(dir.File("hive.LOG1").c_str(), dir.File("link.LOG1").c_str()), 0);
  EXPECT_EQ(ReadLogFile(dir.File("link.LOG1"), &bytes), ERROR_REGISTRY_CORRUPT);
  ASSERT_EQ(mkfifo(dir.File("pipe.LOG1").c_str(), 0600), 0);
  EXPECT_EQ(ReadLogFile(dir.File("pipe.LOG1"), &bytes), ERROR_REGISTRY_CORRUPT);
  ASSERT_EQ(mkdir(dir.File("dir.LOG1").c_str(), 0700), 0);
  EXPECT_EQ(ReadLogFile(dir.File("dir.LOG1"), &bytes), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadLogFile(dir.File("missing.LOG1"), &bytes), ERROR_FILE_NOT_FOUND);
}

TEST(HiveLogFilesTest, EmptiesOnlyLogsOfOneName) {
  TempDir dir;
  HiveWriter w;
  w.BeginKey({u"root", u"", "", 1});
  w.EndKey();
  w.Finish(u"hive", 1);
  const std::string hive = w.Bytes();
  const std::string log = test::NewFormatLog(hive, 2, {});
  const std::string old_log = test::OldFormatLog(hive, 1, 2, {});
  TempDir elsewhere;
  WriteFileBytes(elsewhere.File("target"), log);
  WriteFileBytes(elsewhere.File("linked"), log);
  WriteFileBytes(dir.File("a"), hive);
  WriteFileBytes(dir.File("a.LOG1"), log);
  WriteFileBytes(dir.File("a.log2"), old_log);
  WriteFileBytes(dir.File("a.LOG"), "notes, not a log");
  WriteFileBytes(dir.File("b"), hive);
  ASSERT_EQ(symlink(elsewhere.File("target").c_str(), dir.File("b.LOG1").c_str()), 0);
  ASSERT_EQ(link(elsewhere.File("linked").c_str(), dir.File("b.LOG2").c_str()), 0);

  EmptyHiveLogs(dir.File("a"));
  EmptyHiveLogs(dir.File("b"));
  EXPECT_EQ(ReadFileBytes(dir.File("a.LOG1")), "");
  EXPECT_EQ(ReadFileBytes(dir.File("a.log2")), "");
  EXPECT_EQ(ReadFileBytes(dir.File("a.LOG")), "notes, not a log");
  EXPECT_EQ(ReadFileBytes(dir.File("a")), hive);
  EXPECT_EQ(ReadFileBytes(elsewhere.File("target")), log);
  EXPECT_EQ(ReadFileBytes(elsewhere.File("linked")), log);
}

}  // namespace
}  // namespace orvik::posix::hive
