// Tests of TRegistryExport where the command line cannot reach: the key
// entered around a walk, single values, the version 5 header and writing the
// lines without streaming.
#include "export/registry_export.h"

#include <gtest/gtest.h>

#include <string>

#include "export/reg_lines.h"
#include "registry/test_registry.h"

namespace orvik {
namespace {

class RegistryExportTest : public test::ScratchKeyTest {
 protected:
  // A writer over HKEY_CURRENT_USER.
  void SetUp() override {
    test::ScratchKeyTest::SetUp();
    writer_.SetRootIndex(RootIndexOf(HKEY_CURRENT_USER));
  }
  std::string Section(const std::string& below = "") const {
    return "[HKEY_CURRENT_USER\\" + KeyPath() + below + "]";
  }

  TRegistryExport writer_;
};

TEST_F(RegistryExportTest, KeyEnteredBeforeAWalkIsEnteredAgainAfterIt) {
  CreateSubKey("A\\B");
  SetValue("v", REG_SZ, std::string("x\0", 2));
  EXPECT_EQ(writer_.RootName(), "HKEY_CURRENT_USER");
  EXPECT_EQ(writer_.RootIndex(), 1);

  writer_.ExportKey(KeyPath());
  EXPECT_EQ(writer_.Registry().ActivePath(), "");
  EXPECT_NE(writer_.Registry().ActiveHandle(), nullptr) << "the root, reopened";

  ASSERT_TRUE(writer_.Registry().EnterKeyReadOnly(KeyPath()));
  writer_.ExportKey("A");  // relative to the entered key
  EXPECT_EQ(writer_.Registry().ActivePath(), KeyPath());
  EXPECT_EQ(writer_.Lines(),
            test::Lines({"", Section(), "\"v\"=\"x\"", "", Section("\\A"), "", Section("\\A\\B"),
                         "", Section("\\A"), "", Section("\\A\\B")}));
}

TEST_F(RegistryExportTest, ValueThatCannotBeReadLeavesTheWalkWithTheKeyEnteredAgain) {
  CreateSubKey("Sub");
  ASSERT_TRUE(writer_.Registry().EnterKeyReadOnly(KeyPath()));
  HKEY sub = nullptr;
  ASSERT_EQ(RegOpenKeyExA(Key(), "Sub", 0, KEY_ALL_ACCESS, &sub), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(sub, "Wide", 0, REG_DWORD, reinterpret_cast<const BYTE*>("12345678"), 8),
            ERROR_SUCCESS);
  RegCloseKey(sub);
  try {
    writer_.ExportKey("Sub");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'Wide'");
  }
  EXPECT_EQ(writer_.Registry().ActivePath(), KeyPath());
}

TEST_F(RegistryExportTest, SingleValuesOfTheEnteredKey) {
  SetValue("", REG_DWORD, std::string("\x02\0\0\0", 4));
  SetValue("Long", REG_BINARY, std::string(30, '\x11'));
  ASSERT_TRUE(writer_.Registry().EnterKeyReadOnly(KeyPath()));
  writer_.ExportValue("");
  writer_.ExportValue("Gone");  // cannot be queried: type 0, no data
  writer_.ExportValue("Long");
  EXPECT_EQ(writer_.Lines(),
            test::Lines({"@=dword:00000002", "\"Gone\"=hex(0):",
                         "\"Long\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,"
                         "11,11,11,\\",
                         "  11,11,11,11,11,11,11,11"}));
}

TEST_F(RegistryExportTest, WriteToFileWithoutStreamingWritesEveryLineEachTime) {
  test::TempDir dir;
  const std::string file = dir.File("out.reg");
  writer_.WriteHeader(true);
  writer_.ExportKey(KeyPath());
  const std::string expected = test::Lines({"Windows Registry Editor Version 5.00", "", Section()});
  writer_.WriteToFile(file);
  EXPECT_EQ(test::ReadFileBytes(file), expected);
  EXPECT_EQ(writer_.Lines(), expected);
  writer_.WriteToFile(file);
  EXPECT_EQ(test::ReadFileBytes(file), expected);
  try {
    writer_.WriteToFile(dir.File("no/such/dir"));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + dir.File("no/such/dir"));
  }
}

TEST_F(RegistryExportTest, StreamedLinesReachTheFileOnlyWhenItIsWritten) {
  test::TempDir dir;
  const std::string file = dir.File("out.reg");
  test::WriteFileBytes(file, "earlier");
  SetValue("Big", REG_BINARY, std::string(200000, '\x7f'));  // more than one batch
  writer_.WriteHeader(false);
  writer_.StreamToFile(file);
  writer_.ExportKey(KeyPath());
  EXPECT_EQ(test::ReadFileBytes(file), "earlier");
  EXPECT_LT(writer_.Lines().size(), 600000u) << "batches went to the new file";
  writer_.WriteToFile(file);

  TRegistryExport in_memory;
  in_memory.SetRootIndex(RootIndexOf(HKEY_CURRENT_USER));
  in_memory.WriteHeader(false);
  in_memory.ExportKey(KeyPath());
  EXPECT_EQ(test::ReadFileBytes(file), in_memory.Lines());
  EXPECT_EQ(writer_.Lines(), "");
}

}  // namespace
}  // namespace orvik
