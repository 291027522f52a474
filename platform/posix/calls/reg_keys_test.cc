// Opening, creating, closing and removing keys: paths, case, order, rights,
// removed keys and key data (class, last-write time).
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/change_group.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

using KeysTest = RegistryTest;

TEST_F(KeysTest, NewRegistryHoldsTheInitialKeys) {
  HKEY key = nullptr;
  for (const auto& [root, path] :
       std::vector<std::pair<HKEY, std::string>>{{HKEY_LOCAL_MACHINE, "SOFTWARE"},
                                                 {HKEY_LOCAL_MACHINE, "SYSTEM"},
                                                 {HKEY_CURRENT_USER, "Software"},
                                                 {HKEY_USERS, ".DEFAULT"}}) {
    EXPECT_EQ(Open(root, path, KEY_READ, &key), ERROR_SUCCESS) << path;
    RegCloseKey(key);
  }
  EXPECT_EQ(SubKeys(HKEY_LOCAL_MACHINE), (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
  EXPECT_EQ(SubKeys(HKEY_CURRENT_USER), std::vector<std::string>{"Software"});
  EXPECT_EQ(SubKeys(HKEY_USERS), std::vector<std::string>{".DEFAULT"});
  EXPECT_TRUE(SubKeys(HKEY_CLASSES_ROOT).empty());
  EXPECT_TRUE(SubKeys(HKEY_CURRENT_CONFIG).empty());
}

TEST_F(KeysTest, RootsAreIndependentTrees) {
  RegCloseKey(Create(HKEY_CLASSES_ROOT, "OnlyHere"));
  HKEY key = nullptr;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
    EXPECT_EQ(Open(root, "OnlyHere", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(Open(HKEY_CLASSES_ROOT, "OnlyHere", KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(KeysTest, CreateMakesEveryMissingKeyAndReportsDisposition) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\a\\b\\c", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\A\\B", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(key), std::vector<std::string>{"C"});
  RegCloseKey(key);
}

TEST_F(KeysTest, PathRules) {
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Sub"));
  const std::string longest(255, 'k');
  const std::string too_long(256, 'k');
  struct Case {
    std::string path;
    LONG open;    // RegOpenKeyExA under HKCU
    LONG create;  // RegCreateKeyExA under HKCU
  };
  const Case cases[] = {
      {"", ERROR_SUCCESS, ERROR_SUCCESS},
      {"Software", ERROR_SUCCESS, ERROR_SUCCESS},
      {"Software\\", ERROR_SUCCESS, ERROR_SUCCESS},
      {"Software\\Sub\\", ERROR_SUCCESS, ERROR_SUCCESS},
      {"\\Software", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {"\\", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {"Software\\\\", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {"Software\\\\Sub", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {"Missing", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
      {"Software\\" + longest, ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
      {"Software\\" + too_long, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
      {too_long + "\\x", ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    HKEY key = nullptr;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, c.path, KEY_READ, &key), c.open) << c.path;
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, c.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              c.create)
        << c.path;
    if (key != nullptr) RegCloseKey(key);
  }
  HKEY key = nullptr;
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Software\\" + longest, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  // Nothing was created by the paths that failed.
  EXPECT_EQ(SubKeys(HKEY_CURRENT_USER), (std::vector<std::string>{"Missing", "Software"}));
}

// Paths that share a last name but part earlier must reach their own keys,
// in plain calls and inside a change group alike.
TEST_F(KeysTest, PathsThatPartOnTheWayReachTheirOwnKeys) {
  for (const bool grouped : {false, true}) {
    const std::string top = grouped ? "Software\\Grouped" : "Software\\Plain";
    RegCloseKey(Create(HKEY_CURRENT_USER, top + "\\A\\Sub"));
    RegCloseKey(Create(HKEY_CURRENT_USER, top + "\\B"));
    if (grouped) BeginChangeGroup();
    HKEY a = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, top + "\\A\\Sub", KEY_READ, &a), ERROR_SUCCESS);
    HKEY b = nullptr;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, top + "\\B\\Sub", KEY_READ, &b), ERROR_FILE_NOT_FOUND) << top;
    RegCloseKey(Create(HKEY_CURRENT_USER, top + "\\B\\Sub\\Only"));
    EXPECT_TRUE(SubKeys(a).empty()) << top;
    RegCloseKey(a);
    if (grouped) {
      EXPECT_EQ(EndChangeGroup(), ERROR_SUCCESS);
    }
    ASSERT_EQ(Open(HKEY_CURRENT_USER, top + "\\B\\Sub", KEY_READ, &b), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(b), std::vector<std::string>{"Only"}) << top;
    RegCloseKey(b);
  }
}

TEST_F(KeysTest, SiblingsOpenedByFullPathsFollowChanges) {
  // Keys opened one after another by their full paths, as a tree listing
  // does, found from a listing of their parent that changes in between, by
  // this process and by another.
  for (const char* name : {"K0", "K1", "K2", "K3"}) {
    RegCloseKey(Create(HKEY_CURRENT_USER, std::string("Software\\Many\\") + name));
  }
  auto other = [this](const std::vector<std::string>& args) {
    orvik::test::RunOptions options;
    options.env = {{"ORVIK_REGISTRY", RegistryDir()}};
    return orvik::test::RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool", args, options)
        .out;
  };
  enum class Do { kOpen, kMissing, kCreate, kDelete, kOtherCreate, kOtherDelete };
  struct Step {
    Do what;
    const char* name;
  };
  const Step steps[] = {
      {Do::kOpen, "K0"},    {Do::kOpen, "K1"},        {Do::kOpen, "k2"},
      {Do::kMissing, "K4"}, {Do::kCreate, "K4"},      {Do::kOpen, "K4"},
      {Do::kOpen, "K3"},    {Do::kDelete, "K1"},      {Do::kMissing, "K1"},
      {Do::kOpen, "K2"},    {Do::kOtherCreate, "K5"}, {Do::kOpen, "K5"},
      {Do::kOpen, "K0"},    {Do::kOtherDelete, "K0"}, {Do::kMissing, "K0"},
      {Do::kOpen, "k5"},
  };
  for (const Step& step : steps) {
    const std::string path = std::string("Software\\Many\\") + step.name;
    SCOPED_TRACE(path);
    HKEY key = nullptr;
    switch (step.what) {
      case Do::kOpen:
        ASSERT_EQ(Open(HKEY_CURRENT_USER, path, KEY_READ, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        break;
      case Do::kMissing:
        EXPECT_EQ(Open(HKEY_CURRENT_USER, path, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
        break;
      case Do::kCreate:
        RegCloseKey(Create(HKEY_CURRENT_USER, path));
        break;
      case Do::kDelete:
        ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
        break;
      case Do::kOtherCreate:
        EXPECT_EQ(other({"create", "HKCU\\" + path, "0xF003F"}), "0\n");
        break;
      case Do::kOtherDelete:
        EXPECT_EQ(other({"delete-key", "HKCU\\" + path}), "0\n");
        break;
    }
  }
}

TEST_F(KeysTest, EmptyPathOpensAnIndependentHandleToTheSameKey) {
  HKEY first = Create(HKEY_CURRENT_USER, "Software\\Same");
  HKEY second = nullptr;
  ASSERT_EQ(Open(first, "", KEY_ALL_ACCESS, &second), ERROR_SUCCESS);
  EXPECT_NE(first, second);
  SetString(first, "v", "one");
  EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  EXPECT_EQ(Get(second, "v"), std::string("one", 4));
  RegCloseKey(second);
}

// Names match as Windows upper-cases them, unit by unit with its own table.
TEST_F(KeysTest, NamesMatchByWindowsUpperCase) {
  struct Case {
    std::string created, opened;
    bool same;
  };
  const Case cases[] = {
      {"\xC3\x84pfel", "\xC3\xA4PFEL", true},            // Äpfel / äPFEL
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", true},  // Été / éTÉ
      {"\xCE\xA3\xCE\xB9", "\xCF\x83\xCE\x99", true},    // Σι / σΙ
      {"\xD0\xAF\xD1\x91", "\xD1\x8F\xD0\x81", true},    // Яё / яЁ
      {"\xC7\x86", "\xC7\x84", true},                    // ǆ / Ǆ
      {"\xC4\xB1x", "IX", false},                        // dotless i stays itself
      {"\xC5\xBF", "S", false},                          // so does long s
      {"\xC2\xB5", "\xCE\x9C", false},                   // micro sign / capital mu
      {"\xC7\x85", "\xC7\x84", false},                   // title-case ǅ / Ǆ
      {"\xCF\x82", "\xCE\xA3", false},                   // final sigma / capital sigma
      {"stra\xC3\x9F"
       "e",
       "STRASSE", false},                               // ß has no upper case
      {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false},  // beyond U+FFFF: no case
      {"i", "\xC4\xB0", false},                         // i and dotted capital I
  };
  for (const auto& c : cases) {
    HKEY parent = Create(HKEY_CURRENT_USER, "Software\\Case");
    RegCloseKey(Create(parent, c.created));
    HKEY key = nullptr;
    EXPECT_EQ(Open(parent, c.opened, KEY_READ, &key), c.same ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
        << c.created << " / " << c.opened;
    if (key != nullptr) RegCloseKey(key);
    // The name keeps the case it was created with.
    EXPECT_EQ(SubKeys(parent), std::vector<std::string>{c.created});
    RegCloseKey(parent);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\Case\\" + c.created).c_str()),
              ERROR_SUCCESS);
  }
}

TEST_F(KeysTest, SubkeysEnumerateInOrderOfUpperCasedCodeUnits) {
  HKEY parent = Create(HKEY_CURRENT_USER, "Software\\Order");
  // Creation order is shuffled on purpose; '_' (0x5F) sorts after the upper-case
  // letters, and a name sorts before its extensions.
  for (const char* name : {"b", "_x", "\xC3\xA4", "A1", "Z", "a", "\xC3\x89", "\xF0\x9F\x98\x80",
                           "\xEF\xBD\x81", "B2"}) {
    RegCloseKey(Create(parent, name));
  }
  EXPECT_EQ(SubKeys(parent),
            (std::vector<std::string>{"a", "A1", "b", "B2", "Z", "_x", "\xC3\xA4", "\xC3\x89",
                                      "\xF0\x9F\x98\x80",  // U+1F600 as D83D DE00 sorts before FF41
                                      "\xEF\xBD\x81"}));
  RegCloseKey(parent);
}

TEST_F(KeysTest, EnumeratingSubkeys) {
  HKEY parent = Create(HKEY_CURRENT_USER, "Software\\Enum");
  RegCloseKey(Create(parent, "abc"));
  char name[8];
  DWORD length = 3;  // no room for the terminating zero
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  length = 4;
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(length, 3u);
  EXPECT_STREQ(name, "abc");
  length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(parent, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyExA(parent, 0, nullptr, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  // A key added between two steps shows up in the next one.
  RegCloseKey(Create(parent, "aaa"));
  length = sizeof(name);
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "aaa");
  RegCloseKey(parent);
}

TEST_F(KeysTest, CloseKey) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Close");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234))),
            ERROR_INVALID_HANDLE);
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                    HKEY_CURRENT_CONFIG}) {
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);  // still usable afterwards
  }
  EXPECT_EQ(SubKeys(HKEY_CURRENT_USER), std::vector<std::string>{"Software"});
}

TEST_F(KeysTest, EachCallChecksTheRightsOfItsHandle) {
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Rights\\Child"));
  {
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Rights");
    SetString(key, "v", "x");
    RegCloseKey(key);
  }
  enum Call { kQueryValue, kEnumValue, kQueryInfo, kEnumKey, kSetValue, kDeleteValue, kCreateNew };
  auto run = [&](HKEY key, Call call) -> LONG {
    char name[64];
    DWORD length = sizeof(name);
    HKEY child = nullptr;
    LONG rc = ERROR_SUCCESS;
    switch (call) {
      case kQueryValue:
        return RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr);
      case kEnumValue:
        return RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
      case kQueryInfo:
        return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
      case kEnumKey:
        return RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
      case kSetValue:
        return RegSetValueExA(key, "w", 0, REG_BINARY, nullptr, 0);
      case kDeleteValue:
        return RegDeleteValueA(key, "missing");
      case kCreateNew:
        rc = RegCreateKeyExA(key, "New", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr);
        if (child != nullptr) {
          RegCloseKey(child);
          RegDeleteKeyA(key, "New");
        }
        return rc;
    }
    return rc;
  };
  struct Case {
    REGSAM access;
    Call call;
    LONG expected;
  };
  const Case cases[] = {
      {KEY_READ, kQueryValue, ERROR_SUCCESS},
      {KEY_READ, kEnumValue, ERROR_SUCCESS},
      {KEY_READ, kQueryInfo, ERROR_SUCCESS},
      {KEY_READ, kEnumKey, ERROR_SUCCESS},
      {KEY_READ, kSetValue, ERROR_ACCESS_DENIED},
      {KEY_READ, kDeleteValue, ERROR_ACCESS_DENIED},
      {KEY_READ, kCreateNew, ERROR_ACCESS_DENIED},
      {KEY_ENUMERATE_SUB_KEYS, kEnumKey, ERROR_SUCCESS},
      {KEY_ENUMERATE_SUB_KEYS, kQueryInfo, ERROR_ACCESS_DENIED},
      {KEY_ENUMERATE_SUB_KEYS, kEnumValue, ERROR_ACCESS_DENIED},
      {KEY_QUERY_VALUE, kEnumKey, ERROR_ACCESS_DENIED},
      {KEY_QUERY_VALUE, kQueryValue, ERROR_SUCCESS},
      {KEY_SET_VALUE, kQueryValue, ERROR_ACCESS_DENIED},
      {KEY_SET_VALUE, kSetValue, ERROR_SUCCESS},
      {KEY_SET_VALUE, kDeleteValue, ERROR_FILE_NOT_FOUND},
      {KEY_SET_VALUE, kCreateNew, ERROR_ACCESS_DENIED},
      {KEY_CREATE_SUB_KEY, kCreateNew, ERROR_SUCCESS},
      {KEY_WRITE, kCreateNew, ERROR_SUCCESS},
      {GENERIC_READ, kEnumKey, ERROR_SUCCESS},
      {GENERIC_READ, kSetValue, ERROR_ACCESS_DENIED},
      {MAXIMUM_ALLOWED, kSetValue, ERROR_SUCCESS},
      {0, kQueryValue, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Rights", c.access, &key), ERROR_SUCCESS);
    EXPECT_EQ(run(key, c.call), c.expected)
        << "access " << std::hex << c.access << " call " << c.call;
    RegCloseKey(key);
  }
  // Opening a subkey needs no rights on the base; creating an existing one
  // needs none either.
  HKEY none = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Rights", 0, &none), ERROR_SUCCESS);
  HKEY child = nullptr;
  EXPECT_EQ(Open(none, "Child", KEY_READ, &child), ERROR_SUCCESS);
  RegCloseKey(child);
  EXPECT_EQ(RegCreateKeyExA(none, "Child", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(none);
}

TEST_F(KeysTest, DeleteKey) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Del\\Child");
  SetString(key, "v", "data");
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "\\Software"), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "software\\del\\CHILD"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del\\"), ERROR_SUCCESS);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Software\\Del", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  // A key created again under the same name starts without the old values.
  key = Create(HKEY_CURRENT_USER, "Software\\Del\\Child");
  EXPECT_EQ(Get(key, "v"), "<error 2>");
  RegCloseKey(key);
}

TEST_F(KeysTest, RootsCannotBeDeleted) {
  HKEY root_handle = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_CONFIG, "", KEY_ALL_ACCESS, &root_handle), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_CONFIG, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(root_handle, ""), ERROR_ACCESS_DENIED);
  RegCloseKey(root_handle);
}

TEST_F(KeysTest, DeletingAHandlesOwnKeyNeedsDeleteRight) {
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Self"));
  HKEY key = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Self", KEY_WRITE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Self", DELETE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key, ""), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

TEST_F(KeysTest, EveryCallOnAHandleOfARemovedKeyFails) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Gone");
  SetString(key, "v", "x");
  // Fill the enumeration caches first: they must not hide the removal.
  EXPECT_EQ(ValueNames(key), std::vector<std::string>{"v"});
  EXPECT_TRUE(SubKeys(key).empty());
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Gone"), ERROR_SUCCESS);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Gone"));  // a new key, same name
  char name[16];
  DWORD length = sizeof(name);
  HKEY child = nullptr;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(Open(key, "", KEY_READ, &child), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExA(key, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(key, "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(KeysTest, ClassNames) {
  HKEY parent = Create(HKEY_CURRENT_USER, "Software\\Classes");
  HKEY key = nullptr;
  char class_name[] = "Cl\xC3\xA4ss";  // 6 bytes in the ANSI form
  ASSERT_EQ(
      RegCreateKeyExA(parent, "Sub", 0, class_name, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);
  char other[] = "Other";  // ignored: the key exists
  ASSERT_EQ(RegCreateKeyExA(parent, "Sub", 0, other, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);

  char buffer[16];
  DWORD length = sizeof(buffer);
  ASSERT_EQ(RegQueryInfoKeyA(key, buffer, &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, length), class_name);
  length = 6;  // no room for the zero
  EXPECT_EQ(RegQueryInfoKeyA(key, buffer, &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 6u);
  RegCloseKey(key);

  DWORD max_class = 0;
  ASSERT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, &max_class,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(max_class, 6u);
  char name[16];
  DWORD name_length = sizeof(name);
  length = sizeof(buffer);
  ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &name_length, nullptr, buffer, &length, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, length), class_name);
  RegCloseKey(parent);
}

TEST_F(KeysTest, LastWriteTimeFollowsChanges) {
  auto last_write = [](HKEY key) {
    FILETIME time{};
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, &time),
              ERROR_SUCCESS);
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
  const auto now = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                                 .count() *
                                             10 +
                                         116444736000000000LL);
  // Each call by itself, then in a change group, where several changes to a
  // key may share one write of its time.
  for (const bool grouped : {false, true}) {
    if (grouped) BeginChangeGroup();
    HKEY key = Create(HKEY_CURRENT_USER, grouped ? "Software\\GroupedTime" : "Software\\Time");
    uint64_t previous = last_write(key);
    EXPECT_NEAR(static_cast<double>(previous), static_cast<double>(now), 5e7);  // within 5 s
    for (int step = 0; step < 4; ++step) {
      pause();
      HKEY child = nullptr;
      switch (step) {
        case 0:
          SetString(key, "v", "x");
          break;
        case 1:
          ASSERT_EQ(RegDeleteValueA(key, "v"), ERROR_SUCCESS);
          break;
        case 2:
          child = Create(key, "Child");
          RegCloseKey(child);
          break;
        case 3:
          ASSERT_EQ(RegDeleteKeyA(key, "Child"), ERROR_SUCCESS);
          break;
      }
      const uint64_t current = last_write(key);
      EXPECT_GT(current, previous) << "step " << step;
      previous = current;
    }
    pause();
    ValueNames(key);  // reading changes nothing
    EXPECT_EQ(last_write(key), previous);
    RegCloseKey(key);
    if (grouped) {
      EXPECT_EQ(EndChangeGroup(), ERROR_SUCCESS);
    }
  }
}

}  // namespace
}  // namespace orvik::posix
