// The shared change counter: odd while a write is under way, and never back
// to a value a reader has seen, also after a writer died in between.
#include "platform/posix/store/change_counter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/process_runner.h"

namespace orvik::posix {
namespace {

TEST(ChangeCounterTest, WritesMoveTheCounterForward) {
  orvik::test::TempDir dir;
  const std::string path = dir.File("counter");
  ChangeCounter writer;
  ASSERT_TRUE(writer.Open(path, true, 0644, {}) == ERROR_SUCCESS);
  ChangeCounter reader;
  ASSERT_TRUE(reader.Open(path, false, 0644, {}) == ERROR_SUCCESS);
  ASSERT_TRUE(reader.Available());
  const uint64_t start = reader.Load();
  EXPECT_EQ(start % 2, 0u);

  writer.BeginWrite();
  const uint64_t during = reader.Load();
  EXPECT_EQ(during % 2, 1u);
  writer.EndWrite();
  const uint64_t after = reader.Load();
  EXPECT_EQ(after % 2, 0u);
  EXPECT_GT(after, start);

  // A writer killed before it ended leaves the counter odd; the next one
  // moves it to a new odd and then a new even value.
  writer.BeginWrite();
  const uint64_t left_odd = reader.Load();
  writer.BeginWrite();
  EXPECT_EQ(reader.Load() % 2, 1u);
  EXPECT_NE(reader.Load(), left_odd);
  writer.EndWrite();
  EXPECT_EQ(reader.Load() % 2, 0u);
  EXPECT_GT(reader.Load(), after);
}

TEST(ChangeCounterTest, AWriterThatBeganAfterAnotherCommittedKeepsItOddUntilItEnds) {
  orvik::test::TempDir dir;
  const std::string path = dir.File("counter");
  ChangeCounter first;
  ChangeCounter second;
  ChangeCounter reader;
  ASSERT_EQ(first.Open(path, true, 0644, {}), ERROR_SUCCESS);
  ASSERT_EQ(second.Open(path, true, 0644, {}), ERROR_SUCCESS);
  ASSERT_EQ(reader.Open(path, false, 0644, {}), ERROR_SUCCESS);
  // The first writer commits; before it ends, the second takes the lock.
  first.BeginWrite();
  second.BeginWrite();
  first.EndWrite();
  EXPECT_EQ(reader.Load() % 2, 1u) << "the second writer's changes are not committed yet";
  uint64_t before = 0;
  uint64_t after = 0;
  EXPECT_FALSE(first.LastWriteAlone(&before, &after));
  second.EndWrite();
  EXPECT_EQ(reader.Load() % 2, 0u);
  EXPECT_FALSE(second.LastWriteAlone(&before, &after)) << "it began on an odd counter";
  // A write alone moves the counter between two even values.
  const uint64_t start = reader.Load();
  first.BeginWrite();
  first.EndWrite();
  ASSERT_TRUE(first.LastWriteAlone(&before, &after));
  EXPECT_EQ(before, start);
  EXPECT_EQ(after, reader.Load());
}

TEST(ChangeCounterTest, TheFileIsNeverALinkAndHasItsDiskSpace) {
  orvik::test::TempDir dir;
  const std::string target = dir.File("target");
  orvik::test::WriteFileBytes(target, "precious");
  ASSERT_EQ(symlink(target.c_str(), dir.File("link").c_str()), 0);
  ChangeCounter counter;
  EXPECT_EQ(counter.Open(dir.File("link"), true, 0644, {}), ORVIK_ERROR_REGISTRY_FILE_LINKED);
  EXPECT_EQ(counter.Open(dir.File("link"), false, 0644, {}), ORVIK_ERROR_REGISTRY_FILE_LINKED);
  EXPECT_EQ(orvik::test::ReadFileBytes(target), "precious");
  // A file sized without its disk space gets it.
  const std::string sparse = dir.File("sparse");
  ASSERT_EQ(truncate((orvik::test::WriteFileBytes(sparse, ""), sparse.c_str()), 4096), 0);
  ASSERT_EQ(counter.Open(sparse, true, 0644, {}), ERROR_SUCCESS);
  struct stat info {};
  ASSERT_EQ(stat(sparse.c_str(), &info), 0);
  EXPECT_GE(info.st_blocks * 512, 4096);
}

TEST(ChangeCounterTest, AReaderWithoutTheFileGoesOnWithoutIt) {
  orvik::test::TempDir dir;
  ChangeCounter reader;
  EXPECT_EQ(reader.Open(dir.File("missing"), false, 0644, {}), ERROR_SUCCESS);
  EXPECT_FALSE(reader.Available());
  ChangeCounter writer;
  EXPECT_NE(writer.Open(dir.File("no/such/dir"), true, 0644, {}), ERROR_SUCCESS);
}

}  // namespace
}  // namespace orvik::posix
