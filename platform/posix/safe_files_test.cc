// Tests of paths resolved under the protected-links rule, directories opened
// without links, and new files named only when complete.
#include "platform/posix/safe_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::posix {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

constexpr uid_t kOtherUser = 65534;

class SafeFilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }
  void MakeDirectory(const std::string& name, mode_t mode, uid_t owner) {
    ASSERT_EQ(mkdir(Path(name).c_str(), mode), 0);
    ASSERT_EQ(chmod(Path(name).c_str(), mode), 0);
    ASSERT_EQ(lchown(Path(name).c_str(), owner, owner), 0);
  }
  void MakeLink(const std::string& target, const std::string& name, uid_t owner) {
    ASSERT_EQ(symlink(target.c_str(), Path(name).c_str()), 0);
    ASSERT_EQ(lchown(Path(name).c_str(), owner, owner), 0);
  }
  TempDir dir_;
};

TEST_F(SafeFilesTest, LinksAreFollowedAsTheProtectedLinksRuleAllows) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  MakeDirectory("real", 0755, 0);
  WriteFileBytes(Path("real/file"), "x");
  MakeDirectory("tmp", 01777, 0);  // shared and sticky, root's
  MakeDirectory("own", 0755, kOtherUser);
  MakeLink(Path("real"), "tmp/others", kOtherUser);
  MakeLink(Path("real"), "tmp/roots", 0);
  MakeLink("../real/file", "own/relative", kOtherUser);
  MakeLink(Path("real/file"), "own/absolute", kOtherUser);
  MakeLink("loop", "own/loop", 0);
  struct Case {
    std::string path;
    LONG rc;
    std::string resolved;
  };
  const std::vector<Case> cases = {
      {Path("real/./file"), ERROR_SUCCESS, Path("real/file")},
      {Path("real/../real/file"), ERROR_SUCCESS, Path("real/file")},
      {Path("real/new"), ERROR_SUCCESS, Path("real/new")},  // yet to be made
      {Path("missing/new"), ERROR_PATH_NOT_FOUND, ""},
      // Another user's link in a shared sticky directory, as the last
      // component or on the way.
      {Path("tmp/others"), ERROR_ACCESS_DENIED, ""},
      {Path("tmp/others/file"), ERROR_ACCESS_DENIED, ""},
      // The directory owner's link there, and anybody's link elsewhere.
      {Path("tmp/roots/file"), ERROR_SUCCESS, Path("real/file")},
      {Path("own/relative"), ERROR_SUCCESS, Path("real/file")},
      {Path("own/absolute"), ERROR_SUCCESS, Path("real/file")},
      {Path("own/loop"), ERROR_CANT_RESOLVE_FILENAME, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string resolved;
    const LONG rc = ResolvePath(c.path, &resolved);
    EXPECT_EQ(rc, c.rc);
    if (rc == ERROR_SUCCESS) {
      EXPECT_EQ(resolved, c.resolved);
    }
  }
  // A relative path starts at the current directory.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
  ASSERT_EQ(chdir(Path("real").c_str()), 0);
  std::string resolved;
  EXPECT_EQ(ResolvePath("file", &resolved), ERROR_SUCCESS);
  EXPECT_EQ(resolved, Path("real/file"));
  ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(SafeFilesTest, DirectoriesAreReachedWithoutAnyLink) {
  ASSERT_EQ(mkdir(Path("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("a/b").c_str(), 0755), 0);
  ASSERT_EQ(symlink(Path("a").c_str(), Path("link").c_str()), 0);
  int fd = OpenDirectoryNoFollow(Path("a/b"));
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  fd = OpenDirectoryNoFollow(Path("link/b"));
  EXPECT_LT(fd, 0);
  EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << errno;
  EXPECT_LT(OpenDirectoryNoFollow("relative/path"), 0);
}

TEST_F(SafeFilesTest, ANewFileHasNoNameUntilItIsCompleteAndTakesTheAttributesOfTheOldOne) {
  const int dir = OpenDirectoryNoFollow(dir_.path());
  ASSERT_GE(dir, 0);
  WriteFileBytes(Path("old"), "old");
  ASSERT_EQ(chmod(Path("old").c_str(), 0640), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(Path("old").c_str(), kOtherUser, kOtherUser), 0);
  }
  {
    NewFile file;
    ASSERT_EQ(file.Create(dir, "old", 0600), ERROR_SUCCESS);
    ASSERT_EQ(write(file.fd(), "new", 3), 3);
    // Nothing beside the old file while the new one is made.
    EXPECT_EQ(ReadFileBytes(Path("old")), "old");
    ASSERT_EQ(file.Commit(true), ERROR_SUCCESS);
  }
  EXPECT_EQ(ReadFileBytes(Path("old")), "new");
  struct stat info {};
  ASSERT_EQ(stat(Path("old").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (geteuid() == 0) {
    EXPECT_EQ(info.st_uid, kOtherUser);
  }
  {
    // Without replacing, a name that is taken stays as it is.
    NewFile file;
    ASSERT_EQ(file.Create(dir, "old", 0600), ERROR_SUCCESS);
    ASSERT_EQ(write(file.fd(), "other", 5), 5);
    EXPECT_EQ(file.Commit(false), ERROR_ALREADY_EXISTS);
  }
  EXPECT_EQ(ReadFileBytes(Path("old")), "new");
  {
    // A file discarded leaves nothing.
    NewFile file;
    ASSERT_EQ(file.Create(dir, "never", 0600), ERROR_SUCCESS);
  }
  EXPECT_NE(access(Path("never").c_str(), F_OK), 0);
  // A name that is now no regular file is not replaced.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  {
    NewFile file;
    ASSERT_EQ(file.Create(dir, "fifo", 0600), ERROR_SUCCESS);
    EXPECT_EQ(file.Commit(true), ERROR_ACCESS_DENIED);
  }
  struct stat fifo {};
  ASSERT_EQ(lstat(Path("fifo").c_str(), &fifo), 0);
  EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
  close(dir);
}

}  // namespace
}  // namespace orvik::posix
