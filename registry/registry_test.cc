// Tests of TRegistry against a registry in a temporary directory: the path
// rule, entering and leaving keys, value reads and writes with their
// messages, listing and removing key trees.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/handles/handle_table.h"
#include "registry/test_registry.h"

namespace orvik {
namespace {

using test::ScratchKeyTest;

std::string Dword(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

// The message of the ERegistryException that `action` raises, or "" when none.
template <typename Action>
std::string RaisedMessage(Action action) {
  try {
    action();
  } catch (const ERegistryException& e) {
    return e.what();
  }
  return "";
}

class TRegistryTest : public ScratchKeyTest {};

TEST_F(TRegistryTest, NewObjectDefaults) {
  TRegistry registry;
  EXPECT_EQ(registry.RootHandle(), HKEY_CURRENT_USER);
  EXPECT_EQ(registry.AccessMask(), KEY_ALL_ACCESS);
  EXPECT_EQ(registry.ActiveHandle(), nullptr);
  EXPECT_EQ(registry.ActivePath(), "");
  TRegistry read_only(KEY_READ);
  EXPECT_EQ(read_only.AccessMask(), KEY_READ);
  EXPECT_EQ(read_only.RootHandle(), HKEY_CURRENT_USER);
}

TEST_F(TRegistryTest, EnterKeyAppliesThePathRule) {
  CreateSubKey("A\\B");
  CreateSubKey("C");
  const std::string base = KeyPath();
  struct Case {
    const char* label;
    std::string first;   // entered before, "" for none
    std::string path;    // then entered
    std::string active;  // ActivePath afterwards
  };
  const Case cases[] = {
      {"relative, nothing entered: against the root", "", base + "\\A", base + "\\A"},
      {"relative while entered: against the key", base, "A\\B", base + "\\A\\B"},
      {"absolute while entered: against the root", base + "\\A", "\\" + base + "\\C", base + "\\C"},
      {"empty while entered: the same key again", base + "\\A", "", base + "\\A\\"},
      {"trailing backslash is kept", "", base + "\\A\\", base + "\\A\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TRegistry registry;
    if (!c.first.empty()) {
      ASSERT_TRUE(registry.EnterKey(c.first, false));
    }
    ASSERT_TRUE(registry.EnterKey(c.path, false));
    EXPECT_EQ(registry.ActivePath(), c.active);
    EXPECT_NE(registry.ActiveHandle(), nullptr);
  }
}

TEST_F(TRegistryTest, EnterKeyEmptyPathReplacesTheHandleOnTheSameKey) {
  SetValue("marker", REG_SZ, std::string("here", 5));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  const HKEY first = registry.ActiveHandle();
  ASSERT_TRUE(registry.EnterKey("", false));
  EXPECT_EQ(registry.ReadStringValue("marker"), "here");
  if (registry.ActiveHandle() != first) {
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyA(first, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE)
        << "the first handle must be closed";
  }
}

TEST_F(TRegistryTest, FailedEnterKeepsTheEnteredKey) {
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  const HKEY handle = registry.ActiveHandle();
  EXPECT_FALSE(registry.EnterKey("Missing", false));
  EXPECT_EQ(registry.LastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(registry.EnterKeyReadOnly("Missing"));
  EXPECT_EQ(registry.ActiveHandle(), handle);
  EXPECT_EQ(registry.ActivePath(), KeyPath());
  EXPECT_EQ(registry.AccessMask(), KEY_ALL_ACCESS) << "a failed read-only enter keeps the mask";
}

TEST_F(TRegistryTest, EnterKeyCreatesOnlyWithTheCreateFlag) {
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  EXPECT_FALSE(registry.EnterKey("New\\Deeper", false));
  EXPECT_FALSE(SubKeyExists("New"));
  ASSERT_TRUE(registry.EnterKey("New\\Deeper", true));
  EXPECT_EQ(registry.ActivePath(), KeyPath() + "\\New\\Deeper");
  EXPECT_TRUE(SubKeyExists("New\\Deeper"));
  // An empty path with the create flag opens the entered key again.
  ASSERT_TRUE(registry.EnterKey("", true));
  EXPECT_EQ(registry.ActivePath(), KeyPath() + "\\New\\Deeper\\");
}

TEST_F(TRegistryTest, ReadOnlyEnterNarrowsTheMaskForGood) {
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKeyReadOnly(KeyPath()));
  EXPECT_EQ(registry.AccessMask(), KEY_READ);
  EXPECT_EQ(RaisedMessage([&] { registry.WriteStringValue("x", "1"); }),
            "Failed to set data for 'x'");
  // A later create asks only for reading rights: the key it opens refuses writes.
  ASSERT_TRUE(registry.EnterKey("\\" + KeyPath() + "\\Made", true));
  EXPECT_TRUE(SubKeyExists("Made"));
  EXPECT_EQ(registry.AccessMask(), KEY_READ);
  EXPECT_EQ(RaisedMessage([&] { registry.WriteStringValue("x", "1"); }),
            "Failed to set data for 'x'");
  EXPECT_EQ(registry.LastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(registry.ActivePath(), KeyPath() + "\\Made") << "the key stays entered";
}

TEST_F(TRegistryTest, SelectRootLeavesTheKeyOnlyForAnotherRoot) {
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  registry.SelectRoot(HKEY_CURRENT_USER);
  EXPECT_EQ(registry.ActivePath(), KeyPath());
  EXPECT_NE(registry.ActiveHandle(), nullptr);
  registry.SelectRoot(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(registry.RootHandle(), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(registry.ActivePath(), "");
  EXPECT_EQ(registry.ActiveHandle(), nullptr);
  EXPECT_TRUE(registry.KeyPresent("SOFTWARE")) << "paths now resolve against the new root";
  EXPECT_FALSE(registry.KeyPresent(KeyPath()));
}

TEST_F(TRegistryTest, TheRootsOwnHandleIsNeverClosed) {
  // Entering the empty path under a root gives the root's predefined handle
  // (HKCR\ on the command line), which is the system's to close.
  const uint64_t closes_before = posix::PredefinedKeyCloses();
  for (const HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    TRegistry registry;
    registry.SelectRoot(root);
    ASSERT_TRUE(registry.EnterKeyReadOnly(""));
    EXPECT_EQ(registry.ActiveHandle(), root);
    registry.LeaveKey();
    EXPECT_TRUE(registry.KeyPresent(""));
    // Also when another root is selected while the root is entered, and
    // when the object goes with it entered.
    ASSERT_TRUE(registry.EnterKeyReadOnly("\\"));
    registry.SelectRoot(HKEY_USERS);
    ASSERT_TRUE(registry.EnterKeyReadOnly(""));
  }
  EXPECT_EQ(posix::PredefinedKeyCloses(), closes_before);
}

TEST_F(TRegistryTest, KeyPresentUsesThePathRuleAndLeavesStateAlone) {
  CreateSubKey("A");
  TRegistry registry;
  EXPECT_TRUE(registry.KeyPresent(KeyPath() + "\\A"));
  EXPECT_FALSE(registry.KeyPresent(KeyPath() + "\\Nope"));
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  EXPECT_TRUE(registry.KeyPresent("A"));
  EXPECT_TRUE(registry.KeyPresent("\\" + KeyPath() + "\\A"));
  EXPECT_FALSE(registry.KeyPresent("\\A"));
  EXPECT_EQ(registry.ActivePath(), KeyPath());
}

TEST_F(TRegistryTest, ValueSizes) {
  SetValue("empty", REG_SZ, "");
  SetValue("bin", REG_BINARY, "\x01\x02\x03");
  SetValue("", REG_SZ, std::string("d", 2));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  EXPECT_EQ(registry.ValueDataSize("missing"), -1);
  EXPECT_FALSE(registry.ValuePresent("missing"));
  EXPECT_EQ(registry.ValueDataSize("empty"), 0);
  EXPECT_TRUE(registry.ValuePresent("empty"));
  EXPECT_EQ(registry.ValueDataSize("bin"), 3);
  EXPECT_EQ(registry.ValueDataSize(""), 2) << "the unnamed value";
}

TEST_F(TRegistryTest, ReadStringValue) {
  SetValue("sz", REG_SZ, std::string("abc\0", 4));
  SetValue("cut", REG_SZ, std::string("ab\0cd\0", 6));
  SetValue("exp", REG_EXPAND_SZ, std::string("%path%\0", 7));
  SetValue("nodata", REG_SZ, "");
  SetValue("multi", REG_MULTI_SZ, std::string("a\0\0", 3));
  SetValue("dword", REG_DWORD, Dword(1));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  struct Case {
    std::string name;
    std::string text;     // when nothing is raised
    std::string message;  // when raised
  };
  const Case cases[] = {
      {"sz", "abc", ""},
      {"cut", "ab", ""},
      {"exp", "%path%", ""},
      {"nodata", "", ""},
      {"missing", "", ""},
      {"multi", "", "Invalid data type for 'multi'"},
      {"dword", "", "Invalid data type for 'dword'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    EXPECT_EQ(RaisedMessage([&] { text = registry.ReadStringValue(c.name); }), c.message);
    EXPECT_EQ(text, c.text);
  }
  EXPECT_EQ(registry.ActivePath(), KeyPath()) << "the key stays entered after a raise";
}

TEST_F(TRegistryTest, ReadIntegerValue) {
  SetValue("neg", REG_DWORD, Dword(0xFFFFFFFE));
  SetValue("short", REG_DWORD, "\x07");
  SetValue("big", REG_DWORD_BIG_ENDIAN, Dword(1));
  SetValue("long_sz", REG_SZ, std::string("hello\0", 6));
  SetValue("wide", REG_DWORD, Dword(1) + Dword(2));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  struct Case {
    std::string name;
    int32_t value;
    std::string message;
  };
  const Case cases[] = {
      {"neg", -2, ""},
      {"short", 7, ""},  // missing bytes are zero
      {"big", 0, "Invalid data type for 'big'"},
      {"long_sz", 0, "Failed to get data for 'long_sz'"},
      {"wide", 0, "Failed to get data for 'wide'"},
      {"missing", 0, "Failed to get data for 'missing'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t value = 0;
    EXPECT_EQ(RaisedMessage([&] { value = registry.ReadIntegerValue(c.name); }), c.message);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(TRegistryTest, ReadValueDataReportsKindAndSize) {
  SetValue("sz", REG_SZ, std::string("ab\0", 3));
  SetValue("exp", REG_EXPAND_SZ, std::string("x\0", 2));
  SetValue("bin", REG_BINARY, "\xFE\x34");
  SetValue("dw", REG_DWORD, Dword(5));
  SetValue("none", REG_NONE, "z");
  SetValue("big", REG_DWORD_BIG_ENDIAN, Dword(5));
  SetValue("multi", REG_MULTI_SZ, std::string("a\0\0", 3));
  SetValue("qword", 11, Dword(1) + Dword(0));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  struct Case {
    std::string name;
    DataKind kind;
    DWORD size;
  };
  const Case cases[] = {
      {"sz", dkString, 3},     {"exp", dkExpandString, 2}, {"bin", dkBinary, 2},
      {"dw", dkInteger, 4},    {"none", dkUnknown, 1},     {"big", dkUnknown, 4},
      {"multi", dkUnknown, 3}, {"qword", dkUnknown, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[16] = {};
    DataKind kind = dkBinary;
    EXPECT_EQ(registry.ReadValueData(c.name, buffer, sizeof buffer, kind), c.size);
    EXPECT_EQ(kind, c.kind);
  }
  char small[1] = {};
  DataKind kind = dkUnknown;
  EXPECT_EQ(RaisedMessage([&] { registry.ReadValueData("sz", small, sizeof small, kind); }),
            "Failed to get data for 'sz'");
}

TEST_F(TRegistryTest, WriteStringValueStoresTheTextWithOneNul) {
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  registry.WriteStringValue("v", "text");
  registry.WriteStringValue("", "");
  DWORD type = 0;
  char data[16] = {};
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExA(Key(), "v", nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(data, size), std::string("text\0", 5));
  EXPECT_EQ(registry.ValueDataSize(""), 1);
  EXPECT_EQ(registry.ReadStringValue(""), "");
}

TEST_F(TRegistryTest, RemoveValue) {
  SetValue("v", REG_SZ, std::string("x\0", 2));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  EXPECT_TRUE(registry.RemoveValue("v"));
  EXPECT_FALSE(registry.ValuePresent("v"));
  EXPECT_FALSE(registry.RemoveValue("v"));
  EXPECT_EQ(registry.LastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(TRegistryTest, ListingsFollowEnumerationOrder) {
  CreateSubKey("beta");
  CreateSubKey("Alpha");
  CreateSubKey("\xC3\xA4hnlich");  // a name longer in bytes than in characters
  CreateSubKey("gamma\\inner");
  SetValue("second", REG_SZ, std::string("", 1));
  SetValue("first", REG_SZ, std::string("", 1));
  SetValue("\xC3\xBC\xC3\xBC\xC3\xBC", REG_DWORD, Dword(0));
  SetValue("", REG_SZ, std::string("", 1));
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  TStringList list{"stale"};
  registry.ListSubKeys(list);
  EXPECT_EQ(list, (TStringList{"Alpha", "beta", "gamma", "\xC3\xA4hnlich"}));
  registry.ListValueNames(list);
  EXPECT_EQ(list, (TStringList{"second", "first", "\xC3\xBC\xC3\xBC\xC3\xBC", ""}));
  EXPECT_TRUE(registry.HasChildKeys());
  ASSERT_TRUE(registry.EnterKey("Alpha", false));
  EXPECT_FALSE(registry.HasChildKeys());
  registry.ListSubKeys(list);
  EXPECT_TRUE(list.empty());
}

TEST_F(TRegistryTest, ListingsWithoutAnEnteredKeyAreEmpty) {
  TRegistry registry;
  TStringList list{"stale"};
  registry.ListSubKeys(list);
  EXPECT_TRUE(list.empty());
  list = {"stale"};
  registry.ListValueNames(list);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(registry.HasChildKeys());
}

TEST_F(TRegistryTest, RemoveKeyTreeRemovesNestedKeys) {
  CreateSubKey("Tree\\A\\A1\\A11");
  CreateSubKey("Tree\\A\\A2");
  CreateSubKey("Tree\\B");
  CreateSubKey("Keep");
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath(), false));
  const HKEY handle = registry.ActiveHandle();
  EXPECT_TRUE(registry.RemoveKeyTree("Tree"));
  EXPECT_FALSE(SubKeyExists("Tree"));
  EXPECT_TRUE(SubKeyExists("Keep"));
  EXPECT_EQ(registry.ActiveHandle(), handle) << "the entered key is restored";
  EXPECT_EQ(registry.ActivePath(), KeyPath());
  EXPECT_FALSE(registry.RemoveKeyTree("Tree")) << "a path that does not exist";
}

TEST_F(TRegistryTest, RemoveKeyTreeAbsoluteWhileEntered) {
  CreateSubKey("Inner\\Child");
  TRegistry registry;
  ASSERT_TRUE(registry.EnterKey(KeyPath() + "\\Inner", false));
  EXPECT_TRUE(registry.RemoveKeyTree("\\" + KeyPath() + "\\Inner\\Child"));
  EXPECT_FALSE(SubKeyExists("Inner\\Child"));
  EXPECT_TRUE(SubKeyExists("Inner"));
}

}  // namespace
}  // namespace orvik
