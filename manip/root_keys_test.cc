// Tests of full key names and root keys.
#include "manip/root_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/code_page_932.h"

namespace orvik {
namespace {

TEST(SplitKeyName, SplitsAtTheFirstBackslash) {
  struct Case {
    std::string full_name;
    std::string root_text;
    std::string sub_key;
  };
  const Case cases[] = {
      {"hkcu\\Software\\Test", "hkcu", "Software\\Test"},
      {"HKEY_CURRENT_USER\\Software\\Test", "HKEY_CURRENT_USER", "Software\\Test"},
      {"HKCU", "", "HKCU"},                        // no backslash: all SubKey
      {"Software\\Test", "Software", "Test"},      // root forgotten
      {"HKCU\\", "HKCU", ""},                      // the root itself
      {"HKCU\\Software\\", "HKCU", "Software\\"},  // trailing backslash kept
      {"\\Software\\Test", "", "Software\\Test"},  // leading backslash
      {"hklm\\\\a", "hklm", "\\a"},                // doubled backslash
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string key_name = c.full_name;
    std::string root_text = "left over";
    SplitKeyName(key_name, root_text);
    EXPECT_EQ(root_text, c.root_text) << c.full_name;
    EXPECT_EQ(key_name, c.sub_key) << c.full_name;
  }
}

TEST(SplitKeyName, ABackslashInsideADoubleByteCharacterSplitsNothing) {
  // 表 is 95 5C in code page 932: its second byte is no separator.
  const test::CodePage932 cp932;
  const struct {
    std::string full_name;
    std::string root_text;
    std::string sub_key;
  } cases[] = {
      {"\x95\x5C\\x", "\x95\x5C", "x"},
      {"hkcu\\\x95\x5C\\x", "hkcu", "\x95\x5C\\x"},
      {"\x95\x5C", "", "\x95\x5C"},
  };
  for (const auto& c : cases) {
    std::string key_name = c.full_name;
    std::string root_text;
    SplitKeyName(key_name, root_text);
    EXPECT_EQ(root_text, c.root_text) << c.full_name;
    EXPECT_EQ(key_name, c.sub_key) << c.full_name;
  }
}

TEST(RootKeys, MapEveryRootTextToItsKeyAndFullName) {
  struct Case {
    std::string root_text;
    HKEY root;
    std::string full_name;
  };
  const Case cases[] = {
      {"HKCU", HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
      {"hkcu", HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
      {"Hkey_Current_User", HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
      {"hkcr", HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
      {"hku", HKEY_USERS, "HKEY_USERS"},
      {"hkey_users", HKEY_USERS, "HKEY_USERS"},
      {"hkcc", HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
      {"HKLM", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      {"hkey_local_machine", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      // Anything unrecognised is HKEY_LOCAL_MACHINE.
      {"", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      {"Software", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      {"HKCU ", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      {"HKCUX", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      {"HKEY_USER", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
      // Only ASCII letters are upper-cased: a byte above 127 never matches.
      {"hk\xE7u", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RootKeyFromName(c.root_text), c.root) << c.root_text;
    EXPECT_EQ(FullRootName(c.root_text), c.full_name) << c.root_text;
  }
}

TEST(ResolveKeyName, SplitsAndSelectsTheRoot) {
  TRegistry registry;
  std::string root_text;
  std::string key_name = "hku\\.Default\\X";
  ResolveKeyName(registry, root_text, key_name);
  EXPECT_EQ(root_text, "hku");
  EXPECT_EQ(key_name, ".Default\\X");
  EXPECT_EQ(registry.RootHandle(), HKEY_USERS);

  key_name = "Software\\Test";  // an unrecognised root: HKEY_LOCAL_MACHINE
  ResolveKeyName(registry, root_text, key_name);
  EXPECT_EQ(root_text, "Software");
  EXPECT_EQ(key_name, "Test");
  EXPECT_EQ(registry.RootHandle(), HKEY_LOCAL_MACHINE);
}

}  // namespace
}  // namespace orvik
