// RegSaveKeyA and RegRestoreKeyA over the store, the privileges they demand,
// and the file calls that go with them.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/calls/token.h"
#include "platform/posix/codepage.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_walk.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

using orvik::test::ReadFileBytes;
using orvik::test::WriteFileBytes;

// Every key of a hive file with its class, descriptor, time and values.
std::string Dump(const std::string& file) {
  class Dumper : public hive::HiveVisitor {
   public:
    LONG EnterKey(const hive::KeyNode& key, const std::u16string& c,
                  const std::string& s) override {
      out += "K " + (depth_++ == 0 ? std::string("(root)") : WideToUtf8(key.name)) + " " +
             WideToUtf8(c) + " " + std::to_string(s.size()) + ":" + s + " " +
             std::to_string(key.last_write) + "\n";
      return ERROR_SUCCESS;
    }
    LONG Value(const hive::ValueNode& value, const std::string& data) override {
      out += "V " + WideToUtf8(value.name) + " " + std::to_string(value.type) + " " + data + "\n";
      return ERROR_SUCCESS;
    }
    LONG LeaveKey(const hive::KeyNode&) override {
      --depth_;
      out += "E\n";
      return ERROR_SUCCESS;
    }
    std::string out;

   private:
    int depth_ = 0;
  };
  std::unique_ptr<hive::HiveReader> reader;
  if (LONG rc = hive::HiveReader::Open(file, &reader); rc != ERROR_SUCCESS) {
    return "error " + std::to_string(rc);
  }
  Dumper dumper;
  if (LONG rc = hive::WalkHive(*reader, dumper); rc != ERROR_SUCCESS) {
    return "error " + std::to_string(rc);
  }
  return dumper.out;
}

class RegHiveTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    ResetPrivileges();
  }
  void TearDown() override {
    ResetPrivileges();
    RegistryTest::TearDown();
  }
  void EnableBoth() {
    ASSERT_TRUE(SetPrivilege(SE_BACKUP_NAME, true));
    ASSERT_TRUE(SetPrivilege(SE_RESTORE_NAME, true));
  }
  std::string File(const std::string& name) const { return files_.File(name); }

  // A small tree with a class name, every kind of data and nested keys.
  HKEY MakeTree(const std::string& path) {
    HKEY key = Create(HKEY_CURRENT_USER, path);
    SetString(key, "", "default");
    SetString(key, "Path", "%windir%", REG_EXPAND_SZ);
    SetBytes(key, "Blob", REG_BINARY, std::string(30000, '\x5a'));
    SetBytes(key, "Empty", REG_BINARY, "");
    SetBytes(key, "Count", REG_DWORD, std::string("\x07\0\0\0", 4));
    SetBytes(key, "List", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    char class_name[] = "Secret";
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key, "Child\\Grandchild", 0, class_name, 0, KEY_ALL_ACCESS, nullptr,
                              &child, nullptr),
              ERROR_SUCCESS);
    SetString(child, "Deep", "value");
    RegCloseKey(child);
    RegCloseKey(Create(key, "Another"));
    return key;
  }

 private:
  orvik::test::TempDir files_;
};

TEST_F(RegHiveTest, PrivilegesAreLookedUpAndAdjusted) {
  LUID luid{};
  EXPECT_TRUE(LookupPrivilegeValueA(nullptr, "sebackupprivilege", &luid));
  EXPECT_EQ(luid.LowPart, kBackupPrivilege);
  EXPECT_TRUE(LookupPrivilegeValueA("", SE_RESTORE_NAME, &luid));
  EXPECT_EQ(luid.LowPart, kRestorePrivilege);
  EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));

  EXPECT_FALSE(PrivilegeEnabled(kBackupPrivilege));
  DWORD error = 0;
  EXPECT_TRUE(SetPrivilege(SE_BACKUP_NAME, true, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));  // the tests run as root
  EXPECT_TRUE(PrivilegeEnabled(kBackupPrivilege));
  EXPECT_FALSE(PrivilegeEnabled(kRestorePrivilege));
  EXPECT_TRUE(SetPrivilege(SE_BACKUP_NAME, false));
  EXPECT_FALSE(PrivilegeEnabled(kBackupPrivilege));

  // A token opened without the right to adjust cannot adjust.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES privileges{1, {{{kBackupPrivilege, 0}, SE_PRIVILEGE_ENABLED}}};
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(CloseHandle(token));
  // An unknown privilege is not assigned; the call still succeeds.
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  privileges.Privileges[0].Luid.LowPart = 99;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  CloseHandle(token);
}

TEST_F(RegHiveTest, SaveAndRestoreNeedTheirPrivilege) {
  HKEY key = MakeTree("Software\\Tree");
  EXPECT_EQ(RegSaveKeyA(key, File("a.hiv").c_str(), nullptr), ERROR_PRIVILEGE_NOT_HELD);
  ASSERT_TRUE(SetPrivilege(SE_BACKUP_NAME, true));
  EXPECT_EQ(RegSaveKeyA(key, File("a.hiv").c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegRestoreKeyA(key, File("a.hiv").c_str(), 0), ERROR_PRIVILEGE_NOT_HELD);
  ASSERT_TRUE(SetPrivilege(SE_RESTORE_NAME, true));
  EXPECT_EQ(RegRestoreKeyA(key, File("a.hiv").c_str(), 0), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegHiveTest, LoadAndUnloadNeedBothPrivileges) {
  HKEY key = MakeTree("Software\\Tree");
  ASSERT_TRUE(SetPrivilege(SE_BACKUP_NAME, true));
  ASSERT_EQ(RegSaveKeyA(key, File("a.hiv").c_str(), nullptr), ERROR_SUCCESS);
  RegCloseKey(key);
  const struct {
    bool backup;
    bool restore;
  } partial[] = {{false, false}, {true, false}, {false, true}};
  for (const auto& p : partial) {
    ResetPrivileges();
    ASSERT_TRUE(SetPrivilege(SE_BACKUP_NAME, p.backup));
    ASSERT_TRUE(SetPrivilege(SE_RESTORE_NAME, p.restore));
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Loaded", File("a.hiv").c_str()),
              ERROR_PRIVILEGE_NOT_HELD)
        << p.backup << p.restore;
  }
  EnableBoth();
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Loaded", File("a.hiv").c_str()), ERROR_SUCCESS);
  for (const auto& p : partial) {
    ResetPrivileges();
    ASSERT_TRUE(SetPrivilege(SE_BACKUP_NAME, p.backup));
    ASSERT_TRUE(SetPrivilege(SE_RESTORE_NAME, p.restore));
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Loaded"), ERROR_PRIVILEGE_NOT_HELD)
        << p.backup << p.restore;
  }
  EnableBoth();
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Loaded"), ERROR_SUCCESS);
}

TEST_F(RegHiveTest, RestoreThenSaveKeepsEverything) {
  EnableBoth();
  HKEY key = MakeTree("Software\\Tree");
  ASSERT_EQ(RegSaveKeyA(key, File("first.hiv").c_str(), nullptr), ERROR_SUCCESS);
  const std::string first = Dump(File("first.hiv"));
  ASSERT_NE(first.find("K Grandchild Secret"), std::string::npos) << first;
  ASSERT_NE(first.find("V Blob 3 " + std::string(30000, '\x5a')), std::string::npos);

  HKEY copy = Create(HKEY_CURRENT_USER, "Software\\Copy");
  ASSERT_EQ(RegRestoreKeyA(copy, File("first.hiv").c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(copy), (std::vector<std::string>{"Another", "Child"}));
  EXPECT_EQ(Get(copy, "Path"), std::string("%windir%", 9));
  ASSERT_EQ(RegSaveKeyA(copy, File("second.hiv").c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Dump(File("second.hiv")), first);
  // The restored key has the hive root's time, not the time of the restore.
  FILETIME time{};
  ASSERT_EQ(RegQueryInfoKeyA(copy, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, &time),
            ERROR_SUCCESS);
  const std::string root_line = first.substr(0, first.find('\n'));
  const uint64_t stamp = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  EXPECT_EQ(root_line.substr(root_line.rfind(' ') + 1), std::to_string(stamp));
  RegCloseKey(copy);
  RegCloseKey(key);
}

TEST_F(RegHiveTest, RestoreReplacesWhatTheKeyHeld) {
  EnableBoth();
  HKEY source = MakeTree("Software\\Tree");
  ASSERT_EQ(RegSaveKeyA(source, File("tree.hiv").c_str(), nullptr), ERROR_SUCCESS);
  HKEY target = Create(HKEY_CURRENT_USER, "Software\\Target");
  SetString(target, "Old", "gone");
  SetString(target, "Path", "replaced");
  HKEY old_child = Create(target, "OldChild\\Below");
  ASSERT_EQ(RegRestoreKeyA(target, File("tree.hiv").c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(Get(target, "Old"), "<error 2>");
  EXPECT_EQ(Get(target, "Path"), std::string("%windir%", 9));
  EXPECT_EQ(SubKeys(target), (std::vector<std::string>{"Another", "Child"}));
  // A handle to a key that went away sees that it went.
  EXPECT_EQ(Get(old_child, "x"), "<error 1018>");
  RegCloseKey(old_child);
  RegCloseKey(target);
  RegCloseKey(source);
}

TEST_F(RegHiveTest, AnInvalidFileLeavesTheKeyUnchanged) {
  EnableBoth();
  HKEY source = MakeTree("Software\\Tree");
  ASSERT_EQ(RegSaveKeyA(source, File("good.hiv").c_str(), nullptr), ERROR_SUCCESS);
  const std::string good = ReadFileBytes(File("good.hiv"));
  // Damage a value deep in the tree: the walk has changed much by then.
  std::string late = good;
  const size_t deep = late.find("Deep");
  ASSERT_NE(deep, std::string::npos);
  late[deep - 20] = 'x';  // the value cell's signature
  const struct {
    const char* name;
    std::string bytes;
    LONG expected;
  } cases[] = {
      {"text.hiv", "not a hive at all", ERROR_NOT_REGISTRY_FILE},
      {"truncated.hiv", good.substr(0, good.size() / 2), ERROR_REGISTRY_CORRUPT},
      {"late.hiv", late, ERROR_REGISTRY_CORRUPT},
  };
  HKEY target = MakeTree("Software\\Target");
  SetString(target, "Mine", "kept");
  for (const auto& c : cases) {
    WriteFileBytes(File(c.name), c.bytes);
    EXPECT_EQ(RegRestoreKeyA(target, File(c.name).c_str(), 0), c.expected) << c.name;
    EXPECT_EQ(Get(target, "Mine"), std::string("kept", 5)) << c.name;
    EXPECT_EQ(SubKeys(target), (std::vector<std::string>{"Another", "Child"})) << c.name;
  }
  EXPECT_EQ(RegRestoreKeyA(target, File("missing.hiv").c_str(), 0), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegRestoreKeyA(target, File("").c_str(), 0), ERROR_ACCESS_DENIED);  // a folder
  RegCloseKey(target);
  RegCloseKey(source);
}

TEST_F(RegHiveTest, SaveNeverOverwritesAndLeavesNothingWhenItFails) {
  EnableBoth();
  HKEY key = MakeTree("Software\\Tree");
  WriteFileBytes(File("taken.hiv"), "old");
  EXPECT_EQ(RegSaveKeyA(key, File("taken.hiv").c_str(), nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadFileBytes(File("taken.hiv")), "old");
  EXPECT_EQ(RegSaveKeyA(key, File("no/such/dir.hiv").c_str(), nullptr), ERROR_PATH_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegHiveTest, NewKeysTakeTheirParentsDescriptor) {
  EnableBoth();
  HKEY key = MakeTree("Software\\Tree");
  ASSERT_EQ(RegSaveKeyA(key, File("a.hiv").c_str(), nullptr), ERROR_SUCCESS);
  // Give the tree a descriptor of its own through a restore of an edited hive.
  std::string bytes = ReadFileBytes(File("a.hiv"));
  std::unique_ptr<hive::HiveReader> reader;
  ASSERT_EQ(hive::HiveReader::Open(File("a.hiv"), &reader), ERROR_SUCCESS);
  hive::KeyNode root;
  ASSERT_EQ(reader->ReadKey(reader->root(), &root), ERROR_SUCCESS);
  // The group SID's last sub-authority: SYSTEM (18) becomes 19.
  std::string sd;
  ASSERT_EQ(reader->ReadSecurity(root, &sd), ERROR_SUCCESS);
  const size_t sd_at = bytes.find(sd);
  ASSERT_NE(sd_at, std::string::npos);
  const uint32_t group = static_cast<uint8_t>(sd[8]);
  bytes[sd_at + group + 8] = 19;
  reader.reset();
  WriteFileBytes(File("b.hiv"), bytes);
  ASSERT_EQ(RegRestoreKeyA(key, File("b.hiv").c_str(), 0), ERROR_SUCCESS);
  RegCloseKey(Create(key, "Fresh"));
  ASSERT_EQ(RegSaveKeyA(key, File("c.hiv").c_str(), nullptr), ERROR_SUCCESS);
  const std::string dump = Dump(File("c.hiv"));
  std::string edited = sd;
  edited[group + 8] = 19;
  const std::string shared = std::to_string(edited.size()) + ":" + edited;
  EXPECT_NE(dump.find("K Fresh  " + shared), std::string::npos) << dump;
  EXPECT_NE(dump.find("K Another  " + shared), std::string::npos);
  RegCloseKey(key);
}

TEST_F(RegHiveTest, FileCallsAnswerAsWindowsDoes) {
  const std::string file = File("f");
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(File("x/f").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA(File("").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  WriteFileBytes(file, "one");
  EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  WriteFileBytes(File("g"), "two");
  EXPECT_FALSE(MoveFileExA(File("g").c_str(), file.c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(MoveFileExA(File("g").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadFileBytes(file), "two");
  EXPECT_FALSE(MoveFileExA(File("g").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA(File("").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace orvik::posix
