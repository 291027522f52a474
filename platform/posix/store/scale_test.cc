// Wide and deep trees: removing the subkeys of a key one after another
// lists the key once, opening each key of a chain by its full path asks the
// store for one key per level, and keys deeper than 512 levels are refused.
// The work is counted in runs of the store's statements, never timed.
#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/store/sqlite_store.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

constexpr char kListChildren[] = "SELECT id, name, class, last_write FROM keys WHERE parent=?";
constexpr char kFindChild[] = "SELECT id FROM keys WHERE parent=? AND folded=?";

class ScaleTest : public RegistryTest {
 protected:
  // How often the store's statement that begins with `sql` has run.
  int Runs(const char* sql) {
    SqliteStore* tree = OpenedStore();
    if (tree == nullptr) return 0;
    sqlite3* db = tree->db();
    for (sqlite3_stmt* s = sqlite3_next_stmt(db, nullptr); s != nullptr;
         s = sqlite3_next_stmt(db, s)) {
      if (std::string_view(sqlite3_sql(s)).starts_with(sql)) {
        return sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0);
      }
    }
    return 0;
  }
  orvik::test::ProcessResult Tool(const std::vector<std::string>& args) {
    orvik::test::RunOptions options;
    options.env = {{"ORVIK_REGISTRY", RegistryDir()}};
    return orvik::test::RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool", args, options);
  }
};

std::string Chain(int levels) {
  std::string path;
  for (int i = 0; i < levels; ++i) path += (i == 0 ? "" : "\\") + std::string("k");
  return path;
}

TEST_F(ScaleTest, RemovingTheSubkeysOfAKeyOneAfterAnotherListsItOnce) {
  constexpr int kChildren = 300;
  for (const CommitPolicy policy : {CommitPolicy::kPerCall, CommitPolicy::kPerRun}) {
    SCOPED_TRACE(policy == CommitPolicy::kPerCall ? "per call" : "per run");
    CloseRegistryStore();
    SetCommitPolicy(policy);
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wide");
    for (int i = 0; i < kChildren; ++i) RegCloseKey(Create(key, "child" + std::to_string(i)));
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(count, static_cast<DWORD>(kChildren));
    const int listed_before = Runs(kListChildren);
    // From the last index down, as a tree removal goes.
    for (DWORD index = count; index-- > 0;) {
      char name[64];
      DWORD length = sizeof(name);
      ASSERT_EQ(RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr),
                ERROR_SUCCESS);
      ASSERT_EQ(RegDeleteKeyA(key, name), ERROR_SUCCESS) << name;
    }
    EXPECT_LE(Runs(kListChildren) - listed_before, 1);
    EXPECT_EQ(SubKeys(key), std::vector<std::string>{});
    RegCloseKey(key);
    CloseRegistryStore();
  }
}

TEST_F(ScaleTest, AListingKeptAfterARemovalStillSeesOtherProcesses) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared");
  for (const char* name : {"a", "b", "c"}) RegCloseKey(Create(key, name));
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"a", "b", "c"}));
  ASSERT_EQ(RegDeleteKeyA(key, "c"), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(Tool({"create", "HKLM\\SOFTWARE\\Shared\\d", "0xF003F"}).out, "0\n");
  ASSERT_EQ(RegDeleteKeyA(key, "a"), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"b", "d"}));
  RegCloseKey(key);
}

TEST_F(ScaleTest, OpeningEachKeyOfAChainByItsFullPathAsksOncePerLevel) {
  constexpr int kLevels = 200;
  RegCloseKey(Create(HKEY_CURRENT_USER, Chain(kLevels)));
  const int found_before = Runs(kFindChild);
  for (int level = 1; level <= kLevels; ++level) {
    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, Chain(level), KEY_READ, &key), ERROR_SUCCESS) << level;
    RegCloseKey(key);
  }
  EXPECT_LE(Runs(kFindChild) - found_before, 2 * kLevels);

  // What was found is not kept past a change: a key removed and made again
  // by another process is the new key.
  HKEY old_key = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, Chain(3), KEY_READ, &old_key), ERROR_SUCCESS);
  ASSERT_EQ(Tool({"delete-key", "HKCU\\" + Chain(kLevels)}).out, "0\n");
  ASSERT_EQ(Tool({"create", "HKCU\\" + Chain(kLevels), "0xF003F"}).out, "0\n");
  ASSERT_EQ(Tool({"set", "HKCU\\" + Chain(kLevels), "v", "new"}).out, "0\n");
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, Chain(kLevels), KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(Get(key, "v"), std::string("new\0", 4));
  RegCloseKey(key);
  RegCloseKey(old_key);
  // Names match without regard to case also along a remembered walk.
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "K\\K\\K", KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "k\\k\\missing", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(ScaleTest, KeysDeeperThan512LevelsAreRefused) {
  HKEY deepest = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Chain(512).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &deepest, nullptr),
            ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(deepest, "k", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Chain(513).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  // Nothing of a refused path is made, and HKLM counts from its own root.
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, Chain(513).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "k", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  // Keys that are there still open, and the deepest takes values.
  SetString(deepest, "v", "at 512");
  RegCloseKey(deepest);
  ASSERT_EQ(Open(HKEY_CURRENT_USER, Chain(512), KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
}  // namespace orvik::posix
