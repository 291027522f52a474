// The store against a hostile or careless setting: symbolic links and other
// users in the registry directory, directory names that look like URIs, a
// database of another program, a full disk, and the home directory when the
// environment names none.
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pwd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/store/store_location.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

namespace fs = std::filesystem;
using orvik::test::ProcessResult;
using orvik::test::ReadFileBytes;
using orvik::test::RunOptions;
using orvik::test::RunProgram;
using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

constexpr uid_t kOtherUser = 65534;  // nobody, the unprivileged user of the tests

// The result code the registry tool prints, as a number.
std::string Code(LONG code) { return std::to_string(code) + "\n"; }

class StoreSafetyTest : public RegistryTest {
 protected:
  // Runs the registry tool on `directory` (named by ORVIK_REGISTRY unless
  // `home` is given: then it is found from HOME).
  ProcessResult Tool(const std::vector<std::string>& args, const std::string& directory,
                     const std::string& home = "", bool as_nobody = false) {
    RunOptions options;
    if (home.empty()) {
      options.env = {{"ORVIK_REGISTRY", directory}};
    } else {
      options.env = {{"HOME", home}};
      options.unset_env = {"ORVIK_REGISTRY", "XDG_DATA_HOME"};
    }
    options.as_unprivileged_user = as_nobody;
    return RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool", args, options);
  }
  ProcessResult Tool(const std::vector<std::string>& args) { return Tool(args, RegistryDir()); }

  // Creates a key, which sets the registry up, and closes the store again.
  void SetUpRegistry(const std::string& directory) {
    ASSERT_EQ(Tool({"create", "HKCU\\Software\\Kept", "0xF003F"}, directory).out, "0\n");
    ASSERT_EQ(Tool({"set", "HKCU\\Software\\Kept", "v", "kept"}, directory).out, "0\n");
  }
};

uid_t OwnerOf(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

// ---- Symbolic links ---------------------------------------------------------------------

TEST_F(StoreSafetyTest, NoFileOfTheRegistryIsOpenedThroughALink) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir elsewhere;
  const std::string victim = elsewhere.File("victim");
  for (const char* name :
       {"registry.changes", "registry.db", "registry.db-wal", "registry.db-shm"}) {
    SCOPED_TRACE(name);
    for (const bool new_registry : {true, false}) {
      TempDir parent;
      const std::string dir = parent.File("reg");
      if (new_registry) {
        fs::create_directory(dir);
      } else {
        SetUpRegistry(dir);
        fs::remove(dir + "/" + name);
      }
      WriteFileBytes(victim, "precious");
      fs::create_symlink(victim, dir + "/" + name);
      EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir).out,
                Code(ORVIK_ERROR_REGISTRY_FILE_LINKED));
      EXPECT_EQ(Tool({"open", "HKCU\\Software", "0x20019"}, dir).out,
                Code(ORVIK_ERROR_REGISTRY_FILE_LINKED));
      EXPECT_EQ(ReadFileBytes(victim), "precious");
      // A link to a file that is not there creates nothing.
      fs::remove(victim);
      EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir).out,
                Code(ORVIK_ERROR_REGISTRY_FILE_LINKED));
      EXPECT_FALSE(fs::exists(victim));
    }
  }
}

TEST_F(StoreSafetyTest, ALinkOnTheWayToTheDirectoryIsTheUsersChoice) {
  TempDir parent;
  fs::create_directory(parent.File("real"));
  fs::create_directory_symlink(parent.File("real"), parent.File("link"));
  SetUpRegistry(parent.File("link") + "/reg");
  EXPECT_TRUE(fs::exists(parent.File("real") + "/reg/registry.db"));
  fs::create_directory_symlink(parent.File("real") + "/reg", parent.File("reg-link"));
  EXPECT_EQ(Tool({"read", "HKCU\\Software\\Kept", "v"}, parent.File("reg-link")).out,
            std::string("kept\0\n", 6));
}

// ---- Other users' directories -------------------------------------------------------

TEST_F(StoreSafetyTest, AnotherUsersOrAWorldWritableDirectoryIsRefused) {
  if (!orvik::test::CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  const LONG refused = ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY;
  // A home directory that belongs to another user, as with sudo keeping HOME.
  TempDir home;
  const std::string dir = home.path() + "/.local/share/orvik/registry";
  fs::create_directories(dir);
  for (const std::string& path : {home.path() + "/.local", home.path() + "/.local/share",
                                  home.path() + "/.local/share/orvik", dir}) {
    ASSERT_EQ(chown(path.c_str(), kOtherUser, kOtherUser), 0);
  }
  ASSERT_EQ(chown(home.path().c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, "", home.path()).out, Code(refused));
  EXPECT_TRUE(fs::is_empty(dir)) << "nothing touched";

  // A directory of a third user is refused to an unprivileged user even
  // when named.
  ASSERT_EQ(chown(dir.c_str(), 12345, 12345), 0);
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir, "", true).out, Code(refused));
  EXPECT_EQ(Tool({"open", "HKCU\\Software", "0x20019"}, dir, "", true).out, Code(refused));

  // A directory others may write is refused to everyone.
  TempDir open_parent;
  const std::string open_dir = open_parent.File("reg");
  fs::create_directory(open_dir);
  chmod(open_dir.c_str(), 01777);
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, open_dir).out, Code(refused));
  EXPECT_EQ(Tool({"open", "HKCU\\Software", "0x20019"}, open_dir, "", true).out, Code(refused));
  EXPECT_TRUE(fs::is_empty(open_dir));

  // A directory owned by root serves every user.
  TempDir shared;
  SetUpRegistry(shared.File("reg"));
  EXPECT_EQ(Tool({"open", "HKCU\\Software\\Kept", "0x20019"}, shared.File("reg"), "", true).out,
            "0\n");
}

TEST_F(StoreSafetyTest, RootInANamedUserRegistryLeavesItsFilesToThatUser) {
  if (!orvik::test::CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  TempDir parent;
  const std::string dir = parent.File("reg");
  fs::create_directory(dir);
  ASSERT_EQ(chown(dir.c_str(), kOtherUser, kOtherUser), 0);
  // Set up by root, and the counter file recreated by root later.
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\ByRoot", "0xF003F"}, dir).out, "0\n");
  fs::remove(dir + "/registry.changes");
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\ByRootAgain", "0xF003F"}, dir).out, "0\n");
  for (const char* name :
       {"registry.db", "registry.db-wal", "registry.db-shm", "registry.changes"}) {
    EXPECT_EQ(OwnerOf(dir + "/" + name), kOtherUser) << name;
  }
  // The owner can still write.
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\ByOwner", "0xF003F"}, dir, "", true).out, "0\n");
  // Even named, a link is not followed.
  TempDir elsewhere;
  fs::remove(dir + "/registry.changes");
  fs::create_symlink(elsewhere.File("victim"), dir + "/registry.changes");
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir).out,
            Code(ORVIK_ERROR_REGISTRY_FILE_LINKED));
  EXPECT_FALSE(fs::exists(elsewhere.File("victim")));
}

// ---- Names and foreign databases ----------------------------------------------------

TEST_F(StoreSafetyTest, ADirectoryNameIsAlwaysAPath) {
  TempDir cwd;
  const std::string absolute = cwd.File("abs");
  const std::string names[] = {"file:mem?mode=memory&x=", "file:" + absolute};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", name}};
    options.cwd = cwd.path();
    const std::string tool = orvik::test::BuildDir() + "/orvik-registry-tool";
    ASSERT_EQ(RunProgram(tool, {"create", "HKCU\\Software\\Uri", "0xF003F"}, options).out, "0\n");
    ASSERT_EQ(RunProgram(tool, {"set", "HKCU\\Software\\Uri", "v", "kept"}, options).out, "0\n");
    // The changes are on disk, in one directory by that name.
    EXPECT_EQ(RunProgram(tool, {"read", "HKCU\\Software\\Uri", "v"}, options).out,
              std::string("kept\0\n", 6));
    EXPECT_TRUE(fs::exists(cwd.path() + "/" + name + "/registry.db"));
    EXPECT_TRUE(fs::exists(cwd.path() + "/" + name + "/registry.changes"));
  }
  EXPECT_FALSE(fs::exists(absolute));
}

// Makes a database with one table of another program.
void MakeForeignDatabase(const std::string& path, int user_version) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string sql =
      "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine');"
      "PRAGMA user_version=" +
      std::to_string(user_version);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST_F(StoreSafetyTest, ADatabaseOfAnotherProgramIsLeftAlone) {
  for (const int user_version : {0, 1}) {
    SCOPED_TRACE(user_version);
    TempDir parent;
    const std::string dir = parent.File("reg");
    fs::create_directory(dir);
    MakeForeignDatabase(dir + "/registry.db", user_version);
    const std::string before = ReadFileBytes(dir + "/registry.db");
    EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir).out,
              Code(ORVIK_ERROR_NOT_AN_ORVIK_REGISTRY));
    EXPECT_EQ(Tool({"open", "HKCU\\Software", "0x20019"}, dir).out,
              Code(ORVIK_ERROR_NOT_AN_ORVIK_REGISTRY));
    EXPECT_EQ(ReadFileBytes(dir + "/registry.db"), before);
    EXPECT_EQ(fs::directory_iterator(dir)->path().filename(), "registry.db") << "nothing added";
  }
}

// Reads a header field of a database.
int64_t Pragma(const std::string& path, const char* name) {
  sqlite3* db = nullptr;
  int64_t value = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("PRAGMA ") + name;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return value;
}

TEST_F(StoreSafetyTest, StoresCarryAnApplicationIdAndOlderStoresStillOpen) {
  SetUpRegistry(RegistryDir());
  const std::string db = DatabasePath(RegistryDir());
  EXPECT_EQ(Pragma(db, "application_id"), 0x4F52564B);
  // A store set up before stores carried the id.
  EXPECT_EQ(Pragma(db, "application_id=0"), -1);
  EXPECT_EQ(Pragma(db, "application_id"), 0);
  EXPECT_EQ(Tool({"read", "HKCU\\Software\\Kept", "v"}).out, std::string("kept\0\n", 6));
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\New", "0xF003F"}).out, "0\n");
}

// ---- A full disk ----------------------------------------------------------------------

// A small file system of its own, mounted for the test; skipped where the
// machine does not allow mounting.
class SmallFileSystem {
 public:
  SmallFileSystem() {
    if (geteuid() != 0) {
      why_not_ = "needs root";
      return;
    }
    if (mount("orvik-test", dir_.path().c_str(), "tmpfs", 0, "size=2m,mode=0755") != 0) {
      why_not_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why_not() const { return why_not_; }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Fills the file system to the last block.
  void Fill() {
    std::ofstream out(File("filler"), std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
    out.close();
    // Take what a smaller write still gets.
    std::ofstream rest(File("filler2"), std::ios::binary);
    while (rest.put('x') && rest.flush()) {
    }
  }
  void Free() {
    fs::remove(File("filler"));
    fs::remove(File("filler2"));
  }

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string why_not_;
};

TEST_F(StoreSafetyTest, AFullDiskIsReportedAndTheStoreStaysIntact) {
  SmallFileSystem disk;
  if (!disk.mounted()) GTEST_SKIP() << disk.why_not();
  const std::string dir = disk.File("reg");
  SetUpRegistry(dir);
  // The counter file is created on a full disk.
  fs::remove(dir + "/registry.changes");
  disk.Fill();
  const ProcessResult full = Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir);
  EXPECT_LT(full.exit_code, 128) << "killed by a signal";
  EXPECT_EQ(full.out, Code(ERROR_DISK_FULL));
  disk.Free();
  EXPECT_EQ(Tool({"read", "HKCU\\Software\\Kept", "v"}, dir).out, std::string("kept\0\n", 6));
  EXPECT_EQ(Tool({"create", "HKCU\\Software\\X", "0xF003F"}, dir).out, "0\n");
}

// ---- The home directory ---------------------------------------------------------------

TEST_F(StoreSafetyTest, WithoutHomeTheHomeDirectoryComesFromThePasswordDatabase) {
  const passwd* entry = getpwuid(geteuid());
  if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] == '\0') {
    GTEST_SKIP() << "this user has no home directory in the password database";
  }
  const std::string expected = std::string(entry->pw_dir) + "/.local/share/orvik/registry";
  const char* saved_home = std::getenv("HOME");
  const std::string home = saved_home != nullptr ? saved_home : "";
  const std::string saved_registry = RegistryDir();
  unsetenv("HOME");
  unsetenv("ORVIK_REGISTRY");
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::string saved_xdg = xdg != nullptr ? xdg : "";
  unsetenv("XDG_DATA_HOME");
  RegistryPlace place;
  const LONG found = FindRegistryDirectory(&place);
  if (saved_home != nullptr) setenv("HOME", home.c_str(), 1);
  if (xdg != nullptr) setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
  setenv("ORVIK_REGISTRY", saved_registry.c_str(), 1);
  ASSERT_EQ(found, ERROR_SUCCESS);
  EXPECT_EQ(place.directory, expected);
  EXPECT_FALSE(place.named);
}

}  // namespace
}  // namespace orvik::posix
