// The store as processes share it: where it lives, other processes' changes,
// a user who may only read it, concurrent writers, a writer that waits too
// long, crashes, and the commit policies.
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/change_group.h"
#include "platform/posix/store/store_location.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

using orvik::test::ProcessResult;
using orvik::test::RunOptions;
using orvik::test::RunProgram;

class StoreTest : public RegistryTest {
 protected:
  ProcessResult Tool(const std::vector<std::string>& args, bool as_nobody = false) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", RegistryDir()}};
    options.as_unprivileged_user = as_nobody;
    return RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool", args, options);
  }
  // Checks the database file with SQLite's own integrity check.
  std::string IntegrityCheck() {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(DatabasePath(RegistryDir()).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_exec(
          db, "PRAGMA integrity_check",
          [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "";
            return 0;
          },
          &result, nullptr);
    }
    sqlite3_close(db);
    return result;
  }
};

class EnvironmentGuard {
 public:
  explicit EnvironmentGuard(std::vector<std::string> names) : names_(std::move(names)) {
    for (const auto& name : names_) {
      const char* value = std::getenv(name.c_str());
      saved_.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~EnvironmentGuard() {
    for (size_t i = 0; i < names_.size(); ++i) {
      if (saved_[i]) {
        setenv(names_[i].c_str(), saved_[i]->c_str(), 1);
      } else {
        unsetenv(names_[i].c_str());
      }
    }
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(StoreTest, RegistryDirectoryFromTheEnvironment) {
  orvik::test::TempDir home;
  EnvironmentGuard guard({"ORVIK_REGISTRY", "XDG_DATA_HOME", "HOME"});
  struct Case {
    const char* orvik_registry;
    const char* xdg_data_home;
    std::string expected;
  };
  const Case cases[] = {
      {"", "", home.path() + "/.local/share/orvik/registry"},
      {"", "/xdg", "/xdg/orvik/registry"},
      {"/mine/reg", "/xdg", "/mine/reg"},
  };
  setenv("HOME", home.path().c_str(), 1);
  for (const auto& c : cases) {
    setenv("ORVIK_REGISTRY", c.orvik_registry, 1);
    setenv("XDG_DATA_HOME", c.xdg_data_home, 1);
    RegistryPlace place;
    ASSERT_EQ(FindRegistryDirectory(&place), ERROR_SUCCESS);
    EXPECT_EQ(place.directory, c.expected);
    EXPECT_EQ(place.named, c.orvik_registry[0] != '\0');
  }
  // Created, with its parents, on first use.
  CloseRegistryStore();
  setenv("ORVIK_REGISTRY", "", 1);
  unsetenv("XDG_DATA_HOME");
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(std::filesystem::exists(home.path() + "/.local/share/orvik/registry/registry.db"));
  CloseRegistryStore();
}

TEST_F(StoreTest, ChangesOfAnotherProcessAreSeen) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared");
  SetString(key, "mine", "1");
  EXPECT_EQ(ValueNames(key), std::vector<std::string>{"mine"});  // fills the cache
  ASSERT_EQ(Tool({"set", "HKLM\\SOFTWARE\\Shared", "theirs", "2"}).out, "0\n");
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"mine", "theirs"}));
  EXPECT_EQ(Get(key, "theirs"), std::string("2\0", 2));
  ASSERT_EQ(Tool({"create", "HKLM\\SOFTWARE\\Shared\\Sub", "0xF003F"}).out, "0\n");
  EXPECT_EQ(SubKeys(key), std::vector<std::string>{"Sub"});
  RegCloseKey(key);
}

TEST_F(StoreTest, KeyRemovedByAnotherProcess) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed");
  SetString(key, "v", "x");
  EXPECT_EQ(Get(key, "v"), std::string("x\0", 2));
  ASSERT_EQ(Tool({"delete-key", "HKLM\\SOFTWARE\\Doomed"}).out, "0\n");
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(StoreTest, AUserWhoMayNotWriteTheRegistryCanStillReadIt) {
  if (!orvik::test::CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Visible\\Child");
  RegCloseKey(key);
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Visible");
  SetString(key, "a", "1");
  SetString(key, "b", "2");
  RegCloseKey(key);
  // Once while this process keeps the store open (changes still in the
  // write-ahead log), once after it closed it.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(Tool({"list", "HKLM\\SOFTWARE\\Visible"}, true).out, "Child\na=1\nb=2\n");
    struct Case {
      std::vector<std::string> args;
      std::string out;
    };
    const Case cases[] = {
        {{"open", "HKLM\\SOFTWARE\\Visible", "0x20019"}, "0\n"},
        {{"open", "HKLM\\SOFTWARE\\Visible", "0xF003F"}, "5\n"},
        {{"open", "HKLM\\SOFTWARE\\Visible", "0x2"}, "5\n"},
        {{"open", "HKLM\\SOFTWARE\\Missing", "0x20019"}, "2\n"},
        {{"create", "HKLM\\SOFTWARE\\Visible", "0x20019"}, "0\n"},
        {{"create", "HKLM\\SOFTWARE\\Visible\\New", "0x20019"}, "5\n"},
        {{"create", "HKLM\\SOFTWARE\\Visible", "0xF003F"}, "5\n"},
        {{"set", "HKLM\\SOFTWARE\\Visible", "a", "changed"}, "5\n"},
        {{"delete-key", "HKLM\\SOFTWARE\\Visible\\Child"}, "5\n"},
    };
    for (const auto& c : cases) {
      const ProcessResult result = Tool(c.args, true);
      EXPECT_EQ(result.out, c.out) << c.args[0] << " " << c.args.back() << result.err;
    }
    CloseRegistryStore();
  }
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Visible");
  EXPECT_EQ(Get(key, "a"), std::string("1\0", 2));
  EXPECT_EQ(SubKeys(key), std::vector<std::string>{"Child"});
  RegCloseKey(key);
}

TEST_F(StoreTest, ConcurrentWritersLoseNothing) {
  // The writers also race to create the registry itself.
  constexpr int kCount = 1000;
  const std::vector<std::string> prefixes = {"p0_", "p1_", "p2_", "p3_", "same", "same"};
  std::vector<ProcessResult> results(prefixes.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < prefixes.size(); ++i) {
    threads.emplace_back([&, i] {
      results[i] =
          Tool({"write-many", "HKLM\\SOFTWARE\\Busy", prefixes[i], std::to_string(kCount)});
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result.out, "0\n") << result.err;
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key).size(), 5u * kCount);
  for (const std::string prefix : {"p0_", "p1_", "p2_", "p3_", "same"}) {
    for (int i = 0; i < kCount; ++i) {
      const std::string index = std::to_string(i);
      ASSERT_EQ(Get(key, prefix + index), prefix + ":" + index + std::string(1, '\0'));
    }
  }
  RegCloseKey(key);
  EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST_F(StoreTest, ProcessesThatSetUpANewRegistryTogetherAllSucceed) {
  // Setting up a new registry takes the database to itself for a moment;
  // the others must wait for it, not fail.
  constexpr int kRounds = 20;
  constexpr int kWriters = 6;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const std::string directory = RegistryDir() + "/new" + std::to_string(round);
    std::vector<ProcessResult> results(kWriters);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWriters; ++i) {
      threads.emplace_back([&, i] {
        RunOptions options;
        options.env = {{"ORVIK_REGISTRY", directory}};
        results[static_cast<size_t>(i)] = RunProgram(
            orvik::test::BuildDir() + "/orvik-registry-tool",
            {"write-many", "HKLM\\SOFTWARE\\New", "w" + std::to_string(i) + "_", "20"}, options);
      });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& result : results) ASSERT_EQ(result.out, "0\n") << result.err;
  }
}

TEST_F(StoreTest, AWriterWaitsABoundedTimeWhileReadersGoOn) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked");
  SetString(key, "v", "before");
  RegCloseKey(key);
  CloseRegistryStore();
  SetBusyTimeout(300);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(DatabasePath(RegistryDir()).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked");
  EXPECT_EQ(Get(key, "v"), std::string("before\0", 7));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_BUSY);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(Get(key, "v"), std::string("before\0", 7));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  SetString(key, "v", "after");
  EXPECT_EQ(Get(key, "v"), std::string("after\0", 6));
  RegCloseKey(key);
  SetBusyTimeout(10000);
}

TEST_F(StoreTest, AKilledWriterLeavesExactlyWhatItCommitted) {
  for (int kill_after_ms : {30, 150, 400}) {
    SCOPED_TRACE(kill_after_ms);
    const std::string path = "SOFTWARE\\Crash" + std::to_string(kill_after_ms);
    const ProcessResult result =
        Tool({"crash-writer", "HKLM\\" + path, "1000000", std::to_string(kill_after_ms)});
    ASSERT_EQ(result.exit_code, 128 + 9) << result.err;
    // Every index printed had its call return; the one after may or may not
    // have committed.
    int reported = -1;
    for (size_t pos = 0; pos < result.out.size();) {
      const size_t end = result.out.find('\n', pos);
      if (end == std::string::npos) break;
      reported = std::stoi(result.out.substr(pos, end - pos));
      pos = end + 1;
    }
    ASSERT_GE(reported, 0) << "killed before the first value was written";
    EXPECT_EQ(IntegrityCheck(), "ok");
    CloseRegistryStore();
    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, path, KEY_READ, &key), ERROR_SUCCESS);
    const std::vector<std::string> names = ValueNames(key);
    ASSERT_GE(names.size(), static_cast<size_t>(reported + 1));
    ASSERT_LE(names.size(), static_cast<size_t>(reported + 2));
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string index = std::to_string(i);
      ASSERT_EQ(names[i], "v" + index);
      ASSERT_EQ(Get(key, names[i]), std::string(100 + i % 200, 'x') + index + std::string(1, '\0'));
    }
    RegCloseKey(key);
  }
}

TEST_F(StoreTest, RunTransactionCommitsAtTheEndOnly) {
  // A killed run leaves none of its changes.
  const ProcessResult killed =
      Tool({"--per-run", "crash-writer", "HKLM\\SOFTWARE\\Run", "1000000", "100"});
  ASSERT_EQ(killed.exit_code, 128 + 9);
  ASSERT_FALSE(killed.out.empty());
  EXPECT_EQ(IntegrityCheck(), "ok");
  HKEY key = nullptr;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  // A run that ends keeps them all.
  EXPECT_EQ(Tool({"--per-run", "write-many", "HKLM\\SOFTWARE\\Run", "v", "50"}).out, "0\n");
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(key).size(), 50u);
  RegCloseKey(key);

  // Within a run, a failed call undoes only itself.
  CloseRegistryStore();
  SetCommitPolicy(CommitPolicy::kPerRun);
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run\\Child");
  RegCloseKey(key);
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run");
  SetString(key, "extra", "1");
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Run"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Get(key, "extra"), std::string("1\0", 2));
  RegCloseKey(key);
  CloseRegistryStore();
  EXPECT_EQ(Tool({"read", "HKLM\\SOFTWARE\\Run", "extra"}).out, std::string("1\0\n", 3));
  EXPECT_EQ(Tool({"list", "HKLM\\SOFTWARE\\Run"}).out.substr(0, 6), "Child\n");
}

TEST_F(StoreTest, AChangeGroupCommitsTogetherAndEachCallStaysWhole) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Grouped");
  RegCloseKey(key);
  BeginChangeGroup();
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Grouped\\Child");
  SetString(key, "a", "1");
  // Another process sees nothing of the open group, and reads as usual.
  EXPECT_EQ(Tool({"list", "HKLM\\SOFTWARE\\Grouped"}).out, "");
  // A failed call undoes only itself.
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Grouped"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Get(key, "a"), std::string("1\0", 2));
  EXPECT_EQ(EndChangeGroup(), ERROR_SUCCESS);
  EXPECT_EQ(Tool({"read", "HKLM\\SOFTWARE\\Grouped\\Child", "a"}).out, std::string("1\0\n", 3));
  // After the group, each call commits by itself again.
  SetString(key, "b", "2");
  EXPECT_EQ(Tool({"read", "HKLM\\SOFTWARE\\Grouped\\Child", "b"}).out, std::string("2\0\n", 3));
  RegCloseKey(key);

  // A long group commits on its way: other processes see its early changes
  // before it ends.
  BeginChangeGroup();
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Long");
  for (int i = 0; i < StoreSteps::kGroupSteps + 10; ++i)
    SetString(key, "v" + std::to_string(i), "x");
  EXPECT_EQ(Tool({"read", "HKLM\\SOFTWARE\\Long", "v0"}).out, std::string("x\0\n", 3));
  EXPECT_EQ(EndChangeGroup(), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(IntegrityCheck(), "ok");
}

}  // namespace
}  // namespace orvik::posix
