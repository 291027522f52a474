// The shared change counter: odd while a write is under way, and never back
// to a value a reader has seen, also after a writer died in between.
#include "platform/posix/change_counter.h"

#include <gtest/gtest.h>

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
