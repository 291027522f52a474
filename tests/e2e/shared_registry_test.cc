// End-to-end tests of a registry that a group shares: a directory its group
// may write, with the setgid bit, owned by one member. Every member reads and
// writes it; nobody else uses it; and no member can make another member's
// run open a file that is not the registry's own.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

namespace fs = std::filesystem;

constexpr int kOwner = 4241;     // owns the directory, a member
constexpr int kGroup = 4242;     // the group that shares it
constexpr int kMember = 4243;    // another member
constexpr int kOutsider = 4244;  // not in the group

const char kUnsafe[] =
    "Error: The registry directory belongs to another user or may be written by others.";
const char kLinked[] = "Error: A file of the registry is a symbolic link or not a regular file.";
const char kForeign[] =
    "Error: A file in the shared registry directory has another name elsewhere or is not of the "
    "directory's group.";

class SharedRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
    registry_ = parent_.File("reg");
    ASSERT_EQ(mkdir(registry_.c_str(), 0700), 0);
    ASSERT_EQ(chown(registry_.c_str(), kOwner, kGroup), 0);
    ASSERT_EQ(chmod(registry_.c_str(), 02770), 0);
    ASSERT_EQ(chmod(files_.path().c_str(), 0777), 0);
  }

  // Runs orvik as `user`, the members with the group among their groups.
  ProcessResult As(int user, const std::vector<std::string>& args) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_}};
    options.cwd = files_.path();
    options.as_unprivileged_user = true;
    options.unprivileged_uid = user;
    if (user != kOutsider) options.groups = {kGroup};
    return RunProgram(OrvikPath(), args, options);
  }
  void Ok(int user, const std::vector<std::string>& args) {
    const ProcessResult r = As(user, args);
    ASSERT_EQ(r.exit_code, 0) << args.front() << ": " << r.out;
  }
  std::string InRegistry(const std::string& name) const { return registry_ + "/" + name; }
  std::string File(const std::string& name) const { return files_.File(name); }

  TempDir parent_;
  TempDir files_;
  std::string registry_;
};

TEST_F(SharedRegistryTest, EveryMemberReadsAndWritesItAndNobodyElseUsesIt) {
  // The group keeps its rights to the files whatever the umask of the
  // member who made them.
  const mode_t saved = umask(077);
  const ProcessResult first =
      As(kOwner, {"ADD", "HKCU\\Software\\Shared", "/v", "by", "/d", "owner"});
  umask(saved);
  ASSERT_EQ(first.exit_code, 0) << first.out;
  for (const char* name :
       {"registry.db", "registry.db-wal", "registry.db-shm", "registry.changes"}) {
    struct stat info {};
    ASSERT_EQ(stat(InRegistry(name).c_str(), &info), 0) << name;
    EXPECT_EQ(info.st_gid, static_cast<gid_t>(kGroup)) << name;
    EXPECT_EQ(info.st_mode & 0660, 0660u) << name;
  }

  Ok(kMember, {"ADD", "HKCU\\Software\\Shared", "/v", "also", "/d", "member"});
  for (const int user : {kOwner, kMember}) {
    const ProcessResult r = As(user, {"QUERY", "HKCU\\Software\\Shared"});
    EXPECT_EQ(r.exit_code, 0) << user;
    EXPECT_NE(r.out.find("by REG_SZ  owner"), std::string::npos) << user << r.out;
    EXPECT_NE(r.out.find("also REG_SZ  member"), std::string::npos) << user << r.out;
  }
  const ProcessResult outsider = As(kOutsider, {"QUERY", "HKCU\\Software\\Shared"});
  EXPECT_EQ(outsider.exit_code, 1);
  EXPECT_EQ(outsider.out, Report(kUnsafe));

  // Without the setgid bit the files would take their makers' groups: the
  // directory is refused to everyone.
  ASSERT_EQ(chmod(registry_.c_str(), 0770), 0);
  for (const int user : {kOwner, kMember}) {
    const ProcessResult r = As(user, {"QUERY", "HKCU\\Software\\Shared"});
    EXPECT_EQ(r.exit_code, 1) << user;
    EXPECT_EQ(r.out, Report(kUnsafe)) << user;
  }
}

TEST_F(SharedRegistryTest, AMemberCannotPutAnotherFileInPlaceOfTheRegistrys) {
  Ok(kOwner, {"ADD", "HKCU\\Software\\Shared", "/v", "by", "/d", "owner"});
  // A file of the owner's outside the registry, that the group may write.
  const std::string victim = parent_.File("victim");
  WriteFileBytes(victim, std::string(4096, 'p'));
  ASSERT_EQ(chown(victim.c_str(), kOwner, kGroup), 0);
  ASSERT_EQ(chmod(victim.c_str(), 0660), 0);
  const std::string counter = InRegistry("registry.changes");
  const std::string counter_bytes = ReadFileBytes(counter);

  struct Case {
    const char* what;
    std::string planted;  // the file a member puts in place
    const char* refusal;
  };
  const Case cases[] = {
      {"a symbolic link", counter, kLinked},
      {"a second name of another file", counter, kForeign},
      {"a file of another group", counter, kForeign},
      {"a rollback journal that is a link", InRegistry("registry.db-journal"), kLinked},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string what = c.what;
    fs::remove(c.planted);
    if (what == "a second name of another file") {
      ASSERT_EQ(link(victim.c_str(), c.planted.c_str()), 0);
    } else if (what == "a file of another group") {
      WriteFileBytes(c.planted, counter_bytes);
      ASSERT_EQ(chown(c.planted.c_str(), kMember, kMember), 0);
      ASSERT_EQ(chmod(c.planted.c_str(), 0666), 0);
    } else {
      fs::create_symlink(victim, c.planted);
    }
    for (const int user : {kOwner, kMember}) {
      const ProcessResult r = As(user, {"ADD", "HKCU\\Software\\Shared", "/v", "x", "/d", "x"});
      EXPECT_EQ(r.exit_code, 1) << user;
      EXPECT_EQ(r.out, Report(c.refusal)) << user;
    }
    EXPECT_EQ(ReadFileBytes(victim), std::string(4096, 'p'));
    // The registry's own file back in place.
    fs::remove(c.planted);
    if (c.planted == counter) {
      WriteFileBytes(counter, counter_bytes);
      ASSERT_EQ(chown(counter.c_str(), kOwner, kGroup), 0);
      ASSERT_EQ(chmod(counter.c_str(), 0660), 0);
    }
    Ok(kMember, {"QUERY", "HKCU\\Software\\Shared"});
  }
}

TEST_F(SharedRegistryTest, ALoadedHiveIsServedOnlyFromItsOwnCopy) {
  // Two hives of the owner's; the second holds what no member may see. The
  // subkeys are read from the file (the key a hive is loaded under is a row
  // of the database).
  Ok(kOwner, {"ADD", "HKCU\\Software\\Tree\\Sub", "/v", "v", "/d", "loaded"});
  Ok(kOwner, {"SAVE", "HKCU\\Software\\Tree", "tree.hiv"});
  // The group may read the file, so it may read the hive's private copy.
  ASSERT_EQ(chown(File("tree.hiv").c_str(), kOwner, kGroup), 0);
  ASSERT_EQ(chmod(File("tree.hiv").c_str(), 0640), 0);
  Ok(kOwner, {"ADD", "HKCU\\Software\\Private\\Sub", "/v", "v", "/d", "secret"});
  Ok(kOwner, {"SAVE", "HKCU\\Software\\Private", "private.hiv"});
  Ok(kOwner, {"DELETE", "HKCU\\Software\\Private"});
  Ok(kOwner, {"LOAD", "HKLM\\Hive", "tree.hiv"});
  const std::string copy = InRegistry("loaded-hive-1");
  ASSERT_TRUE(fs::exists(copy));

  // The database names another file as the copy: a member may write the
  // database, but the copy's name is the registry's own.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(InRegistry("registry.db").c_str(), &db), SQLITE_OK);
    const std::string sql =
        "UPDATE loaded_hives SET copy=CAST('" + File("private.hiv") + "' AS BLOB)";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  for (const int user : {kOwner, kMember}) {
    const ProcessResult r = As(user, {"QUERY", "HKLM\\Hive", "/s"});
    EXPECT_EQ(r.exit_code, 0) << user << r.out;
    EXPECT_NE(r.out.find("v REG_SZ  loaded"), std::string::npos) << user << r.out;
  }

  // The copy itself replaced by a link, or by a second name of the file.
  const std::string corrupt =
      "Error: The registry is corrupted. The structure of one of the files containing "
      "registry data is corrupted, or the system's memory image of the file is corrupted, or "
      "the file could not be recovered because the alternate copy or log was absent or "
      "corrupted.";
  const std::string kept = parent_.File("kept-copy");
  fs::rename(copy, kept);
  for (const bool symbolic : {true, false}) {
    SCOPED_TRACE(symbolic ? "a symbolic link" : "a second name");
    ASSERT_EQ(chown(File("private.hiv").c_str(), kOwner, kGroup), 0);
    if (symbolic) {
      fs::create_symlink(File("private.hiv"), copy);
    } else {
      ASSERT_EQ(link(File("private.hiv").c_str(), copy.c_str()), 0);
    }
    for (const int user : {kOwner, kMember}) {
      const ProcessResult r = As(user, {"QUERY", "HKLM\\Hive\\Sub"});
      EXPECT_EQ(r.exit_code, 1) << user;
      EXPECT_EQ(r.out, Report(corrupt)) << user;
    }
    fs::remove(copy);
  }
  fs::rename(kept, copy);
  Ok(kOwner, {"UNLOAD", "HKLM\\Hive"});
}

TEST_F(SharedRegistryTest, AForgedRecordNeverGetsAFileThatHoldsNoHiveWrittenOver) {
  // The owner loads a hive and changes it; a member, who may write the
  // database, points its record at the owner's notes, identity and all.
  Ok(kOwner, {"ADD", "HKCU\\Software\\Tree\\Sub", "/v", "v", "/d", "loaded"});
  Ok(kOwner, {"SAVE", "HKCU\\Software\\Tree", "tree.hiv"});
  Ok(kOwner, {"LOAD", "HKLM\\Hive", "tree.hiv"});
  Ok(kOwner, {"ADD", "HKLM\\Hive", "/v", "New", "/d", "value"});
  const std::string notes = File("notes.txt");
  WriteFileBytes(notes, "the owner's notes");
  ASSERT_EQ(chown(notes.c_str(), kOwner, kGroup), 0);
  struct stat info {};
  ASSERT_EQ(stat(notes.c_str(), &info), 0);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(InRegistry("registry.db").c_str(), &db), SQLITE_OK);
    const std::string sql = "UPDATE loaded_hives SET file='" + notes +
                            "', device=" + std::to_string(info.st_dev) +
                            ", inode=" + std::to_string(info.st_ino);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  const ProcessResult r = As(kOwner, {"UNLOAD", "HKLM\\Hive"});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(ReadFileBytes(notes), "the owner's notes");
}

}  // namespace
}  // namespace orvik::test
