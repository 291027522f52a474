// End-to-end tests of COPY: the built program against a fresh registry, the
// copies checked byte for byte with orvik-rawreg, and a run killed in the
// middle of a tree copy checked with SQLite's own integrity check.
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/handles/registry_session.h"
#include "tests/support/process_runner.h"

extern char** environ;

namespace orvik::test {
namespace {

class CopyTest : public ::testing::Test {
 protected:
  RunOptions Options(bool unprivileged = false) const {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.as_unprivileged_user = unprivileged;
    return options;
  }

  ProcessResult Orvik(const std::vector<std::string>& args, bool unprivileged = false) {
    ProcessResult r = RunProgram(OrvikPath(), args, Options(unprivileged));
    EXPECT_EQ(r.err, "") << "nothing goes to standard error";
    return r;
  }

  // Runs orvik and expects it to succeed silently.
  void Ok(const std::vector<std::string>& args) {
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 0) << testing::PrintToString(args) << r.out;
    EXPECT_EQ(r.out, "") << testing::PrintToString(args);
  }

  // Writes a value with its stored bytes (strings as UTF-16LE); the key is
  // created with its name as given when missing.
  void Set(const std::string& key, const std::string& name, unsigned type, const std::string& hex) {
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg",
                                       {"set", key, name, std::to_string(type), hex}, Options());
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text) {
    Set(key, name, 1, Utf16Hex(text) + "0000");
  }

  // "TYPE HEX" of the stored value; "absent" when it cannot be read.
  std::string Raw(const std::string& key, const std::string& name) {
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg", {"get", key, name}, Options());
    if (r.exit_code != 0) return "absent";
    std::string text = r.out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }

  bool KeyExists(const std::string& key) { return Orvik({"QUERY", key}).exit_code == 0; }

  std::string Listing(const std::string& key) { return Orvik({"QUERY", key, "/s"}).out; }

  TempDir registry_;
};

TEST_F(CopyTest, CopiesTheValuesOfOneKeyIntoANewKey) {
  SetString("HKCU\\Software\\A", "Version", "1.0");
  SetString("HKCU\\Software\\A", "", "default");
  SetString("HKCU\\Software\\A\\Sub", "x", "y");
  Ok({"COPY", "HKCU\\Software\\A", "HKCU\\Software\\NewCopy"});
  // The key made at the top is named as typed, lower-cased; no subkey goes along.
  EXPECT_EQ(Listing("HKCU\\Software\\newcopy"),
            Lines({"", "Corvane Registry Console Tool 1.0", "Copyright (c) 2026 Corvane Inc.", "",
                   "HKEY_CURRENT_USER\\software\\newcopy", "   Version REG_SZ  1.0",
                   "   <NO NAME> REG_SZ  default"}));
  const ProcessResult r = Orvik({"QUERY", "HKCU\\Software", "/s"});
  EXPECT_NE(r.out.find("HKEY_CURRENT_USER\\software\\newcopy\r\n"), std::string::npos) << r.out;
  EXPECT_FALSE(KeyExists("HKCU\\Software\\NewCopy\\Sub"));
}

TEST_F(CopyTest, WithSCopiesTheTreeUnderTheSubkeysStoredNames) {
  SetString("HKCU\\Software\\A", "top", "t");
  SetString("HKCU\\Software\\A\\MixedCase", "m", "1");
  SetString("HKCU\\Software\\A\\MixedCase\\Deeper Key", "d", "2");
  SetString("HKCU\\Software\\A\\\xC3\x84rger", "u", "3");  // Ärger
  Set("HKCU\\Software\\A\\Empty", "e", 3, "");
  Ok({"COPY", "HKCU\\Software\\A", "HKCU\\Software\\B", "/s", "/f"});
  const std::string header = "HKEY_CURRENT_USER\\software\\b";
  EXPECT_EQ(Listing("HKCU\\Software\\B"),
            Lines({"", "Corvane Registry Console Tool 1.0", "Copyright (c) 2026 Corvane Inc.", "",
                   header, "   top REG_SZ  t", "", header + "\\Empty", "   e REG_BINARY      ", "",
                   header + "\\MixedCase", "   m REG_SZ  1", "", header + "\\MixedCase\\Deeper Key",
                   "   d REG_SZ  2", "", header + "\\\xC3\x84rger", "   u REG_SZ  3"}));
  // The source is as it was.
  EXPECT_EQ(Raw("HKCU\\Software\\A\\MixedCase", "m"), "1 31000000");
}

TEST_F(CopyTest, KeepsTheDestinationsOtherValuesAndReplacesSameNamedOnes) {
  SetString("HKCU\\Software\\A", "Version", "2.0");
  Set("HKCU\\Software\\A", "Count", 4, "07000000");
  Set("HKCU\\Software\\B", "VERSION", 4, "01000000");  // another type, another case
  SetString("HKCU\\Software\\B", "count", "old");
  SetString("HKCU\\Software\\B", "Mine", "kept");
  Ok({"COPY", "HKCU\\Software\\A", "HKCU\\Software\\B"});
  EXPECT_EQ(Raw("HKCU\\Software\\B", "version"), "1 " + Utf16Hex("2.0") + "0000");
  EXPECT_EQ(Raw("HKCU\\Software\\B", "Count"), "4 07000000");
  EXPECT_EQ(Raw("HKCU\\Software\\B", "Mine"), "1 " + Utf16Hex("kept") + "0000");
}

TEST_F(CopyTest, AMissingSourceIsReportedAndNoDestinationMade) {
  SetString("HKCU\\Software\\A", "x", "y");
  for (const std::vector<std::string>& args : {
           std::vector<std::string>{"COPY", "HKCU\\Software\\Missing", "HKCU\\Software\\B"},
           {"COPY", "HKCU\\Software\\Missing", "HKCU\\Software\\B", "/s"},
           {"COPY", "HKCU\\Software\\A\\\\x", "HKCU\\Software\\B", "/s"},
       }) {
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args);
    std::string sub_key = args[1].substr(5);
    for (char& c : sub_key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(r.out, Report("Error: Key: " + sub_key + " does not exist!"));
    EXPECT_FALSE(KeyExists("HKCU\\Software\\B")) << testing::PrintToString(args);
  }
}

TEST_F(CopyTest, EveryValueArrivesByteForByte) {
  const std::string a = "HKCU\\Software\\A";
  const struct {
    std::string name;
    unsigned type;
    std::string hex;  // stored form
  } cases[] = {
      {"Text", 1, Utf16Hex("hello") + "0000"},
      {"NoData", 1, ""},
      {"EmptyString", 1, "0000"},
      {"AfterNul", 1, Utf16Hex("ab") + "0000" + Utf16Hex("cd") + "0000"},
      {"NoNul", 1, Utf16Hex("open")},
      {"OddBytes", 1, "610062"},
      {"Expand", 2, Utf16Hex("%SystemRoot%") + "0000"},
      {"ExpandNoData", 2, ""},
      {"Binary", 3, "00FF00FE0000"},
      {"Dword", 4, "FFFFFFFF"},
      {"LongDword", 4, "0102030405060708"},
      {"BigEndian", 5, "00000001"},
      {"Link", 6, Utf16Hex("\\Registry\\Machine\\Software")},
      {"Multi", 7, Utf16Hex("fax") + "0000" + Utf16Hex("mail") + "00000000"},
      {"MultiOpen", 7, Utf16Hex("a") + "0000" + Utf16Hex("b")},
      {"MultiNoData", 7, ""},
      {"NoneBinary", 0, "0001000200"},
      {"NoneEmpty", 0, ""},
      {"Resources", 8, "0102"},
      {"Qword", 11, "0100000000000080"},
      {"Unknown", 4660, "ABCDEF"},
      {"@", 1, Utf16Hex("not the unnamed value") + "0000"},
      {"", 3, "CAFE"},
      {"\xC3\xA9t\xC3\xA9", 1, "E90000"},  // été, holding é
  };
  for (const auto& c : cases) Set(a, c.name, c.type, c.hex);
  Set(a + "\\Sub", "deep", 11, "0000000000000000");
  Ok({"COPY", a, "HKCU\\Software\\B", "/s"});
  for (const auto& c : cases) {
    const std::string stored = std::to_string(c.type) + " " + c.hex;
    EXPECT_EQ(Raw("HKCU\\Software\\B", c.name), stored) << c.name;
  }
  EXPECT_EQ(Raw("HKCU\\Software\\B\\Sub", "deep"), "11 0000000000000000");
  // "@" is a value of its own: the unnamed value is the source's.
  EXPECT_EQ(Raw("HKCU\\Software\\B", ""), "3 CAFE");
}

TEST_F(CopyTest, WithSADestinationInsideTheSourceIsRefusedBeforeAnyChange) {
  SetString("HKCU\\Software\\A\\Sub", "x", "y");
  const std::string before = Listing("HKCU\\Software");
  const std::vector<std::string> refused[] = {
      {"COPY", "HKCU\\Software\\A", "HKCU\\Software\\A", "/s"},
      {"COPY", "HKCU\\Software\\A", "HKCU\\Software\\A\\Copy", "/s"},
      {"COPY", "HKCU\\Software\\A", "HKEY_CURRENT_USER\\SOFTWARE\\a\\sub\\copy", "/s"},
      {"COPY", "HKCU\\Software\\A\\", "HKCU\\\\Software\\A\\Copy\\", "/s"},
      {"COPY", "HKCU\\Software\\\xC3\xA4", "HKCU\\Software\\\xC3\x84\\Copy", "/s"},  // ä, Ä
      {"COPY", "HKCU\\", "HKCU\\Software\\Copy", "/s"},
  };
  for (const auto& args : refused) {
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args);
    EXPECT_EQ(r.out, Report("Error: Invalid command-line parameters"))
        << testing::PrintToString(args);
  }
  EXPECT_EQ(Listing("HKCU\\Software"), before);
  // Beside the tree, on another root, or without /s the copy goes ahead.
  Ok({"COPY", "HKCU\\Software\\A", "HKCU\\Software\\AB", "/s"});
  Ok({"COPY", "HKCU\\Software\\A", "HKLM\\Software\\A\\Copy", "/s"});
  Ok({"COPY", "HKCU\\Software\\A\\Sub", "HKCU\\Software\\A\\Sub\\Copy"});
  EXPECT_EQ(Raw("HKCU\\Software\\AB\\Sub", "x"), "1 " + Utf16Hex("y") + "0000");
  EXPECT_EQ(Raw("HKLM\\Software\\A\\Copy\\Sub", "x"), "1 " + Utf16Hex("y") + "0000");
  EXPECT_EQ(Raw("HKCU\\Software\\A\\Sub\\Copy", "x"), "1 " + Utf16Hex("y") + "0000");
}

TEST_F(CopyTest, ARefusedChangeIsReportedAndAReadOnlySourceIsCopied) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  SetString("HKCU\\Software\\A", "x", "y");
  Ok({"ADD", "HKCU\\Software\\B"});
  const std::string denied = Report("Error: Access is denied.");
  for (const std::vector<std::string>& args : {
           std::vector<std::string>{"COPY", "HKCU\\Software\\A", "HKCU\\Software\\New"},
           {"COPY", "HKCU\\Software\\A", "HKCU\\Software\\B", "/s"},
       }) {
    const ProcessResult r = Orvik(args, /*unprivileged=*/true);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args);
    EXPECT_EQ(r.out, denied) << testing::PrintToString(args);
  }
  EXPECT_FALSE(KeyExists("HKCU\\Software\\New"));
  EXPECT_EQ(Raw("HKCU\\Software\\B", "x"), "absent");
}

// ---- A run killed in the middle of a tree copy -------------------------------------

// The data of value i of key k: its length and bytes follow from the name
// alone, some longer than a database page.
std::string ExpectedData(int k, int i) {
  const auto length =
      static_cast<size_t>((k * 7 + i) % 40 == 0 ? 5000 + k : 1 + (k * 31 + i) % 300);
  std::string data(length, '\0');
  for (size_t n = 0; n < length; ++n)
    data[n] = static_cast<char>((static_cast<size_t>(k + i) + n) & 0xFF);
  return data;
}

std::string ValueName(int k, int i) { return "v" + std::to_string(k) + "_" + std::to_string(i); }

// Builds HKCU\Software\Big\K<k> (keys k) with `values` values each, in this
// process, committed once.
void BuildBigTree(const std::string& registry, int keys, int values) {
  setenv("ORVIK_REGISTRY", registry.c_str(), 1);
  posix::SetCommitPolicy(posix::CommitPolicy::kPerRun);
  for (int k = 0; k < keys; ++k) {
    HKEY key = nullptr;
    const std::string path =
        "Software\\Big\\G" + std::to_string(k / 50) + "\\K" + std::to_string(k);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (int i = 0; i < values; ++i) {
      const std::string data = ExpectedData(k, i);
      ASSERT_EQ(RegSetValueExA(key, ValueName(k, i).c_str(), 0, REG_BINARY,
                               reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size())),
                ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }
  posix::CloseRegistryStore();
  posix::SetCommitPolicy(posix::CommitPolicy::kPerCall);
  unsetenv("ORVIK_REGISTRY");
}

TEST_F(CopyTest, ARunKilledInTheMiddleLeavesEveryValueWholeOrAbsent) {
  constexpr int kKeys = 1500;
  constexpr int kValues = 12;
  BuildBigTree(registry_.path(), kKeys, kValues);
  // Every value under the copy must be the source's value of that name,
  // whole; counts the values there.
  int keys_seen = 0;
  auto count_copied = [&]() {
    int copied = 0;
    keys_seen = 0;
    setenv("ORVIK_REGISTRY", registry_.path().c_str(), 1);
    for (int k = 0; k < kKeys; ++k) {
      HKEY key = nullptr;
      const std::string path =
          "Software\\Copy\\G" + std::to_string(k / 50) + "\\K" + std::to_string(k);
      if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        continue;
      ++keys_seen;
      for (int i = 0; i < kValues; ++i) {
        DWORD type = 0;
        std::string data(20000, '\0');
        DWORD size = static_cast<DWORD>(data.size());
        const LONG rc = RegQueryValueExA(key, ValueName(k, i).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
        if (rc == ERROR_FILE_NOT_FOUND) continue;
        EXPECT_EQ(rc, ERROR_SUCCESS);
        data.resize(size);
        EXPECT_EQ(type, REG_BINARY);
        EXPECT_TRUE(data == ExpectedData(k, i)) << ValueName(k, i) << " holds other data";
        ++copied;
      }
      RegCloseKey(key);
    }
    posix::CloseRegistryStore();
    unsetenv("ORVIK_REGISTRY");
    return copied;
  };
  // Shorter delays until the kill lands before the copy is done (a kill can
  // also land after the last commit, while the run is closing).
  bool killed = false;
  int copied = 0;
  for (int delay = 400; !killed && delay >= 25; delay /= 2) {
    Orvik({"DELETE", "HKCU\\Software\\Copy"});
    killed = KillOrvikAfter(registry_.path(),
                            {"COPY", "HKCU\\Software\\Big", "HKCU\\Software\\Copy", "/s"},
                            std::chrono::milliseconds(delay));
    if (killed) {
      copied = count_copied();
      killed = copied < kKeys * kValues;
    }
  }
  EXPECT_TRUE(killed) << "every copy ended before the kill";

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((registry_.path() + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY,
                            nullptr),
            SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  // The registry goes on working: a second copy completes the first.
  Ok({"COPY", "HKCU\\Software\\Big", "HKCU\\Software\\Copy", "/s"});
  const ProcessResult r = Orvik({"COMPARE", "HKCU\\Software\\Big", "HKCU\\Software\\Copy", "/s"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  RecordProperty("copied_before_kill", copied);
  RecordProperty("keys_before_kill", keys_seen);
}

}  // namespace
}  // namespace orvik::test
