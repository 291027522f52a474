// Tests of applying parsed entries to a fresh registry.
#include "regedit/reg_apply.h"

#include <gtest/gtest.h>

#include "platform/posix/handles/registry_transaction.h"
#include "platform/posix/testing/registry_fixture.h"
#include "regedit/reg_import.h"
#include "tests/support/process_runner.h"

namespace orvik::regedit {
namespace {

class RegApplyTest : public orvik::posix::RegistryTest {
 protected:
  // As in orvik-regedit, changes gather in one transaction per file.
  void SetUp() override {
    RegistryTest::SetUp();
    orvik::posix::GatherRegistryChanges();
  }

  bool Import(const std::string& text, ImportProblem* problem = nullptr) {
    const std::string path = files_.File("in.reg");
    orvik::test::WriteFileBytes(path, text);
    ImportProblem ignored;
    orvik::posix::CommitRegistryChanges();  // what the test set up before
    return ImportRegFile(path, problem != nullptr ? problem : &ignored);
  }
  bool Exists(const std::string& path) {
    HKEY key = nullptr;
    if (Open(HKEY_CURRENT_USER, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  std::string Read(const std::string& path, const std::string& name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (Open(HKEY_CURRENT_USER, path, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    const std::string data = Get(key, name, type);
    RegCloseKey(key);
    return data;
  }

  orvik::test::TempDir files_;
};

TEST_F(RegApplyTest, CreatesKeysWritesAndRemovesValuesAndTrees) {
  ASSERT_TRUE(Import(
      "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\A\\B\\C]\n\"s\"=\"text\"\n\"d\"=dword:0000001f\n"
      "\"m\"=hex(7):61,00,62,00,00\n\"q\"=hex(b):01,00,00,00,00,00,00,00\n"
      "[HKEY_CURRENT_USER\\Software\\Old\\Deep\\Deeper]\n\"x\"=\"y\"\n"
      "[HKEY_CURRENT_USER\\Software\\Keep]\n\"x\"=\"y\"\n\"z\"=\"y\"\n"));
  DWORD type = 0;
  EXPECT_EQ(Read("Software\\A\\B\\C", "s", &type), std::string("text\0", 5));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Read("Software\\A\\B\\C", "d", &type), std::string("\x1f\0\0\0", 4));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(Read("Software\\A\\B\\C", "m", &type), std::string("a\0b\0\0", 5));
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(Read("Software\\A\\B\\C", "q", &type), std::string("\1\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(type, REG_QWORD);

  ASSERT_TRUE(Import(
      "REGEDIT4\n[-HKEY_CURRENT_USER\\Software\\Old]\n[-HKEY_CURRENT_USER\\Software\\Never]\n"
      "[HKEY_CURRENT_USER\\Software\\Keep]\n\"x\"=-\n\"never\"=-\n"));
  EXPECT_FALSE(Exists("Software\\Old"));
  EXPECT_TRUE(Exists("Software"));
  EXPECT_EQ(Read("Software\\Keep", "x"), "<error 2>");
  EXPECT_EQ(Read("Software\\Keep", "z"), std::string("y\0", 2));
}

TEST_F(RegApplyTest, StoresStringsOfVersion5HexFormsExactlyAndOfRegedit4AsAnsi) {
  // The same REG_EXPAND_SZ "Ä" in each format's own encoding of string data.
  ASSERT_TRUE(Import("REGEDIT4\n[HKEY_CURRENT_USER\\x]\n\"e\"=hex(2):c3,84,00\n"));
  ASSERT_TRUE(Import(
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\y]\n\"e\"=hex(2):c4,00,00,00\n"));
  for (const char* key : {"x", "y"}) {
    HKEY h = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, key, KEY_READ, &h), ERROR_SUCCESS);
    BYTE data[16];
    DWORD size = sizeof(data);
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(h, u"e", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("\xc4\0\0\0", 4))
        << key;
    EXPECT_EQ(type, REG_EXPAND_SZ);
    RegCloseKey(h);
  }
}

TEST_F(RegApplyTest, AMalformedFileChangesNothing) {
  ImportProblem problem;
  EXPECT_FALSE(Import(
      "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\New]\n\"a\"=\"b\"\n\"c\"=dword:xyz\n", &problem));
  EXPECT_EQ(problem.line, 4);
  EXPECT_FALSE(Exists("Software\\New"));
}

TEST_F(RegApplyTest, ARefusedChangeUndoesTheWholeFile) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Before");
  SetString(key, "kept", "1");
  RegCloseKey(key);
  // The second key's name is longer than any key name may be.
  ImportProblem problem;
  EXPECT_FALSE(
      Import("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\New]\n\"a\"=\"b\"\n"
             "[-HKEY_CURRENT_USER\\Software\\Before]\n"
             "[HKEY_CURRENT_USER\\Software\\" +
                 std::string(300, 'k') + "]\n",
             &problem));
  EXPECT_EQ(problem.line, 5);
  EXPECT_NE(problem.message.find("refused"), std::string::npos) << problem.message;
  EXPECT_FALSE(Exists("Software\\New"));
  EXPECT_EQ(Read("Software\\Before", "kept"), std::string("1\0", 2));
  // The registry goes on working, and a later file is imported.
  EXPECT_TRUE(Import("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Later]\n\"a\"=\"b\"\n"));
  EXPECT_TRUE(Exists("Software\\Later"));
  EXPECT_TRUE(Exists("Software\\Before"));
}

TEST_F(RegApplyTest, ReportsFilesThatCannotBeRead) {
  ImportProblem problem;
  EXPECT_FALSE(ImportRegFile(files_.File("missing.reg"), &problem));
  EXPECT_EQ(problem.line, 0);
  EXPECT_FALSE(ImportRegFile(files_.path(), &problem));
  EXPECT_NE(problem.message.find("directory"), std::string::npos);
}

}  // namespace
}  // namespace orvik::regedit
