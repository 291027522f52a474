// Tests of FileReplacement: the target changes only on Commit, completely,
// and nothing is left beside it when a replacement is given up.
#include "platform/file_replacement.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/process_runner.h"

namespace orvik {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

size_t EntriesIn(const std::string& directory) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
    ++count;
  }
  return count;
}

TEST(FileReplacement, CommitReplacesTheTargetWithEverythingWritten) {
  TempDir dir;
  const std::string target = dir.File("out.reg");
  WriteFileBytes(target, "an earlier and much longer content");
  FileReplacement file;
  ASSERT_TRUE(file.Create(target));
  ASSERT_TRUE(file.Write("new "));
  ASSERT_TRUE(file.Write("content"));
  EXPECT_EQ(ReadFileBytes(target), "an earlier and much longer content");
  EXPECT_EQ(file.Commit(), FileReplacement::Outcome::kDone);
  EXPECT_EQ(ReadFileBytes(target), "new content");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(FileReplacement, GivingUpLeavesTheTargetAndNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.File("out.reg");
  WriteFileBytes(target, "earlier");
  {
    FileReplacement file;
    ASSERT_TRUE(file.Create(target));
    ASSERT_TRUE(file.Write("half of it"));
  }
  EXPECT_EQ(ReadFileBytes(target), "earlier");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);

  FileReplacement file;
  ASSERT_TRUE(file.Create(dir.File("new.reg")));
  file.Discard();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(FileReplacement, ProcessEndingOnTheWayLeavesTheTargetAndNothingElse) {
  TempDir dir;
  const std::string target = dir.File("out.reg");
  WriteFileBytes(target, "earlier");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Ends as a killed process would: no destructor runs.
    FileReplacement file;
    const bool written = file.Create(target) && file.Write(std::string(100000, 'x'));
    _exit(written ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFileBytes(target), "earlier");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(FileReplacement, TargetsThatCannotBeCreatedAreRefusedAtOnce) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  for (const std::string& target : {dir.File("missing/out.reg"), dir.File("sub"), std::string()}) {
    FileReplacement file;
    EXPECT_FALSE(file.Create(target)) << target;
  }
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(FileReplacement, ReplacedFileKeepsItsPermissionsAndALinkStaysALink) {
  TempDir dir;
  const std::string target = dir.File("out.reg");
  WriteFileBytes(target, "earlier");
  chmod(target.c_str(), 0640);
  const std::string link = dir.File("link.reg");
  std::filesystem::create_symlink(target, link);

  FileReplacement file;
  ASSERT_TRUE(file.Create(link));
  ASSERT_TRUE(file.Write("through the link"));
  ASSERT_EQ(file.Commit(), FileReplacement::Outcome::kDone);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(target), "through the link");
  struct stat status {};
  ASSERT_EQ(stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(FileReplacement, PipeIsWrittenInPlace) {
  TempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  FileReplacement file;
  ASSERT_TRUE(file.Create(fifo));
  ASSERT_TRUE(file.Write("through the pipe"));
  EXPECT_EQ(file.Commit(), FileReplacement::Outcome::kDone);
  char buffer[64] = {};
  EXPECT_EQ(read(reader, buffer, sizeof buffer), 16);
  EXPECT_STREQ(buffer, "through the pipe");
  close(reader);
  struct stat status {};
  ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace orvik
