// Root keys and full key names: splitting "ROOTKEY\SubKey" and mapping the
// root text to the platform's predefined keys. Nothing here fails: every
// root text not recognised means HKEY_LOCAL_MACHINE.
#include "manip/root_keys.h"

#include <string_view>

#include "platform/ansi_text.h"

namespace orvik {

namespace {

enum class Root { kCurrentUser, kClassesRoot, kUsers, kCurrentConfig, kLocalMachine };

// Tests the rows in order, each row's short form before its long form.
Root RootOf(const std::string& root_text) {
  struct Row {
    std::string_view short_name;
    std::string_view long_name;
    Root root;
  };
  static constexpr Row kRows[] = {
      {"HKCU", "HKEY_CURRENT_USER", Root::kCurrentUser},
      {"HKCR", "HKEY_CLASSES_ROOT", Root::kClassesRoot},
      {"HKU", "HKEY_USERS", Root::kUsers},
      {"HKCC", "HKEY_CURRENT_CONFIG", Root::kCurrentConfig},
  };
  const std::string upper = UpperAsciiLetters(root_text);
  for (const Row& row : kRows) {
    if (upper == row.short_name || upper == row.long_name) return row.root;
  }
  return Root::kLocalMachine;
}

}  // namespace

HKEY RootKeyFromName(const std::string& root_text) {
  switch (RootOf(root_text)) {
    case Root::kCurrentUser:
      return HKEY_CURRENT_USER;
    case Root::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case Root::kUsers:
      return HKEY_USERS;
    case Root::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
    case Root::kLocalMachine:
      break;
  }
  return HKEY_LOCAL_MACHINE;
}

std::string FullRootName(const std::string& root_text) {
  switch (RootOf(root_text)) {
    case Root::kCurrentUser:
      return "HKEY_CURRENT_USER";
    case Root::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case Root::kUsers:
      return "HKEY_USERS";
    case Root::kCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
    case Root::kLocalMachine:
      break;
  }
  return "HKEY_LOCAL_MACHINE";
}

void SplitKeyName(std::string& key_name, std::string& root_text) {
  const size_t backslash = FindBackslash(key_name);
  if (backslash == std::string::npos) {
    root_text.clear();
    return;
  }
  root_text = key_name.substr(0, backslash);
  key_name.erase(0, backslash + 1);
}

void ResolveKeyName(TRegistry& registry, std::string& root_text, std::string& key_name) {
  SplitKeyName(key_name, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));
}

}  // namespace orvik
