// Tests of every operation's argument grammar: when the help screen is due,
// which texts are lower-cased and which are kept as typed, and which option
// wins. Positions are as on the command line: 1 is the operation word.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/add_command.h"
#include "app/compare_command.h"
#include "app/copy_command.h"
#include "app/delete_command.h"
#include "app/export_command.h"
#include "app/import_command.h"
#include "app/load_command.h"
#include "app/query_command.h"
#include "app/restore_command.h"
#include "app/save_command.h"
#include "app/unload_command.h"
#include "manip/delete_engine.h"
#include "registry/exception.h"

namespace orvik {
namespace {

using Args = std::vector<std::string>;

template <typename Parameters>
struct Case {
  Args args;
  std::optional<Parameters> expected;  // nothing: the help screen
};

template <typename Parameters, typename Read>
void ExpectParsed(const std::vector<Case<Parameters>>& cases, Read read) {
  for (const auto& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += "[" + a + "] ";
    EXPECT_EQ(read(CommandLine(c.args)), c.expected) << line;
  }
}

TEST(ReadQueryParameters, GrammarAndCase) {
  using P = QueryParameters;
  ExpectParsed<P>(
      {
          {{"query"}, std::nullopt},
          {{"query", "/?"}, std::nullopt},
          {{"query", "HKCU\\Soft\\MyCo"}, P{"hkcu\\soft\\myco", "", ""}},
          {{"query", "HKCU\\X", "/V", "Version"}, P{"hkcu\\x", "version", ""}},
          {{"query", "HKCU\\X", "/v"}, P{"hkcu\\x", "", ""}},  // /v last: the whole key
          {{"query", "HKCU\\X", "/v", "@"}, P{"hkcu\\x", "@", ""}},
          {{"query", "HKCU\\X", "/v", "a", "/VE"}, P{"hkcu\\x", "@", ""}},  // /ve wins
          {{"query", "HKCU\\X", "/S"}, P{"hkcu\\x", "", "/s"}},
          {{"query", "HKCU\\X", "/s", "/v", "x"}, P{"hkcu\\x", "x", "/s"}},
          // An option in the key's place is still the key name, and an option.
          {{"query", "/s"}, P{"/s", "", "/s"}},
      },
      ReadQueryParameters);
}

TEST(ReadAddParameters, DataAndSeparatorKeepTheirCase) {
  using P = AddParameters;
  ExpectParsed<P>(
      {
          {{"add"}, std::nullopt},
          {{"add", "/?"}, std::nullopt},
          {{"add", "HKCU\\Soft\\Test"}, P{"hkcu\\soft\\test", "", "REG_SZ", "\\0", "", ""}},
          {{"add", "HKCU\\T", "/v", "Name", "/d", "Hello"},
           P{"hkcu\\t", "name", "REG_SZ", "\\0", "Hello", ""}},
          {{"add", "k", "/T", "REG_MULTI_SZ", "/S", "X", "/D", "aXb"},
           P{"k", "", "reg_multi_sz", "X", "aXb", ""}},
          {{"add", "k", "/ve", "/d", "X"}, P{"k", "@", "REG_SZ", "\\0", "X", ""}},
          {{"add", "k", "/v", "A", "/ve"}, P{"k", "@", "REG_SZ", "\\0", "", ""}},
          {{"add", "k", "/v"}, P{"k", "", "REG_SZ", "\\0", "", ""}},  // key only
          {{"add", "k", "/v", "a", "/d"}, P{"k", "a", "REG_SZ", "\\0", "", ""}},
          {{"add", "k", "/v", "a", "/s"}, P{"k", "a", "REG_SZ", "", "", ""}},  // empty separator
          {{"add", "k", "/F"}, P{"k", "", "REG_SZ", "\\0", "", "/f"}},
          // Data that reads like an option is taken as that option: /d's value
          // is "/s", and /s (first found at the data) takes what follows.
          {{"add", "k", "/v", "a", "/d", "/S", "#"}, P{"k", "a", "REG_SZ", "#", "/S", ""}},
          // The first /d wins.
          {{"add", "k", "/d", "One", "/d", "Two"}, P{"k", "", "REG_SZ", "\\0", "One", ""}},
      },
      ReadAddParameters);
}

TEST(ReadDeleteParameters, SelectorPrecedence) {
  using P = DeleteParameters;
  ExpectParsed<P>(
      {
          {{"delete"}, std::nullopt},
          {{"delete", "/?"}, std::nullopt},
          {{"delete", "HKCU\\Soft\\Test"}, P{"hkcu\\soft\\test", "", ""}},
          {{"delete", "k", "/v", "Timeout"}, P{"k", "timeout", ""}},
          {{"delete", "k", "/v", "@"}, P{"k", "@", ""}},
          {{"delete", "k", "/VE"}, P{"k", "@", ""}},
          {{"delete", "k", "/va"}, P{"k", kDeleteAllMarker, ""}},
          {{"delete", "k", "/v", "x", "/va"}, P{"k", kDeleteAllMarker, ""}},
          {{"delete", "k", "/va", "/ve"}, P{"k", kDeleteAllMarker, ""}},
          {{"delete", "k", "/ve", "/v", "x"}, P{"k", "@", ""}},
          {{"delete", "k", "/f"}, P{"k", "", "/f"}},
      },
      ReadDeleteParameters);
}

TEST(ReadDeleteParameters, RefusesAValueOptionWithoutAName) {
  // Without the refusal the empty selector would remove the whole key.
  for (const Args& args :
       {Args{"delete", "k", "/v"}, Args{"delete", "k", "/va", "/V"}, Args{"delete", "/v"}}) {
    try {
      ReadDeleteParameters(CommandLine(args));
      ADD_FAILURE() << "accepted " << args.back();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Error: Invalid command-line parameters");
    }
  }
}

TEST(ReadCopyParameters, TwoKeyNamesAndFlags) {
  using P = CopyParameters;
  ExpectParsed<P>(
      {
          {{"copy"}, std::nullopt},
          {{"copy", "/?"}, std::nullopt},
          {{"copy", "HKCU\\Software\\A"}, std::nullopt},
          {{"copy", "HKCU\\A", "HKCU\\B"}, P{"hkcu\\a", "hkcu\\b", "", ""}},
          {{"copy", "HKCU\\A", "HKCU\\B", "/S", "/F"}, P{"hkcu\\a", "hkcu\\b", "/s", "/f"}},
      },
      ReadCopyParameters);
}

TEST(ReadCompareParameters, SecondKeyOutputModeAndValue) {
  using P = CompareParameters;
  ExpectParsed<P>(
      {
          {{"compare"}, std::nullopt},
          {{"compare", "/?"}, std::nullopt},
          {{"compare", "HKCU\\Software\\A"}, std::nullopt},
          {{"compare", "HKCU\\A", "HKCU\\B"}, P{"hkcu\\a", "hkcu\\b", "", "", ""}},
          // Argument 3 is the second key name whatever it holds.
          {{"compare", "hklm\\a", "/v", "X"}, P{"hklm\\a", "/v", "x", "", ""}},
          {{"compare", "a", "b", "/v", "X", "/ve"}, P{"a", "b", "@", "", ""}},
          {{"compare", "a", "b", "/OD", "/s"}, P{"a", "b", "", "/od", "/s"}},
          {{"compare", "a", "b", "/on", "/oa"}, P{"a", "b", "", "/on", ""}},
          {{"compare", "a", "b", "/os", "/od"}, P{"a", "b", "", "/os", ""}},
          {{"compare", "a", "b", "/oa", "/od"}, P{"a", "b", "", "/od", ""}},
      },
      ReadCompareParameters);
}

TEST(ReadHiveParameters, FileNamesKeepTheirCase) {
  ExpectParsed<SaveParameters>(
      {
          {{"save"}, std::nullopt},
          {{"save", "/?", "f.hiv"}, std::nullopt},
          {{"save", "HKLM\\Software\\MyCo"}, std::nullopt},
          {{"save", "HKLM\\Software\\MyCo", "AppBkUp.hiv", "more"},
           SaveParameters{"hklm\\software\\myco", "AppBkUp.hiv"}},
      },
      ReadSaveParameters);
  ExpectParsed<RestoreParameters>(
      {
          {{"restore"}, std::nullopt},
          {{"restore", "/?", "f.hiv"}, std::nullopt},
          // The key keeps its case too; a missing file name is the engine's to
          // report.
          {{"restore", "HKLM\\Software\\MyApp"}, RestoreParameters{"HKLM\\Software\\MyApp", ""}},
          {{"restore", "HKLM\\MyApp", "AppBkUp.hiv"},
           RestoreParameters{"HKLM\\MyApp", "AppBkUp.hiv"}},
      },
      ReadRestoreParameters);
  ExpectParsed<LoadParameters>(
      {
          {{"load"}, std::nullopt},
          {{"load", "/?", "f.hiv"}, std::nullopt},
          {{"load", "HKLM\\TempHive"}, std::nullopt},
          {{"load", "HKLM\\TempHive", "TempHive.hiv"},
           LoadParameters{"hklm\\temphive", "TempHive.hiv"}},
      },
      ReadLoadParameters);
  ExpectParsed<UnloadParameters>(
      {
          {{"unload"}, std::nullopt},
          {{"unload", "/?"}, std::nullopt},
          {{"unload", "HKLM\\TempHive"}, UnloadParameters{"hklm\\temphive"}},
      },
      ReadUnloadParameters);
}

TEST(ReadFileParameters, ExportAndImport) {
  ExpectParsed<ExportParameters>(
      {
          {{"export"}, std::nullopt},
          {{"export", "/?", "out.reg"}, std::nullopt},
          {{"export", "HKCU\\Software\\MyCo"}, std::nullopt},
          {{"export", "HKCU\\Software\\MyCo", "Out.REG", "/nt4"},
           ExportParameters{"hkcu\\software\\myco", "Out.REG"}},
      },
      ReadExportParameters);
  ExpectParsed<ImportParameters>(
      {
          {{"import"}, std::nullopt},
          {{"import", "/?"}, std::nullopt},
          {{"import", "AppBkUp.REG", "ignored"}, ImportParameters{"AppBkUp.REG"}},
      },
      ReadImportParameters);
}

}  // namespace
}  // namespace orvik
