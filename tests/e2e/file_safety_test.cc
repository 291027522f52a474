// End-to-end tests of the files that SAVE, EXPORT, LOAD and UNLOAD touch,
// tried the way a hostile user would: links swapped into a hive's path, a
// registry whose records another user edited, device nodes and pipes as
// targets, files in shared sticky directories, the registry's own files,
// sparse files, and runs killed while they write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_check.h"
#include "platform/posix/hive/hive_reader.h"
#include "tests/support/orvik_test.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

constexpr uid_t kOtherUser = 65534;  // nobody, the unprivileged user of the tests
constexpr uid_t kThirdUser = 12345;  // a user with no process in the tests

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct stat Lstat(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

void Chown(const std::string& path, uid_t user) {
  ASSERT_EQ(lchown(path.c_str(), user, user), 0) << path;
}

// Runs SQL on a registry's database, as the owner of its files may.
void EditDatabase(const std::string& registry, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((registry + "/registry.db").c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

class FileSafetyTest : public OrvikTest {
 protected:
  void SetUp() override {
    if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  }

  // A hive whose tree holds one value, saved as `path` (in any directory).
  void MakeHive(const std::string& path, const std::string& data) {
    const std::string key = "HKCU\\Software\\HiveSource";
    Ok({"ADD", key + "\\Sub", "/v", "Data", "/d", data});
    Ok({"SAVE", key, "made.hiv"});
    Ok({"DELETE", key});
    ASSERT_EQ(rename(File("made.hiv").c_str(), path.c_str()), 0);
  }

  // A registry that belongs to the unprivileged user; root may use it as
  // ORVIK_REGISTRY names it.
  std::string OtherUsersRegistry() {
    Chown(others_registry_.path(), kOtherUser);
    return others_registry_.path();
  }

  // A directory of `user` below the files folder.
  std::string Directory(const std::string& name, uid_t user, mode_t mode) {
    const std::string path = File(name);
    EXPECT_EQ(mkdir(path.c_str(), mode), 0) << path;
    EXPECT_EQ(chmod(path.c_str(), mode), 0);
    Chown(path, user);
    return path;
  }

  TempDir others_registry_;
};

TEST_F(FileSafetyTest, UnloadFollowsNoLinkSwappedIntoTheHivesPath) {
  const std::string registry = OtherUsersRegistry();
  const std::string shared = Directory("shared", kOtherUser, 0755);
  const std::string sub = shared + "/sub";
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  Chown(sub, kOtherUser);
  MakeHive(sub + "/h.hiv", "the user's");
  Chown(sub + "/h.hiv", kOtherUser);
  const std::string vault = Directory("vault", 0, 0700);
  MakeHive(vault + "/h.hiv", "root's own");
  const std::string secret = ReadFileBytes(vault + "/h.hiv");

  ASSERT_EQ(Orvik({"LOAD", "HKLM\\H", sub + "/h.hiv"}, false, registry).exit_code, 0);
  ASSERT_EQ(Orvik({"ADD", "HKLM\\H", "/v", "Evil", "/d", "chosen"}, false, registry).exit_code, 0);
  // The registry's owner swaps a directory of the path for a link.
  ASSERT_EQ(rename(sub.c_str(), (shared + "/moved").c_str()), 0);
  ASSERT_EQ(symlink(vault.c_str(), sub.c_str()), 0);
  Chown(sub, kOtherUser);

  ProcessResult r = Orvik({"UNLOAD", "HKLM\\H"}, false, registry);
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_TRUE(ReadFileBytes(vault + "/h.hiv") == secret) << "root's file was changed";
  EXPECT_EQ(Names(vault), std::vector<std::string>{"h.hiv"});
  // With the path as it was, the hive goes back to its own file.
  ASSERT_EQ(unlink(sub.c_str()), 0);
  ASSERT_EQ(rename((shared + "/moved").c_str(), sub.c_str()), 0);
  r = Orvik({"UNLOAD", "HKLM\\H"}, false, registry);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(ReadFileBytes(vault + "/h.hiv") == secret) << "root's file was changed";
  ASSERT_EQ(Orvik({"LOAD", "HKLM\\Again", sub + "/h.hiv"}, false, registry).exit_code, 0);
  EXPECT_NE(Orvik({"QUERY", "HKLM\\Again"}, false, registry).out.find("chosen"), std::string::npos);
}

TEST_F(FileSafetyTest, UnloadTakesNoRecordOfAnotherUsersRegistryOnTrust) {
  const std::string registry = OtherUsersRegistry();
  const std::string shared = Directory("shared", kOtherUser, 0755);
  MakeHive(shared + "/h.hiv", "the user's");
  Chown(shared + "/h.hiv", kOtherUser);
  const std::string vault = Directory("vault", 0, 0755);
  MakeHive(vault + "/h.hiv", "root's own");
  ASSERT_EQ(chmod((vault + "/h.hiv").c_str(), 0644), 0);
  const std::string secret = ReadFileBytes(vault + "/h.hiv");

  ASSERT_EQ(Orvik({"LOAD", "HKLM\\H", shared + "/h.hiv"}, false, registry).exit_code, 0);
  ASSERT_EQ(Orvik({"ADD", "HKLM\\H", "/v", "Evil", "/d", "chosen"}, false, registry).exit_code, 0);
  // The registry's owner points the record at root's file, identity and all,
  // and makes the private copy look like it.
  const struct stat target = Lstat(vault + "/h.hiv");
  EditDatabase(registry, "UPDATE loaded_hives SET file='" + vault +
                             "/h.hiv', device=" + std::to_string(target.st_dev) +
                             ", inode=" + std::to_string(target.st_ino));
  for (const std::string& name : Names(registry)) {
    if (name.rfind("loaded-hive-", 0) != 0) continue;
    ASSERT_EQ(unlink((registry + "/" + name).c_str()), 0);
    WriteFileBytes(registry + "/" + name, secret);
    Chown(registry + "/" + name, kOtherUser);
  }
  const ProcessResult r = Orvik({"UNLOAD", "HKLM\\H"}, false, registry);
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_TRUE(ReadFileBytes(vault + "/h.hiv") == secret) << "root's file was changed";
}

TEST_F(FileSafetyTest, SaveRefusesDevicesAndPipes) {
  Ok({"ADD", "HKCU\\Software\\Saved", "/v", "Name", "/d", "text"});
  struct Case {
    const char* name;
    mode_t mode;
    dev_t device;
  };
  const Case cases[] = {
      {"mynull", S_IFCHR | 0666, makedev(1, 3)},
      {"myfull", S_IFCHR | 0666, makedev(1, 7)},
      {"myfifo", S_IFIFO | 0666, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(mknod(File(c.name).c_str(), c.mode, c.device), 0);
    const ProcessResult r = Orvik({"SAVE", "HKCU\\Software\\Saved", c.name});
    EXPECT_EQ(r.exit_code, 1) << r.out;
    const struct stat after = Lstat(File(c.name));
    EXPECT_EQ(after.st_mode & S_IFMT, c.mode & S_IFMT);
    EXPECT_EQ(after.st_rdev, c.device);
  }
  EXPECT_EQ(Names(files_.path()), (std::vector<std::string>{"myfifo", "myfull", "mynull"}));
}

TEST_F(FileSafetyTest, RootFollowsNoLinkPlantedInASharedStickyDirectory) {
  Ok({"ADD", "HKCU\\Software\\Saved", "/v", "Name", "/d", "text"});
  const std::string shared = Directory("tmp", 0, 01777);
  const std::string victim = Directory("victim", kThirdUser, 0755) + "/own.txt";
  WriteFileBytes(victim, "the third user's own file");
  Chown(victim, kThirdUser);
  ASSERT_EQ(chmod(victim.c_str(), 0640), 0);
  // Planted by the unprivileged user, who owns neither the directory nor
  // the file the link names.
  for (const std::string name : {"out.reg", "out.hiv"}) {
    ASSERT_EQ(symlink(victim.c_str(), (shared + "/" + name).c_str()), 0);
    Chown(shared + "/" + name, kOtherUser);
  }
  const ProcessResult r = Orvik({"EXPORT", "HKCU\\Software\\Saved", shared + "/out.reg"});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  // SAVE replaces the link itself, as a move does.
  Orvik({"SAVE", "HKCU\\Software\\Saved", shared + "/out.hiv"});
  EXPECT_EQ(ReadFileBytes(victim), "the third user's own file");
  const struct stat info = Lstat(victim);
  EXPECT_EQ(info.st_uid, kThirdUser);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_TRUE(S_ISLNK(Lstat(shared + "/out.reg").st_mode));
  // A link of the directory's owner (or of the caller) is followed as before.
  const std::string own = Directory("own", 0, 0755) + "/target.reg";
  WriteFileBytes(own, "earlier");
  ASSERT_EQ(symlink(own.c_str(), (shared + "/mine.reg").c_str()), 0);
  Ok({"EXPORT", "HKCU\\Software\\Saved", shared + "/mine.reg"});
  EXPECT_NE(ReadFileBytes(own).find("REGEDIT4"), std::string::npos);
}

TEST_F(FileSafetyTest, FilesRootReplacesKeepTheirOwnerGroupAndMode) {
  Ok({"ADD", "HKCU\\Software\\Saved", "/v", "Name", "/d", "text"});
  const std::string dir = Directory("home", kOtherUser, 0755);
  WriteFileBytes(dir + "/out.reg", "old");
  MakeHive(dir + "/out.hiv", "old");
  MakeHive(dir + "/loaded.hiv", "old");
  for (const std::string name : {"out.reg", "out.hiv", "loaded.hiv"}) {
    Chown(dir + "/" + name, kOtherUser);
    ASSERT_EQ(chmod((dir + "/" + name).c_str(), 0640), 0);
  }
  Ok({"EXPORT", "HKCU\\Software\\Saved", dir + "/out.reg"});
  Ok({"SAVE", "HKCU\\Software\\Saved", dir + "/out.hiv"});
  Ok({"LOAD", "HKLM\\Loaded", dir + "/loaded.hiv"});
  Ok({"ADD", "HKLM\\Loaded", "/v", "New", "/d", "value"});
  Ok({"UNLOAD", "HKLM\\Loaded"});
  for (const std::string name : {"out.reg", "out.hiv", "loaded.hiv"}) {
    SCOPED_TRACE(name);
    const struct stat info = Lstat(dir + "/" + name);
    EXPECT_NE(ReadFileBytes(dir + "/" + name), "old");
    EXPECT_EQ(info.st_uid, kOtherUser);
    EXPECT_EQ(info.st_gid, kOtherUser);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
  }
}

TEST_F(FileSafetyTest, LoadRefusesTheRegistrysOwnFiles) {
  MakeHive(File("a.hiv"), "a");
  Ok({"LOAD", "HKLM\\A", "a.hiv"});
  std::string copy;
  for (const std::string& name : Names(registry_.path())) {
    if (name.rfind("loaded-hive-", 0) == 0) copy = registry_.path() + "/" + name;
  }
  ASSERT_FALSE(copy.empty());
  ASSERT_EQ(link(copy.c_str(), File("linked.hiv").c_str()), 0);
  for (const std::string& file : {copy, File("linked.hiv"), registry_.path() + "/registry.db"}) {
    SCOPED_TRACE(file);
    const ProcessResult r = Orvik({"LOAD", "HKLM\\B", file});
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_EQ(Orvik({"QUERY", "HKLM\\B"}).exit_code, 1);
  }
  // The first hive is whole and unloads.
  EXPECT_NE(Query("HKLM\\A").find("HKEY_LOCAL_MACHINE\\a\\sub"), std::string::npos);
  Ok({"ADD", "HKLM\\A", "/v", "New", "/d", "value"});
  Ok({"UNLOAD", "HKLM\\A"});
}

TEST_F(FileSafetyTest, ThePrivateCopyIsNoMoreReadableThanItsSource) {
  MakeHive(File("sam.hiv"), "secret");
  ASSERT_EQ(chmod(File("sam.hiv").c_str(), 0600), 0);
  // Others may read the registry itself.
  ASSERT_EQ(system(("chmod -R a+rX '" + registry_.path() + "'").c_str()), 0);
  Ok({"LOAD", "HKLM\\Sam", "sam.hiv"});
  for (const std::string& name : Names(registry_.path())) {
    if (name.rfind("loaded-hive-", 0) != 0) continue;
    EXPECT_EQ(Lstat(registry_.path() + "/" + name).st_mode & 0077, 0u) << name;
  }
  const ProcessResult r = Orvik({"QUERY", "HKLM\\Sam", "/s"}, true);
  EXPECT_EQ(r.out.find("secret"), std::string::npos) << r.out;
  EXPECT_NE(Query("HKLM\\Sam").find("secret"), std::string::npos);
  Ok({"UNLOAD", "HKLM\\Sam"});
}

TEST_F(FileSafetyTest, LoadRefusesAFileThatCouldNotBeWrittenBack) {
  // The unprivileged user's own registry, where that user holds the
  // privileges.
  const std::string registry = OtherUsersRegistry();
  const std::string sticky = Directory("tmp", 0, 01777);
  const std::string home = Directory("home", kOtherUser, 0755);
  MakeHive(sticky + "/roots.hiv", "root's");
  ASSERT_EQ(chmod((sticky + "/roots.hiv").c_str(), 0644), 0);
  MakeHive(sticky + "/writable.hiv", "root's, writable by all");
  ASSERT_EQ(chmod((sticky + "/writable.hiv").c_str(), 0666), 0);
  MakeHive(home + "/readonly.hiv", "the user's, read-only");
  Chown(home + "/readonly.hiv", kOtherUser);
  ASSERT_EQ(chmod((home + "/readonly.hiv").c_str(), 0444), 0);
  MakeHive(home + "/mine.hiv", "the user's");
  Chown(home + "/mine.hiv", kOtherUser);
  for (const std::string& file :
       {sticky + "/roots.hiv", sticky + "/writable.hiv", home + "/readonly.hiv"}) {
    SCOPED_TRACE(file);
    const ProcessResult r = Orvik({"LOAD", "HKLM\\H", file}, true, registry);
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_EQ(Orvik({"QUERY", "HKLM\\H"}, true, registry).exit_code, 1);
  }
  ProcessResult r = Orvik({"LOAD", "HKLM\\H", home + "/mine.hiv"}, true, registry);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = Orvik({"ADD", "HKLM\\H", "/v", "New", "/d", "value"}, true, registry);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = Orvik({"UNLOAD", "HKLM\\H"}, true, registry);
  EXPECT_EQ(r.exit_code, 0) << r.out;
}

TEST_F(FileSafetyTest, SpecialFilesAreRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo(File("fifo.hiv").c_str(), 0666), 0);
  for (const std::string op : {"LOAD", "RESTORE"}) {
    SCOPED_TRACE(op);
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.cwd = files_.path();
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult r =
        RunProgram("/usr/bin/timeout", {"5", OrvikPath(), op, "HKLM\\Fifo", "fifo.hiv"}, options);
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  }
  EXPECT_TRUE(S_ISFIFO(Lstat(File("fifo.hiv")).st_mode));
}

TEST_F(FileSafetyTest, ASparseFileIsCopiedOnlyAsFarAsItsHiveGoes) {
  MakeHive(File("sparse.hiv"), "small");
  const off_t hive_size = Lstat(File("sparse.hiv")).st_size;
  ASSERT_EQ(truncate(File("sparse.hiv").c_str(), off_t{2} << 30), 0);
  Ok({"LOAD", "HKLM\\Sparse", "sparse.hiv"});
  for (const std::string& name : Names(registry_.path())) {
    if (name.rfind("loaded-hive-", 0) != 0) continue;
    const struct stat copy = Lstat(registry_.path() + "/" + name);
    EXPECT_EQ(copy.st_size, hive_size) << name;
    EXPECT_LE(copy.st_blocks * 512, hive_size + 65536) << name;
  }
  EXPECT_NE(Query("HKLM\\Sparse").find("small"), std::string::npos);
  Ok({"UNLOAD", "HKLM\\Sparse"});
}

// The files of `directory` but `kept` (and the log UNLOAD keeps beside it,
// as Windows does) that are not complete hives: a run killed in the moment
// between naming its complete file and moving it into place may leave one of
// those, never a part of one.
std::vector<std::string> PartialFiles(const std::string& directory, const std::string& kept) {
  std::vector<std::string> partial;
  for (const std::string& name : Names(directory)) {
    if (name == kept || name == kept + ".LOG1") continue;
    std::unique_ptr<posix::hive::HiveReader> reader;
    std::vector<posix::hive::HashRepair> repairs;
    if (posix::hive::HiveReader::Open(directory + "/" + name, &reader) != ERROR_SUCCESS ||
        posix::hive::CheckHiveTree(*reader, &repairs) != ERROR_SUCCESS) {
      partial.push_back(name);
    }
  }
  return partial;
}

// Runs `args` again and again, each killed a little later than the last,
// until one run ends by itself.
void KillAtEveryMoment(const std::string& registry, const std::vector<std::string>& args,
                       const std::function<void()>& before_each) {
  for (int delay = 1; delay < 2000; delay += 1 + delay / 4) {
    before_each();
    if (!KillOrvikAfter(registry, args, std::chrono::milliseconds(delay))) return;
  }
  ADD_FAILURE() << "every run was killed";
}

TEST_F(FileSafetyTest, KilledRunsLeaveNoScratchFiles) {
  // A hive of some size, so that writing it takes a while.
  std::string blob;
  for (int i = 0; i < 30000; ++i) blob += "0a1b";
  for (int k = 0; k < 60; ++k) {
    Ok({"ADD", "HKCU\\Software\\Big\\K" + std::to_string(k), "/v", "Blob", "/t", "REG_BINARY", "/d",
        blob});
  }
  const std::string dir = Directory("out", 0, 0755);
  // SAVE over an earlier file.
  Ok({"SAVE", "HKCU\\Software\\Big", dir + "/big.hiv"});
  KillAtEveryMoment(registry_.path(), {"SAVE", "HKCU\\Software\\Big", dir + "/big.hiv"}, [] {});
  EXPECT_EQ(PartialFiles(dir, "big.hiv"), std::vector<std::string>{});
  // UNLOAD after a change.
  // A run killed before its end is run again, as a user would.
  KillAtEveryMoment(registry_.path(), {"UNLOAD", "HKLM\\Big"}, [&] {
    if (Orvik({"QUERY", "HKLM\\Big"}).exit_code == 0) return;
    Ok({"LOAD", "HKLM\\Big", dir + "/big.hiv"});
    Ok({"ADD", "HKLM\\Big", "/v", "Changed", "/d", std::to_string(rand())});
  });
  EXPECT_EQ(PartialFiles(dir, "big.hiv"), std::vector<std::string>{});
  // Leftovers of others block no SAVE.
  for (int i = 0; i < 120; ++i) {
    WriteFileBytes(dir + "/new.hiv.saving" + (i == 0 ? "" : std::to_string(i)), "left");
  }
  Ok({"SAVE", "HKCU\\Software\\Big", dir + "/new.hiv"});
}

TEST_F(FileSafetyTest, UnloadSaysWhenTheHivesFileIsNowADirectory) {
  MakeHive(File("h.hiv"), "data");
  Ok({"LOAD", "HKLM\\H", "h.hiv"});
  Ok({"ADD", "HKLM\\H", "/v", "New", "/d", "value"});
  ASSERT_EQ(rename(File("h.hiv").c_str(), File("h.old").c_str()), 0);
  ASSERT_EQ(mkdir(File("h.hiv").c_str(), 0755), 0);
  const ProcessResult r = Orvik({"UNLOAD", "HKLM\\H"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out.find("Access is denied"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("directory"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace orvik::test
