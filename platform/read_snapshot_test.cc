// Tests of read snapshots: the reads of this process see the registry of one
// moment while another process changes it, without holding that process up.
#include "platform/read_snapshot.h"

#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

class ReadSnapshotTest : public RegistryTest {
 protected:
  // Runs the registry tool in another process; its output.
  std::string Other(const std::vector<std::string>& args) {
    orvik::test::RunOptions options;
    options.env = {{"ORVIK_REGISTRY", RegistryDir()}};
    return orvik::test::RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool", args, options)
        .out;
  }
  std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        return names;
      }
      names.emplace_back(name, length);
    }
  }
};

TEST_F(ReadSnapshotTest, ReadsSeeOneMomentWhileAnotherProcessChangesTheTree) {
  HKEY a = Create(HKEY_CURRENT_USER, "Software\\Tree\\A");
  SetString(a, "v", "1");
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Tree\\B"));
  HKEY tree = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Tree", KEY_READ, &tree), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(tree), (std::vector<std::string>{"A", "B"}));

  ASSERT_EQ(BeginReadSnapshot(), ERROR_SUCCESS);
  // The other process's changes go through at once.
  EXPECT_EQ(Other({"set", "HKCU\\Software\\Tree\\A", "v", "2"}), "0\n");
  EXPECT_EQ(Other({"delete-key", "HKCU\\Software\\Tree\\B"}), "0\n");
  EXPECT_EQ(Subkeys(tree), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Get(a, "v"), std::string("1\0", 2));
  HKEY b = nullptr;
  EXPECT_EQ(Open(tree, "B", KEY_READ, &b), ERROR_SUCCESS);
  RegCloseKey(b);
  // Nothing changes the moment that is read.
  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &created, nullptr),
            ERROR_BUSY);
  EndReadSnapshot();

  EXPECT_EQ(Subkeys(tree), (std::vector<std::string>{"A"}));
  EXPECT_EQ(Get(a, "v"), std::string("2\0", 2));
  EXPECT_EQ(Open(tree, "B", KEY_READ, &b), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\New"));
  RegCloseKey(a);
  RegCloseKey(tree);
}

}  // namespace
}  // namespace orvik::posix
