// End-to-end tests of the command front end: the built program's usage
// screen, every operation's help screen byte for byte, the choice of
// operation, exit codes, the error report, and how POSIX arguments arrive.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

const std::string kBanner =
    Lines({"Corvane Registry Console Tool 1.0", "Copyright (c) 2026 Corvane Inc.", ""});

const std::string kUsage = Lines({
    "Orvik Operation [Parameters]",
    "  Operation =  QUERY | ADD | DELETE | COPY | SAVE | LOAD | UNLOAD |",
    "               RESTORE | COMPARE | EXPORT | IMPORT",
    "",
    "For help on a specific operation type:",
    "  Orvik Operation /?",
    "",
    "Examples:",
    "  Orvik QUERY /?",
    "  Orvik ADD /?",
    "  Orvik DELETE /?",
    "  Orvik COPY /?",
    "  Orvik SAVE /?",
    "  Orvik RESTORE /?",
    "  Orvik LOAD /?",
    "  Orvik UNLOAD /?",
    "  Orvik COMPARE /?",
    "  Orvik EXPORT /?",
    "  Orvik IMPORT /?",
});

const std::string kQueryHelp = Lines({
    "Orvik QUERY FullKeyName [ /v ValueName | /ve | /s ]",
    "",
    "  FullKeyName  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key under the selected ROOTKEY",
    "  ValueName  The value name, under the selected Key, to query",
    "             When omitted, all values under the Key are queried",
    "  /ve        query the empty value name <no name>",
    "  /s         queries all subkeys and values",
    "",
    "Examples:",
    "",
    "  Orvik QUERY HKLM\\Software\\MyCo\\MyApp /v Version",
    "    Displays the value of the registry value Version",
    "",
    "  Orvik QUERY HKLM\\Software\\MyCo\\MyApp\\Setup /s",
    "    Displays all subkeys and values under the registry key Setup",
});

const std::string kAddHelp = Lines({
    "Orvik ADD FullKeyName [/v ValueName] [/t Type] [/s Separator] [/d Data] [/f]",
    "",
    "  FullKeyName  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key under the selected ROOTKEY",
    "  ValueName  The value name to add under the selected Key",
    "  Type       [ REG_SZ    | REG_MULTI_SZ  | REG_DWORD_BIG_ENDIAN    |",
    "               REG_DWORD | REG_BINARY    | REG_DWORD_LITTLE_ENDIAN |",
    "               REG_NONE  | REG_EXPAND_SZ ]",
    "             If omitted, REG_SZ is assumed",
    "  Separator  Specify one character that you use as the separator in your data",
    "             string for REG_MULTI_SZ. If omitted, use \"\\0\" as the separator",
    "  Data       The data to assign to the registry ValueName being added",
    "  /f         Accepted for command-line compatibility. This is not supported!",
    "",
    "Examples:",
    "",
    "  Orvik ADD HKLM\\Software\\MyCo",
    "    Adds a key HKLM\\Software\\MyCo",
    "",
    "  Orvik ADD HKLM\\Software\\MyCo /v Data /t REG_BINARY /d fe340ead",
    "    Adds a value (name: Data, type: REG_BINARY, data: fe340ead)",
    "",
    "  Orvik ADD HKLM\\Software\\MyCo /v MRU /t REG_MULTI_SZ /d fax\\0mail",
    "    Adds a value (name: MRU, type: REG_MUTLI_SZ, data: fax\\0mail\\0\\0)",
    "",
    "  Orvik ADD HKLM\\Software\\MyCo /v Path /t REG_EXPAND_SZ /d %\"systemroot\"%",
    "    Adds a value (name: Path, type: REG_EXPAND_SZ, data: %systemroot%)",
    "    Notice:  Put the double quote ( \" ) inside the expand string",
});

const std::string kDeleteHelp = Lines({
    "Orvik DELETE FullKeyName [/v ValueName | /ve | /va] [/f]",
    "",
    "  FullKeyName ROOTKEY\\SubKey",
    "    ROOTKEY   [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey    The full name of a registry key under the selected ROOTKEY",
    "  ValueName   The value name, under the selected Key, to delete",
    "              When omitted, all subkeys and values under the Key are deleted",
    "  /ve         delete the value of empty value name <no name>",
    "  /va         delete all values under this key",
    "  /f         Accepted for command-line compatibility. This is not supported!",
    "",
    "Examples:",
    "",
    "  Orvik DELETE HKLM\\Software\\MyCo\\MyApp\\Timeout",
    "    Deletes the registry key Timeout and its all subkeys and values",
});

const std::string kCopyHelp = Lines({
    "Orvik COPY KeyName1 KeyName2 [/s] [/f]",
    "",
    "  KeyName    FullKey",
    "    FullKey  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key under the selected ROOTKEY",
    "  /s         Copies all subkeys and values",
    "  /f         Accepted for command-line compatibility. This is not supported!",
    "",
    "Examples:",
    "",
    "  Orvik COPY HKLM\\Software\\MyCo\\MyApp HKLM\\Software\\MyCo\\SaveMyApp /s",
    "    Copies all subkeys and values under the key MyApp to the key SaveMyApp",
});

const std::string kCompareHelp = Lines({
    "Orvik COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [Output] [/s]",
    "",
    "  KeyName    FullKey",
    "    FullKey  ROOTKEY\\SubKey",
    "             If FullKey2 is not specified, FullKey2 is the same as FullKey1",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key under the selected ROOTKEY",
    "  ValueName  The value name, under the selected Key, to compare",
    "             When omitted, all values under the Key are compared",
    "  /ve        compare the value of empty value name <no name>",
    "  /s         Compare all subkeys and values",
    "  Output     [/oa | /od | /os | /on]",
    "             When omitted, output only differences",
    "    /oa      Output all of differences and matches",
    "    /od      Output only differences",
    "    /os      Output only matches",
    "    /on      No output",
    "",
    "Return Code:",
    "",
    "  0 - Succussful, the result compared is identical",
    "  1 - Failed",
    "  2 - Successful, the result compared is different",
    "",
    "Examples:",
    "",
    "  Orvik COMPARE HKLM\\Software\\MyCo\\MyApp HKLM\\Software\\MyCo\\SaveMyApp",
    "    Compares all values under the key MyApp with SaveMyApp",
    "",
    "  Orvik COMPARE HKLM\\Software\\MyCo HKLM\\Software\\MyCo1 /v Version",
    "    Compares the value Version under the key MyCo and MyCo1",
    "",
});

const std::string kSaveHelp = Lines({
    "Orvik SAVE FullKey FileName",
    "  FullKey  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key under the selected ROOTKEY",
    "  FileName   The name of the disk file to save. If no path is specified,",
    "             the file is created in the current folder of the calling process.",
    "",
    "Examples:",
    "",
    "  Orvik SAVE HKLM\\Software\\MyCo\\MyApp AppBkUp.hiv",
    "    Saves the hive MyApp to the file AppBkUp.hiv in current folder",
    "",
});

const std::string kRestoreHelp = Lines({
    "Orvik RESTORE FullKey FileName",
    "  FullKey  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key to restore the hive file into.",
    "             Overwriting the existing key's values and subkeys",
    "  FileName   The name of the hive file to restore",
    "             You must use Orvik SAVE to create this file",
    "",
    "Examples:",
    "",
    "  Orvik RESTORE HKLM\\Software\\MyCo\\MyApp AppBkUp.hiv",
    "    Restores the file AppBkUp.hiv overwriting the key MyApp",
    "",
});

const std::string kLoadHelp = Lines({
    "Orvik LOAD FullKeyName FileName",
    "",
    "  FullKeyName  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKU ]",
    "    SubKey   The key name to load the hive file into. Creating a new key",
    "  FileName   The name of the hive file to load",
    "             You must use Orvik SAVE to create this file",
    "",
    "Examples:",
    "",
    "  Orvik LOAD HKLM\\TempHive TempHive.hiv",
    "    Loads the file TempHive.hiv to the Key HKLM\\TempHive",
});

const std::string kUnloadHelp = Lines({
    "Orvik UNLOAD FullKeyName",
    "",
    "  FullKeyName  ROOTKEY\\SubKey",
    "    ROOTKEY  [ HKLM | HKU ]",
    "    SubKey   The key name of the hive to unload",
    "",
    "Examples:",
    "",
    "  Orvik UNLOAD HKLM\\TempHive",
    "    Unloads the hive TempHive in HKLM",
});

const std::string kExportHelp = Lines({
    "Orvik EXPORT KeyName FileName [/nt4]",
    "",
    "  Keyname    ROOTKEY\\SubKey (local machine only)",
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
    "    SubKey   The full name of a registry key under the selected ROOTKEY",
    "  FileName   The name of the disk file to export",
    "  /nt4       Output reg file as old NT4 format",
    "",
    "Examples:",
    "",
    "  Orvik EXPORT HKLM\\Software\\MyCo\\MyApp AppBkUp.reg /nt4",
    "    Exports all subkeys and values of the key MyApp to the file AppBkUp.reg",
    "    in the nt4 reg format",
    "",
    "  Orvik EXPORT HKLM\\Software\\MyCo MyCoBkUp.reg",
    "    Exports the hive MyCo to the file MyCoBkUp.reg",
});

const std::string kImportHelp = Lines({
    "Orvik IMPORT FileName",
    "",
    "  FileName  The name of the disk file to import (local machine only)",
    "",
    "Examples:",
    "",
    "  Orvik IMPORT AppBkUp.reg",
    "    Imports registry entries from the file AppBkUp.reg",
});

class FrontEndTest : public ::testing::Test {
 protected:
  ProcessResult Orvik(const std::vector<std::string>& args) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.cwd = registry_.path();
    return RunProgram(OrvikPath(), args, options);
  }

  // Runs orvik and expects exactly this standard output and exit code, and
  // nothing on standard error.
  void Expect(const std::vector<std::string>& args, const std::string& out, int exit_code) {
    std::string line;
    for (const auto& a : args) line += "[" + a + "] ";
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.out, out) << line;
    EXPECT_EQ(r.exit_code, exit_code) << line;
    EXPECT_EQ(r.err, "") << line;
  }

  TempDir registry_;
};

TEST_F(FrontEndTest, NoArgumentsShowTheUsageScreen) { Expect({}, kBanner + kUsage, 1); }

TEST_F(FrontEndTest, AnUnknownWordShowsTheUsageScreen) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"frobnicate"},
           {"QUERYS", "HKCU\\Software"},
           {"/query", "HKCU\\Software"},
           {"quer"},
           {"qu\xC9ry"},  // only A to Z are lower-cased
           {"/?"},
       }) {
    Expect(args, kBanner + kUsage, 1);
  }
}

TEST_F(FrontEndTest, EveryOperationShowsItsHelpScreen) {
  struct Case {
    std::vector<std::string> words;  // the operation word in several cases
    const std::string& screen;
  };
  const Case cases[] = {
      {{"QUERY", "query", "Query"}, kQueryHelp},
      {{"ADD", "add", "aDd"}, kAddHelp},
      {{"DELETE", "delete", "Delete"}, kDeleteHelp},
      {{"COPY", "copy", "CoPy"}, kCopyHelp},
      {{"COMPARE", "compare", "Compare"}, kCompareHelp},
      {{"SAVE", "save", "Save"}, kSaveHelp},
      {{"RESTORE", "restore", "reStore"}, kRestoreHelp},
      {{"LOAD", "load", "Load"}, kLoadHelp},
      {{"UNLOAD", "unload", "UnLoad"}, kUnloadHelp},
      {{"EXPORT", "export", "Export"}, kExportHelp},
      {{"IMPORT", "import", "Import"}, kImportHelp},
  };
  for (const Case& c : cases) {
    for (const std::string& word : c.words) {
      Expect({word, "/?"}, kBanner + c.screen, 1);
      Expect({word}, kBanner + c.screen, 1);
    }
  }
  // A help screen touches neither the registry nor the current directory.
  EXPECT_TRUE(std::filesystem::is_empty(registry_.path()));
}

TEST_F(FrontEndTest, AMissingRequiredParameterShowsTheHelpScreen) {
  struct Case {
    std::vector<std::string> args;
    const std::string& screen;
  };
  const Case cases[] = {
      {{"COPY", "HKCU\\Software\\A"}, kCopyHelp},
      {{"COMPARE", "HKCU\\Software\\A"}, kCompareHelp},
      {{"SAVE", "HKCU\\Software\\A"}, kSaveHelp},
      {{"SAVE", "/?", "a.hiv"}, kSaveHelp},
      {{"LOAD", "HKLM\\TempHive"}, kLoadHelp},
      {{"EXPORT", "HKCU\\Software\\A"}, kExportHelp},
      // /? is found as the first parameter only.
      {{"QUERY", "/?", "/s"}, kQueryHelp},
  };
  for (const Case& c : cases) Expect(c.args, kBanner + c.screen, 1);
}

TEST_F(FrontEndTest, AFailureIsReportedBetweenEmptyLines) {
  // DELETE refuses /v without a name: the empty name would remove the key.
  Expect({"DELETE", "HKCU\\Software\\Keep", "/v"},
         Lines({"", "Error: Invalid command-line parameters", ""}), 1);
  Expect({"query", "HKCU\\Software\\NotHere"},
         Lines({"", "Error: Key: software\\nothere does not exist!", ""}), 1);
}

TEST_F(FrontEndTest, PosixArgumentsArriveAsTyped) {
  // An empty argument takes no position: /? is still the first parameter.
  Expect({"", "QUERY", "", "/?"}, kBanner + kQueryHelp, 1);
  // A double quote inside an argument is an ordinary character, so this key
  // name is not "/?" and the key is looked up.
  Expect({"QUERY", "\"/?\""}, Lines({"", "Error: Key: \"/?\" does not exist!", ""}), 1);
  // A backslash at the end of a key name stays, and the next argument is
  // still an option.
  Expect({"QUERY", "HKCU\\Software\\Gone\\", "/S"},
         Lines({"", "Error: Key: software\\gone\\ does not exist!", ""}), 1);
}

}  // namespace
}  // namespace orvik::test
