// Opening, creating, closing and removing keys: paths, case, rights and
// removed keys.
#include <string>

#include "platform/posix/registry_fixture.h"

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
  EXPECT_TRUE(SubKeys(HKEY_CLASSES_ROOT).empty());
  EXPECT_TRUE(SubKeys(HKEY_CURRENT_CONFIG).empty());
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

}  // namespace
}  // namespace orvik::posix
