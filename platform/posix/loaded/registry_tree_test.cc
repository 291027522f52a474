// A hive served in place: what the store keeps of it, how its keys answer
// once some of them changed, and what unloading leaves behind.
#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/key_removal.h"
#include "platform/posix/calls/token.h"
#include "platform/posix/store/store_location.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::WriteFileBytes;

class RegistryTreeTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    ResetPrivileges();
    ASSERT_TRUE(SetPrivilege(SE_BACKUP_NAME, true));
    ASSERT_TRUE(SetPrivilege(SE_RESTORE_NAME, true));
  }
  void TearDown() override {
    ResetPrivileges();
    RegistryTest::TearDown();
  }
  std::string File(const std::string& name) const { return files_.File(name); }

  // Saves this tree as `file` and removes it from the registry:
  //   (root) values R1, R2; subkeys b, d (values v1, v2; subkey deep), F.
  void MakeHive(const std::string& file) {
    HKEY root = Create(HKEY_CURRENT_USER, "Software\\Source");
    SetString(root, "R1", "one");
    SetString(root, "R2", "two");
    RegCloseKey(Create(root, "b"));
    HKEY d = Create(root, "d");
    SetString(d, "v1", "first");
    SetBytes(d, "v2", REG_BINARY, std::string(5000, '\x42'));
    RegCloseKey(Create(d, "deep"));
    RegCloseKey(d);
    RegCloseKey(Create(root, "F"));
    ASSERT_EQ(RegSaveKeyA(root, file.c_str(), nullptr), ERROR_SUCCESS);
    RegCloseKey(root);
    for (const char* path : {"d\\deep", "d", "b", "F", ""}) {
      ASSERT_EQ(
          RegDeleteKeyA(HKEY_CURRENT_USER, (std::string("Software\\Source\\") + path).c_str()),
          ERROR_SUCCESS)
          << path;
    }
  }

  // A number the store's database gives for `sql`, read with a connection
  // of its own while the registry is closed.
  int64_t Count(const std::string& sql) {
    CloseRegistryStore();
    sqlite3* db = nullptr;
    int64_t result = -1;
    if (sqlite3_open_v2(DatabasePath(RegistryDir()).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* stmt = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
          sqlite3_step(stmt) == SQLITE_ROW) {
        result = sqlite3_column_int64(stmt, 0);
      }
      sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
  }
  void Exec(const std::string& sql) {
    CloseRegistryStore();
    sqlite3* db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(DatabasePath(RegistryDir()).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
        SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }

  // The private copies of loaded hives in the registry directory.
  std::vector<std::string> Copies() {
    std::vector<std::string> names;
    DIR* dir = opendir(RegistryDir().c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.starts_with("loaded-hive-")) names.push_back(name);
    }
    closedir(dir);
    return names;
  }

  int64_t LastWrite(HKEY base, const std::string& path) {
    HKEY key = nullptr;
    if (Open(base, path, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    FILETIME time{};
    const LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, &time);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return -1;
    return (static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  }

 private:
  orvik::test::TempDir files_;
};

TEST_F(RegistryTreeTest, ALoadedHiveIsReadFromAPrivateCopyAndLeavesNoRowsBehind) {
  const std::string file = File("tree.hiv");
  MakeHive(file);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_SUCCESS);
  // Only the key it is loaded under has a row, with the root's values.
  EXPECT_EQ(Count("SELECT count(*) FROM keys WHERE id < 0"), 1);
  EXPECT_EQ(Count("SELECT count(*) FROM vals WHERE key < 0"), 2);
  ASSERT_EQ(Copies().size(), 1u);

  // What happens to the file afterwards does not reach the loaded hive.
  const std::string original = ReadFileBytes(file);
  WriteFileBytes(file, std::string(original.size(), '\0'));
  HKEY d = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "H\\D", KEY_READ, &d), ERROR_SUCCESS);
  EXPECT_EQ(Get(d, "V1"), std::string("first", 6));
  EXPECT_EQ(Get(d, "v2"), std::string(5000, '\x42'));
  RegCloseKey(d);

  // Unloading an unchanged hive leaves the file as it is, and nothing of
  // the hive in the registry; another hive's copy stays, a copy no hive
  // uses (left by a killed unload) goes.
  const std::string other = File("other.hiv");
  WriteFileBytes(other, original);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Other", other.c_str()), ERROR_SUCCESS);
  WriteFileBytes(RegistryDir() + "/loaded-hive-999", "left over");
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_SUCCESS);
  EXPECT_EQ(ReadFileBytes(file), std::string(original.size(), '\0'));
  EXPECT_EQ(Copies().size(), 1u);
  HKEY other_d = nullptr;
  ASSERT_EQ(Open(HKEY_USERS, "Other\\d", KEY_READ, &other_d), ERROR_SUCCESS);
  EXPECT_EQ(Get(other_d, "v1"), std::string("first", 6));
  RegCloseKey(other_d);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_USERS, "Other"), ERROR_SUCCESS);
  EXPECT_TRUE(Copies().empty());
  EXPECT_EQ(Count("SELECT count(*) FROM keys WHERE id < 0"), 0);
  EXPECT_EQ(Count("SELECT count(*) FROM vals WHERE key < 0"), 0);
  HKEY gone = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "H", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTreeTest, ChangedKeysGetRowsAndListingsMergeWithTheFile) {
  const std::string file = File("tree.hiv");
  MakeHive(file);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_SUCCESS);
  const int64_t deep_time = LastWrite(HKEY_LOCAL_MACHINE, "H\\d\\deep");
  const int64_t f_time = LastWrite(HKEY_LOCAL_MACHINE, "H\\F");
  ASSERT_GT(deep_time, 0);

  HKEY h = Create(HKEY_LOCAL_MACHINE, "H");
  RegCloseKey(Create(h, "c"));
  RegCloseKey(Create(h, "A\\Below"));
  HKEY d = Create(h, "d");
  SetString(d, "v3", "third");
  SetString(d, "V1", "changed");
  EXPECT_EQ(RegDeleteKeyA(h, "b"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(h, "b"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Create(h, "B"));
  // A key with subkeys, and the key the hive is loaded under, stay.
  EXPECT_EQ(RegDeleteKeyA(h, "d"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(d, "missing"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(SubKeys(h), (std::vector<std::string>{"A", "B", "c", "d", "F"}));
  EXPECT_EQ(ValueNames(d), (std::vector<std::string>{"v1", "v2", "v3"}));
  EXPECT_EQ(Get(d, "v1"), std::string("changed", 8));
  DWORD subkeys = 0;
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 5u);
  EXPECT_EQ(values, 2u);
  RegCloseKey(d);
  RegCloseKey(h);
  // Keys that did not change keep the file's times.
  EXPECT_EQ(LastWrite(HKEY_LOCAL_MACHINE, "H\\d\\deep"), deep_time);
  EXPECT_EQ(LastWrite(HKEY_LOCAL_MACHINE, "H\\F"), f_time);
  // Rows for the root, d, and the removed b (a mark); A, Below, B, c are new.
  EXPECT_EQ(Count("SELECT count(*) FROM keys WHERE id < 0"), 2);
  EXPECT_EQ(Count("SELECT count(*) FROM removed_hive_keys"), 1);

  // The file gets exactly that tree back.
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_SUCCESS);
  EXPECT_EQ(Count("SELECT count(*) FROM keys WHERE id < 0 OR parent < 0"), 0);
  EXPECT_EQ(Count("SELECT count(*) FROM removed_hive_keys"), 0);
  HKEY a = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "A", KEY_READ, &a), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Again", file.c_str()), ERROR_SUCCESS);
  HKEY again = nullptr;
  ASSERT_EQ(Open(HKEY_USERS, "Again", KEY_READ, &again), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(again), (std::vector<std::string>{"A", "B", "c", "d", "F"}));
  RegCloseKey(again);
  EXPECT_EQ(LastWrite(HKEY_USERS, "Again\\d\\deep"), deep_time);
  HKEY below = nullptr;
  EXPECT_EQ(Open(HKEY_USERS, "Again\\a\\below", KEY_READ, &below), ERROR_SUCCESS);
  RegCloseKey(below);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_USERS, "Again"), ERROR_SUCCESS);
}

TEST_F(RegistryTreeTest, KeysThatAreNeverRemovedAreKnownBeforeAnythingIsRemoved) {
  const std::string file = File("tree.hiv");
  MakeHive(file);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "H", file.c_str()), ERROR_SUCCESS);
  HKEY hive = Create(HKEY_USERS, "H");
  struct Case {
    HKEY base;
    const char* path;
    LONG removable;
  };
  const Case cases[] = {
      {HKEY_USERS, "H", ERROR_ACCESS_DENIED},
      {HKEY_USERS, "h\\", ERROR_ACCESS_DENIED},
      {hive, "", ERROR_ACCESS_DENIED},
      {HKEY_USERS, "", ERROR_ACCESS_DENIED},
      {HKEY_USERS, "H\\d", ERROR_SUCCESS},
      {hive, "d\\deep", ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", ERROR_SUCCESS},
      {HKEY_USERS, "Missing", ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyRemovable(c.base, c.path), c.removable) << (c.base == hive ? "H\\" : "") << c.path;
  }
  EXPECT_EQ(SubKeys(hive), (std::vector<std::string>{"b", "d", "F"}));
  RegCloseKey(hive);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_USERS, "H"), ERROR_SUCCESS);
}

TEST_F(RegistryTreeTest, HandlesIntoAnUnloadedHiveFindItGoneEvenWhenItIsLoadedAgain) {
  const std::string file = File("tree.hiv");
  MakeHive(file);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_SUCCESS);
  HKEY d = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "H\\d", KEY_ALL_ACCESS, &d), ERROR_SUCCESS);
  EXPECT_EQ(Get(d, "v1"), std::string("first", 6));
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_SUCCESS);
  EXPECT_EQ(Get(d, "v1"), "<error " + std::to_string(ERROR_KEY_DELETED) + ">");
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Get(d, "v1"), "<error " + std::to_string(ERROR_KEY_DELETED) + ">");
  EXPECT_EQ(RegSetValueExA(d, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2),
            ERROR_KEY_DELETED);
  RegCloseKey(d);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_SUCCESS);
  EXPECT_TRUE(Copies().empty());
}

TEST_F(RegistryTreeTest, TheDepthLimitCountsTheHivesLevels) {
  // HKLM\H\d\deep is 3 levels below HKLM; 509 more make 512.
  const std::string file = File("tree.hiv");
  MakeHive(file);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_SUCCESS);
  std::string path = "H\\d\\deep";
  for (int i = 0; i < 509; ++i) path += "\\k";
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (path + "\\k").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SubKeys(Create(HKEY_LOCAL_MACHINE, "H\\d\\deep")), std::vector<std::string>{});
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTreeTest, AHiveOnAnotherKindOfFileSystemLoads) {
  // The kernel copies only between file systems of one kind; the copy
  // falls back to reading and writing.
  struct statfs shm {};
  struct statfs here {};
  const std::string file = File("tree.hiv");
  MakeHive(file);
  ASSERT_EQ(statfs(file.c_str(), &here), 0);
  if (statfs("/dev/shm", &shm) != 0 || shm.f_type == here.f_type || access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no file system of another kind at /dev/shm";
  }
  const std::string elsewhere = "/dev/shm/orvik-tree-" + std::to_string(getpid()) + ".hiv";
  WriteFileBytes(elsewhere, ReadFileBytes(file));
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", elsewhere.c_str()), ERROR_SUCCESS);
  HKEY d = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "H\\d", KEY_READ, &d), ERROR_SUCCESS);
  EXPECT_EQ(Get(d, "v2"), std::string(5000, '\x42'));
  RegCloseKey(d);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_SUCCESS);
  unlink(elsewhere.c_str());
}

TEST_F(RegistryTreeTest, AHiveCopiedIntoRowsByAnEarlierVersionStillUnloads) {
  HKEY old = Create(HKEY_LOCAL_MACHINE, "Old");
  SetString(old, "kept", "value");
  RegCloseKey(Create(old, "Sub"));
  RegCloseKey(old);
  const std::string file = File("old.hiv");
  // The record as that version made it; its digest matches no tree.
  Exec(
      "CREATE TABLE hives(key INTEGER PRIMARY KEY, file BLOB NOT NULL, device INTEGER NOT NULL, "
      "inode INTEGER NOT NULL, root_name BLOB NOT NULL, digest BLOB NOT NULL);"
      "INSERT INTO hives SELECT id, CAST('" +
      file +
      "' AS BLOB), 0, 0, CAST(x'4f006c006400' AS BLOB), x'00' "
      "FROM keys WHERE parent=3 AND name=x'4f006c006400';");
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Old"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "Old", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Back", file.c_str()), ERROR_SUCCESS);
  HKEY back = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Back", KEY_READ, &back), ERROR_SUCCESS);
  EXPECT_EQ(Get(back, "kept"), std::string("value", 6));
  EXPECT_EQ(SubKeys(back), std::vector<std::string>{"Sub"});
  RegCloseKey(back);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Back"), ERROR_SUCCESS);
}

}  // namespace
}  // namespace orvik::posix
