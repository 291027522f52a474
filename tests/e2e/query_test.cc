// End-to-end tests of QUERY: the built program against a fresh registry, its
// standard output compared byte for byte. Values the command line cannot
// make are set up with orvik-rawreg.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

const std::vector<std::string> kBanner = {"Corvane Registry Console Tool 1.0",
                                          "Copyright (c) 2026 Corvane Inc.", ""};

const std::string kEmptyDataMarker = "!\"$%&$#!%&$#!$#%!&$#&%!$#%$\"!DF!CXY!DWCER\"!";

// The output of a successful run: an empty line, the banner, then `lines`.
std::string Listing(const std::vector<std::string>& lines) {
  std::vector<std::string> all = {""};
  all.insert(all.end(), kBanner.begin(), kBanner.end());
  all.insert(all.end(), lines.begin(), lines.end());
  return Lines(all);
}

class QueryTest : public ::testing::Test {
 protected:
  ProcessResult Orvik(const std::vector<std::string>& args, bool unprivileged = false) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.as_unprivileged_user = unprivileged;
    ProcessResult r = RunProgram(OrvikPath(), args, options);
    EXPECT_EQ(r.err, "") << "nothing goes to standard error";
    return r;
  }

  // Writes a value with its stored bytes (strings as UTF-16LE); the key is
  // created when missing.
  void Set(const std::string& key, const std::string& name, unsigned type, const std::string& hex) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg",
                                       {"set", key, name, std::to_string(type), hex}, options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text) {
    Set(key, name, 1, Utf16Hex(text) + "0000");
  }
  void SetDword(const std::string& key, const std::string& name, const std::string& hex) {
    Set(key, name, 4, hex);
  }

  void ExpectRun(const std::vector<std::string>& args, const std::string& out, int exit_code,
                 bool unprivileged = false) {
    const ProcessResult r = Orvik(args, unprivileged);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.exit_code, exit_code);
  }

  TempDir registry_;
};

TEST_F(QueryTest, EveryValueTypeHasItsLine) {
  const std::string key = "HKCU\\Software\\Types";
  const struct {
    std::string name;
    unsigned type;
    std::string hex;
    std::string line;
  } cases[] = {
      {"Version", 1, Utf16Hex("5.0") + "0000", "   Version REG_SZ  5.0"},
      {"Empty", 1, "0000", "   Empty REG_SZ  "},
      {"NoData", 1, "", "   NoData REG_SZ  " + kEmptyDataMarker},
      {"NoNul", 1, Utf16Hex("whole"), "   NoNul REG_SZ  whole"},
      {"Cut", 1, Utf16Hex("ab") + "0000" + Utf16Hex("cd") + "0000", "   Cut REG_SZ  ab"},
      {"Path", 2, Utf16Hex("%systemroot%") + "0000", "   Path REG_EXPAND_SZ   %systemroot%"},
      {"ExpandNoData", 2, "", "   ExpandNoData REG_EXPAND_SZ   " + kEmptyDataMarker},
      {"Data", 3, "FE340EAD", "   Data REG_BINARY      FE340EAD"},
      {"NoBytes", 3, "", "   NoBytes REG_BINARY      "},
      {"Count", 4, "FFFFFFFF", "   Count REG_DWORD       -1 (0xFFFFFFFF)"},
      {"Twelve", 4, "0C000000", "   Twelve REG_DWORD       12 (0xC)"},
      {"Min", 4, "00000080", "   Min REG_DWORD       -2147483648 (0x80000000)"},
      {"Short", 4, "3412", "   Short REG_DWORD       4660 (0x1234)"},
      {"DwordNoData", 4, "", "   DwordNoData REG_DWORD       0 (0x0)"},
      {"Big", 5, "00000001", "   Big REG_DWORD_BIG_ENDIAN   16777216 (0x1000000)"},
      {"Mru", 7, Utf16Hex("fax") + "0000" + Utf16Hex("mail") + "00000000",
       "   Mru REG_MULTI_SZ    fax\\0mail\\0\\0"},
      {"Tail", 7, Utf16Hex("a") + "0000" + Utf16Hex("bc"), "   Tail REG_MULTI_SZ    a\\0bc"},
      {"MultiNoData", 7, "", "   MultiNoData REG_MULTI_SZ    " + kEmptyDataMarker},
      {"None", 0, "6100620063000000", "   None REG_NONE        abc"},
      {"Link", 6, Utf16Hex("x"), "   Link REG_SZ  "},
      {"Qword", 11, "0100000000000000", "   Qword REG_SZ  "},
      {"Resources", 8, "01", "   Resources REG_SZ  "},
  };
  std::vector<std::string> expected = {"HKEY_CURRENT_USER\\software\\types"};
  for (const auto& c : cases) {
    Set(key, c.name, c.type, c.hex);
    expected.push_back(c.line);
  }
  ExpectRun({"QUERY", key}, Listing(expected), 0);
}

TEST_F(QueryTest, UnnamedValueIsPrintedInThreeFields) {
  const std::string key = "HKCU\\Software\\Unnamed";
  SetString(key, "", "hello");
  SetDword(key + "\\Dword", "", "0C000000");
  ExpectRun({"QUERY", key},
            Listing({"HKEY_CURRENT_USER\\software\\unnamed", "   <NO NAME> REG_SZ  hello"}), 0);
  // A REG_DWORD unnamed value prints its number once, without the hexadecimal.
  ExpectRun(
      {"QUERY", key + "\\Dword"},
      Listing({"HKEY_CURRENT_USER\\software\\unnamed\\dword", "   <NO NAME> REG_DWORD       12"}),
      0);
}

TEST_F(QueryTest, OneValue) {
  const std::string key = "HKLM\\Software\\MyCo\\MyApp";
  SetString(key, "Version", "1.0");
  SetString(key, "Other", "x");
  SetString(key, "", "default");
  SetDword(key, "Count", "0C000000");
  const std::string header = "HKEY_LOCAL_MACHINE\\software\\myco\\myapp";
  const std::string unnamed = "   <NO NAME> REG_SZ  default";
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      // The name given is printed as typed, lower-cased.
      {{"/v", "Version"}, "   version REG_SZ  1.0"},
      {{"/V", "COUNT"}, "   count REG_DWORD       12 (0xC)"},
      {{"/ve"}, unnamed},
      {{"/v", "@"}, unnamed},
      {{"/v", "Version", "/ve"}, unnamed},
      // /s does not matter when one value is asked for.
      {{"/s", "/v", "Version"}, "   version REG_SZ  1.0"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"query", key};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args.back());
    ExpectRun(args, Listing({header, c.line}), 0);
  }
  // /v as the last argument leaves the name empty: the whole key is listed.
  ExpectRun({"QUERY", key, "/v"},
            Listing({header, "   Version REG_SZ  1.0", "   Other REG_SZ  x", unnamed,
                     "   Count REG_DWORD       12 (0xC)"}),
            0);
}

TEST_F(QueryTest, RecursionListsTheTreeDepthFirstInEnumerationOrder) {
  const std::string key = "HKCU\\Software\\MyCo";
  SetString(key, "Version", "1.0");
  SetDword(key, "Count", "0C000000");
  SetString(key + "\\b", "", "in b");
  SetString(key + "\\A\\A1", "deep", "1");
  Set(key + "\\A\\A1\\A11", "bin", 3, "00");
  SetString(key + "\\A", "in", "a");
  Set(key + "\\Empty", "", 1, "");
  SetString(key + "\\b\\Later", "x", "y");
  SetString(key + "\\b\\Earlier", "x", "z");

  ExpectRun({"QUERY", key, "/S"},
            Listing({
                "HKEY_CURRENT_USER\\software\\myco",
                "   Version REG_SZ  1.0",
                "   Count REG_DWORD       12 (0xC)",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\A",
                "   in REG_SZ  a",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\A\\A1",
                "   deep REG_SZ  1",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\A\\A1\\A11",
                "   bin REG_BINARY      00",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\b",
                "   <NO NAME> REG_SZ  in b",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\b\\Earlier",
                "   x REG_SZ  z",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\b\\Later",
                "   x REG_SZ  y",
                "",
                "HKEY_CURRENT_USER\\software\\myco\\Empty",
                "   <NO NAME> REG_SZ  " + kEmptyDataMarker,
            }),
            0);
  // Without /s only the key itself, subkey names not shown.
  ExpectRun({"QUERY", key + "\\A"},
            Listing({"HKEY_CURRENT_USER\\software\\myco\\a", "   in REG_SZ  a"}), 0);
}

TEST_F(QueryTest, RecursionFromARootAndFromAPathWithTrailingBackslash) {
  SetString("HKCC\\Sub\\Inner", "v", "x");
  ExpectRun({"QUERY", "HKCC\\", "/s"},
            Listing({"HKEY_CURRENT_CONFIG\\", "", "HKEY_CURRENT_CONFIG\\Sub", "",
                     "HKEY_CURRENT_CONFIG\\Sub\\Inner", "   v REG_SZ  x"}),
            0);
  ExpectRun({"QUERY", "HKCC\\Sub\\", "/s"},
            Listing({"HKEY_CURRENT_CONFIG\\sub\\", "", "HKEY_CURRENT_CONFIG\\sub\\Inner",
                     "   v REG_SZ  x"}),
            0);
  // A key without values prints its header alone.
  ExpectRun({"QUERY", "HKCC\\Sub"}, Listing({"HKEY_CURRENT_CONFIG\\sub"}), 0);
}

TEST_F(QueryTest, NamesKeepTheirBytes) {
  const std::string key =
      "HKCU\\Software\\\xC3\x9C"
      "ber";
  SetString(key, "plain", "x");
  RunOptions options;
  options.env = {{"ORVIK_REGISTRY", registry_.path()}};
  // ANSI bytes, converted by the platform: a name and data with non-ASCII bytes.
  const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg",
                                     {"seta", key,
                                      "Gr\xC3\xB6\xC3\x9F"
                                      "e",
                                      "1", "C3A4FF00"},
                                     options);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ExpectRun({"QUERY", key},
            Listing({"HKEY_CURRENT_USER\\software\\\xC3\x9C"
                     "ber",
                     "   plain REG_SZ  x",
                     "   Gr\xC3\xB6\xC3\x9F"
                     "e REG_SZ  \xC3\xA4\xFF"}),
            0);
}

TEST_F(QueryTest, MissingKeyIsReportedBeforeAnyOutput) {
  ExpectRun({"QUERY", "HKCU\\Software\\NotHere"},
            Report("Error: Key: software\\nothere does not exist!"), 1);
  ExpectRun({"QUERY", "HKCU\\Software\\NotHere", "/s"},
            Report("Error: Key: software\\nothere does not exist!"), 1);
}

TEST_F(QueryTest, FailuresKeepTheLinesPrintedBefore) {
  const std::string key = "HKCU\\Software\\Broken";
  SetString(key, "first", "1");
  SetDword(key, "wide", "0100000000000000");
  SetString(key, "after", "never printed");
  const std::string header = "HKEY_CURRENT_USER\\software\\broken";
  ExpectRun({"QUERY", key},
            Listing({header, "   first REG_SZ  1"}) + Report("Failed to get data for 'wide'"), 1);
  ExpectRun({"QUERY", key, "/v", "missing"},
            Listing({header}) + Report("Unknown type for software\\broken\\missing"), 1);
  ExpectRun({"QUERY", key, "/ve"},
            Listing({header}) + Report("Unknown type for software\\broken\\"), 1);
  // The tree listing stops at the failing value too.
  SetString("HKCU\\Software\\Outer\\Sub", "ok", "1");
  SetDword("HKCU\\Software\\Outer\\Sub", "wide", "010203040506");
  SetString("HKCU\\Software\\Outer\\Zed", "never", "1");
  ExpectRun({"QUERY", "HKCU\\Software\\Outer", "/s"},
            Listing({"HKEY_CURRENT_USER\\software\\outer", "",
                     "HKEY_CURRENT_USER\\software\\outer\\Sub", "   ok REG_SZ  1"}) +
                Report("Failed to get data for 'wide'"),
            1);
}

TEST_F(QueryTest, AUserWhoCannotWriteTheRegistryListsIt) {
  if (!orvik::test::CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  const std::string key = "HKLM\\SOFTWARE\\Locked";
  SetString(key, "Version", "2.0");
  SetDword(key + "\\Sub", "n", "05000000");
  ExpectRun({"QUERY", key, "/s"},
            Listing({"HKEY_LOCAL_MACHINE\\software\\locked", "   Version REG_SZ  2.0", "",
                     "HKEY_LOCAL_MACHINE\\software\\locked\\Sub", "   n REG_DWORD       5 (0x5)"}),
            0, /*unprivileged=*/true);
  ExpectRun({"QUERY", key, "/v", "version"},
            Listing({"HKEY_LOCAL_MACHINE\\software\\locked", "   version REG_SZ  2.0"}), 0,
            /*unprivileged=*/true);
}

}  // namespace
}  // namespace orvik::test
