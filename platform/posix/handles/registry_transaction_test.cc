// Tests of gathering a program's changes into one transaction: kept whole on
// commit, undone whole on discard or after a failed change.
#include "platform/posix/handles/registry_transaction.h"

#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

class RegistryTransactionTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    GatherRegistryChanges();
  }
  bool Exists(const std::string& path) {
    HKEY key = nullptr;
    if (Open(HKEY_CURRENT_USER, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // What another process sees.
  std::string Other(const std::string& path) {
    orvik::test::RunOptions options;
    options.env = {{"ORVIK_REGISTRY", RegistryDir()}};
    return orvik::test::RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool",
                                   {"list", "HKCU\\" + path}, options)
        .out;
  }
};

TEST_F(RegistryTransactionTest, CommitKeepsAndDiscardUndoesEverythingSinceTheLastCommit) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Kept");
  SetString(key, "v", "1");
  RegCloseKey(key);
  EXPECT_EQ(Other("Software"), "");  // nothing is visible before the commit
  ASSERT_EQ(CommitRegistryChanges(), ERROR_SUCCESS);
  EXPECT_EQ(Other("Software"), "Kept\n");

  key = Create(HKEY_CURRENT_USER, "Software\\Undone");
  SetString(key, "v", "1");
  RegCloseKey(key);
  key = Create(HKEY_CURRENT_USER, "Software\\Kept");
  SetString(key, "v", "2");
  RegCloseKey(key);
  DiscardRegistryChanges();
  EXPECT_FALSE(Exists("Software\\Undone"));
  key = Create(HKEY_CURRENT_USER, "Software\\Kept");
  EXPECT_EQ(Get(key, "v"), std::string("1\0", 2));
  RegCloseKey(key);
  EXPECT_EQ(CommitRegistryChanges(), ERROR_SUCCESS);
}

TEST_F(RegistryTransactionTest, AFailedChangeSpoilsTheGatheredChanges) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Before");
  RegCloseKey(key);
  ASSERT_EQ(CommitRegistryChanges(), ERROR_SUCCESS);
  key = Create(HKEY_CURRENT_USER, "Software\\New");
  SetString(key, "v", "1");
  // Removing a key that has subkeys fails after the call began to write.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software"), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  EXPECT_EQ(CommitRegistryChanges(), ERROR_FUNCTION_FAILED);
  EXPECT_FALSE(Exists("Software\\New"));
  EXPECT_TRUE(Exists("Software\\Before"));
  // Later changes start afresh.
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Later"));
  EXPECT_EQ(CommitRegistryChanges(), ERROR_SUCCESS);
  EXPECT_TRUE(Exists("Software\\Later"));
}

}  // namespace
}  // namespace orvik::posix
