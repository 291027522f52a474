// End-to-end tests of ADD and DELETE: the built program against a fresh
// registry, with the stored bytes read back through QUERY and orvik-rawreg.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

constexpr char kKey[] = "HKCU\\Software\\Test";

// Whether the output holds these lines together; the text of the failure
// message shows the whole output.
::testing::AssertionResult Contains(const std::string& out, const std::string& part) {
  if (out.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "output:\n" << out << "\nlacks:\n" << part;
}

std::string ConvertError(const std::string& text) {
  return Lines({"", "'" + text + "' is not a valid integer value", ""});
}

std::string Missing(const std::string& sub_key) {
  return Lines({"", "Error: Key: " + sub_key + " does not exist!", ""});
}

const std::string kInvalidParameters = Lines({"", "Error: Invalid command-line parameters", ""});

class AddDeleteTest : public ::testing::Test {
 protected:
  ProcessResult Orvik(const std::vector<std::string>& args, bool unprivileged = false) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.as_unprivileged_user = unprivileged;
    return RunProgram(OrvikPath(), args, options);
  }

  // Runs orvik and expects it to succeed silently.
  void Ok(const std::vector<std::string>& args) {
    const ProcessResult r = Orvik(args);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    ASSERT_EQ(r.out, "");
  }

  // "TYPE HEX" of the stored value as orvik-rawreg prints it; "absent" when
  // the value (or its key) cannot be read. `ansi` reads strings in the ANSI
  // form instead of the stored UTF-16.
  std::string Raw(const std::string& key, const std::string& name, bool ansi = false) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    const ProcessResult r =
        RunProgram(BuildDir() + "/orvik-rawreg", {ansi ? "geta" : "get", key, name}, options);
    if (r.exit_code != 0) return "absent";
    std::string text = r.out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }
  std::string RawA(const std::string& key, const std::string& name) { return Raw(key, name, true); }

  void RawSet(const std::string& key, const std::string& name, int type, const std::string& hex) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg",
                                       {"seta", key, name, std::to_string(type), hex}, options);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  bool KeyExists(const std::string& key) { return Orvik({"QUERY", key}).exit_code == 0; }

  TempDir registry_;
};

// ---- ADD: data of every type ---------------------------------------------------

TEST_F(AddDeleteTest, AddStoresTheBytesOfEveryTypeFromText) {
  const struct {
    std::vector<std::string> options;  // after /v NAME
    std::string stored;                // rawreg: ANSI form for the string types
  } cases[] = {
      // Strings keep the case of the data; % has no meaning.
      {{"/d", "Hello"}, "1 48656C6C6F00"},
      {{"/t", "REG_SZ", "/d", "Hello"}, "1 48656C6C6F00"},
      {{"/t", "reg_sz"}, "1 00"},
      {{"/t", "REG_EXPAND_SZ", "/d", "%systemroot%"}, "2 2573797374656D726F6F742500"},
      // An unknown type name writes a string.
      {{"/t", "REG_QWORD", "/d", "5"}, "1 3500"},
      {{"/t", "REG_BINARY", "/d", "fe340ead"}, "3 FE340EAD"},
      {{"/t", "REG_BINARY", "/d", "FE340EAD"}, "3 FE340EAD"},
      {{"/t", "REG_BINARY"}, "3 "},
      {{"/t", "REG_DWORD", "/d", "12"}, "4 0C000000"},
      {{"/t", "reg_dword", "/d", "0x10"}, "4 10000000"},
      {{"/t", "REG_DWORD", "/d", "$10"}, "4 10000000"},
      {{"/t", "REG_DWORD", "/d", "x10"}, "4 10000000"},
      {{"/t", "REG_DWORD", "/d", "-1"}, "4 FFFFFFFF"},
      {{"/t", "REG_DWORD", "/d", "0xffffffff"}, "4 FFFFFFFF"},
      {{"/t", "REG_DWORD", "/d", " 7"}, "4 07000000"},
      {{"/t", "REG_DWORD", "/d", "-2147483648"}, "4 00000080"},
      {{"/t", "REG_DWORD_LITTLE_ENDIAN", "/d", "1"}, "4 01000000"},
      // Stored least significant byte first under either code.
      {{"/t", "REG_DWORD_BIG_ENDIAN", "/d", "1"}, "5 01000000"},
      {{"/t", "REG_NONE", "/d", "abc"}, "0 6100620063000000"},
      {{"/t", "REG_NONE"}, "0 0000"},
      {{"/t", "REG_MULTI_SZ", "/d", "fax\\0mail"}, "7 666178006D61696C0000"},
      {{"/t", "REG_MULTI_SZ", "/d", "fax\\0"}, "7 666178000000"},
      {{"/t", "REG_MULTI_SZ"}, "7 0000"},
      {{"/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#b"}, "7 6100620000"},
      {{"/t", "REG_MULTI_SZ", "/s", "##", "/d", "a##b#c##"}, "7 6100622363000000"},
      // The default separator does not split at other characters.
      {{"/t", "REG_MULTI_SZ", "/d", "a#b"}, "7 6123620000"},
      // The separator is matched as typed, case included.
      {{"/t", "REG_MULTI_SZ", "/s", "X", "/d", "aXbxc"}, "7 61006278630000"},
      // /s as the last argument: an empty separator never splits.
      {{"/t", "REG_MULTI_SZ", "/d", "a\\0b", "/s"}, "7 615C30620000"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "v" + std::to_string(n++);
    std::vector<std::string> args = {"ADD", kKey, "/v", name};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 0) << testing::PrintToString(args) << r.out;
    EXPECT_EQ(r.out, "") << testing::PrintToString(args);
    EXPECT_EQ(RawA(kKey, name), c.stored) << testing::PrintToString(args);
  }
}

TEST_F(AddDeleteTest, StringsAreStoredInTheirUnicodeForm) {
  Ok({"ADD", kKey, "/v", "s", "/d", "Hi"});
  EXPECT_EQ(Raw(kKey, "s"), "1 480069000000");
  Ok({"ADD", kKey, "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
  EXPECT_EQ(Raw(kKey, "m"), "7 61000000620000000000");
}

TEST_F(AddDeleteTest, QueryShowsWhatAddWrote) {
  Ok({"ADD", kKey, "/v", "Version", "/d", "5.0"});
  Ok({"ADD", kKey, "/v", "count", "/t", "REG_DWORD", "/d", "-1"});
  Ok({"ADD", kKey, "/v", "data", "/t", "REG_BINARY", "/d", "fe340ead"});
  Ok({"ADD", kKey, "/v", "mru", "/t", "REG_MULTI_SZ", "/d", "fax\\0mail"});
  Ok({"ADD", kKey, "/v", "wide", "/t", "REG_NONE", "/d", "abc"});
  Ok({"ADD", kKey, "/ve", "/d", "hello"});
  const ProcessResult r = Orvik({"QUERY", kKey});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  // Value names are lower-cased as typed.
  EXPECT_TRUE(Contains(r.out, "\r\n   version REG_SZ  5.0\r\n"));
  EXPECT_TRUE(Contains(r.out, "\r\n   count REG_DWORD       -1 (0xFFFFFFFF)\r\n"));
  EXPECT_TRUE(Contains(r.out, "\r\n   data REG_BINARY      FE340EAD\r\n"));
  EXPECT_TRUE(Contains(r.out, "\r\n   mru REG_MULTI_SZ    fax\\0mail\\0\\0\r\n"));
  EXPECT_TRUE(Contains(r.out, "\r\n   wide REG_NONE        abc\r\n"));
  EXPECT_TRUE(Contains(r.out, "\r\n   <NO NAME> REG_SZ  hello\r\n"));
}

// ---- ADD: rejected data ------------------------------------------------------------

TEST_F(AddDeleteTest, RejectedDataLeavesTheKeyAndWritesNothing) {
  const struct {
    std::string type;
    std::vector<std::string> data;  // "/d" and its text, or nothing
    std::string reported;
  } cases[] = {
      {"REG_DWORD", {}, ""},
      {"REG_DWORD", {"/d", "4294967295"}, "4294967295"},
      {"REG_DWORD", {"/d", "7 "}, "7 "},
      {"REG_DWORD", {"/d", "1.5"}, "1.5"},
      {"REG_DWORD", {"/d", "ten"}, "ten"},
      {"REG_DWORD_BIG_ENDIAN", {"/d", "0x"}, "0x"},
      {"REG_BINARY", {"/d", "fe 34"}, "$ "},
      {"REG_BINARY", {"/d", "0x12"}, "$x"},
      // Odd length: the last digit has no partner.
      {"REG_BINARY", {"/d", "fe3"}, "$"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string key = std::string(kKey) + "\\k" + std::to_string(n++);
    std::vector<std::string> args = {"ADD", key, "/v", "x", "/t", c.type};
    args.insert(args.end(), c.data.begin(), c.data.end());
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args);
    EXPECT_EQ(r.out, ConvertError(c.reported)) << testing::PrintToString(args);
    EXPECT_TRUE(KeyExists(key)) << key;
    EXPECT_EQ(Raw(key, "x"), "absent") << key;
  }
}

TEST_F(AddDeleteTest, RejectedDataLeavesAnExistingValueAsItWas) {
  Ok({"ADD", kKey, "/v", "n", "/t", "REG_BINARY", "/d", "0102"});
  EXPECT_EQ(Orvik({"ADD", kKey, "/v", "n", "/t", "REG_BINARY", "/d", "aabbc"}).exit_code, 1);
  EXPECT_EQ(Orvik({"ADD", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "9x"}).exit_code, 1);
  EXPECT_EQ(Raw(kKey, "n"), "3 0102");
}

TEST_F(AddDeleteTest, WithoutAValueNameTheDataIsNotLookedAt) {
  // /v as the last argument names no value: only the key is made.
  Ok({"ADD", kKey, "/t", "REG_DWORD", "/d", "bad", "/v"});
  const ProcessResult r = Orvik({"QUERY", kKey});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.ends_with(Lines({"HKEY_CURRENT_USER\\software\\test"}))) << r.out;
}

// ---- ADD: keys and names -----------------------------------------------------------

TEST_F(AddDeleteTest, AddCreatesMissingKeysInLowerCaseAndIsRepeatable) {
  Ok({"ADD", "HKCU\\Software\\NewKey\\Child\\Leaf"});
  Ok({"ADD", "HKCU\\Software\\NewKey\\Child\\Leaf"});
  Ok({"ADD", "HKCU\\Software\\NewKey\\Child\\Leaf", "/v", "V", "/d", "1"});
  const ProcessResult r = Orvik({"QUERY", "HKCU\\Software\\NewKey", "/s"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(
      r.out, Lines({"HKEY_CURRENT_USER\\software\\newkey", "",
                    "HKEY_CURRENT_USER\\software\\newkey\\child", "",
                    "HKEY_CURRENT_USER\\software\\newkey\\child\\leaf", "   v REG_SZ  1"})));
}

TEST_F(AddDeleteTest, TheUnnamedValueIsWrittenForVeAndAtWithEveryType) {
  const struct {
    std::vector<std::string> args;  // after the key name
    std::string stored;
  } cases[] = {
      {{"/ve", "/d", "x"}, "1 7800"},
      {{"/v", "@", "/d", "y"}, "1 7900"},
      {{"/ve", "/t", "REG_DWORD", "/d", "5"}, "4 05000000"},
      {{"/v", "@", "/t", "REG_BINARY", "/d", "ff00"}, "3 FF00"},
      {{"/ve", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}, "7 6100620000"},
      {{"/ve", "/t", "REG_NONE", "/d", "a"}, "0 61000000"},
      {{"/ve", "/t", "REG_EXPAND_SZ", "/d", "%p%"}, "2 25702500"},
      // /ve wins over a /v name, wherever it stands.
      {{"/ve", "/v", "named", "/d", "z"}, "1 7A00"},
      {{"/v", "named", "/ve", "/d", "w"}, "1 7700"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"ADD", kKey};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Ok(args);
    EXPECT_EQ(RawA(kKey, ""), c.stored) << testing::PrintToString(args);
  }
  // No value is ever called "@", and the /v name beside /ve is not written.
  EXPECT_EQ(Raw(kKey, "@"), "absent");
  EXPECT_EQ(Raw(kKey, "named"), "absent");
}

// ---- DELETE ---------------------------------------------------------------------------

TEST_F(AddDeleteTest, DeleteRemovesTheWholeTreeAndNothingBesideIt) {
  Ok({"ADD", "HKCU\\Software\\Test\\A\\B", "/v", "x", "/d", "1"});
  Ok({"ADD", kKey, "/v", "y", "/d", "2"});
  Ok({"ADD", "HKCU\\Software\\Testing", "/v", "z", "/d", "3"});
  Ok({"DELETE", "HKCU\\SOFTWARE\\Test"});
  EXPECT_FALSE(KeyExists(kKey));
  EXPECT_FALSE(KeyExists("HKCU\\Software\\Test\\A\\B"));
  EXPECT_EQ(RawA("HKCU\\Software\\Testing", "z"), "1 3300");
  EXPECT_TRUE(KeyExists("HKCU\\Software"));
}

TEST_F(AddDeleteTest, AMissingKeyIsReportedWhateverTheSelector) {
  Ok({"ADD", kKey});
  for (const std::vector<std::string>& selector :
       {std::vector<std::string>{}, {"/v", "x"}, {"/ve"}, {"/va"}}) {
    std::vector<std::string> args = {"DELETE", "HKCU\\Software\\Missing"};
    args.insert(args.end(), selector.begin(), selector.end());
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args);
    EXPECT_EQ(r.out, Missing("software\\missing")) << testing::PrintToString(args);
  }
  EXPECT_FALSE(KeyExists("HKCU\\Software\\Missing"));
  // A name that cannot name a key is missing too, as QUERY says: an empty
  // part, or a part longer than any key name may be.
  const std::string too_long(300, 'k');
  for (const std::string& sub_key :
       {std::string("software\\test\\\\sub"), "software\\test\\" + too_long}) {
    const ProcessResult r = Orvik({"DELETE", "HKCU\\" + sub_key});
    EXPECT_EQ(r.exit_code, 1) << sub_key;
    EXPECT_EQ(r.out, Missing(sub_key)) << sub_key;
  }
}

TEST_F(AddDeleteTest, DeleteOneValueAndStayQuietWhenItIsGone) {
  Ok({"ADD", kKey, "/v", "timeout", "/t", "REG_DWORD", "/d", "5"});
  Ok({"ADD", kKey, "/v", "other", "/d", "o"});
  Ok({"DELETE", kKey, "/v", "Timeout"});
  EXPECT_EQ(Raw(kKey, "timeout"), "absent");
  EXPECT_EQ(RawA(kKey, "other"), "1 6F00");
  Ok({"DELETE", kKey, "/v", "Timeout"});
  // Nor is a name longer than any value name may be.
  Ok({"DELETE", kKey, "/v", std::string(20000, 'v')});
  EXPECT_EQ(RawA(kKey, "other"), "1 6F00");
}

TEST_F(AddDeleteTest, DeleteVeLeavesAnEmptyStringAsTheUnnamedValue) {
  const struct {
    std::vector<std::string> before;  // ADD options for the unnamed value; none: absent
  } cases[] = {{{}}, {{"/d", "abc"}}, {{"/t", "REG_DWORD", "/d", "5"}}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string key = std::string(kKey) + "\\k" + std::to_string(n++);
    Ok({"ADD", key, "/v", "named", "/d", "n"});
    if (!c.before.empty()) {
      std::vector<std::string> args = {"ADD", key, "/ve"};
      args.insert(args.end(), c.before.begin(), c.before.end());
      Ok(args);
    }
    Ok({"DELETE", key, "/ve"});
    EXPECT_EQ(RawA(key, ""), "1 00") << key;
    EXPECT_EQ(RawA(key, "named"), "1 6E00") << key;
  }
}

TEST_F(AddDeleteTest, DeleteVaKeepsTheUnnamedValueAndTheSubkeys) {
  Ok({"ADD", kKey, "/v", "A", "/d", "a"});
  Ok({"ADD", kKey, "/v", "B", "/t", "REG_DWORD", "/d", "2"});
  Ok({"ADD", kKey, "/ve", "/d", "u"});
  Ok({"ADD", "HKCU\\Software\\Test\\Sub", "/v", "c", "/d", "c"});
  Ok({"DELETE", kKey, "/va"});
  EXPECT_EQ(Raw(kKey, "a"), "absent");
  EXPECT_EQ(Raw(kKey, "b"), "absent");
  EXPECT_EQ(RawA(kKey, ""), "1 7500");
  EXPECT_EQ(RawA("HKCU\\Software\\Test\\Sub", "c"), "1 6300");
}

TEST_F(AddDeleteTest, DeleteSelectorPrecedenceIsVaThenVeThenV) {
  const struct {
    std::vector<std::string> options;
    std::string x, y, unnamed;  // afterwards
  } cases[] = {
      {{"/v", "x"}, "absent", "1 7900", "1 7500"},
      {{"/v", "x", "/ve"}, "1 7800", "1 7900", "1 00"},
      {{"/v", "x", "/va"}, "absent", "absent", "1 7500"},
      {{"/va", "/v", "x"}, "absent", "absent", "1 7500"},
      {{"/ve", "/va"}, "absent", "absent", "1 7500"},
      // /v followed by "@" empties the unnamed value like /ve.
      {{"/v", "@"}, "1 7800", "1 7900", "1 00"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string key = std::string(kKey) + "\\k" + std::to_string(n++);
    Ok({"ADD", key, "/v", "x", "/d", "x"});
    Ok({"ADD", key, "/v", "y", "/d", "y"});
    Ok({"ADD", key, "/ve", "/d", "u"});
    std::vector<std::string> args = {"DELETE", key};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Ok(args);
    const std::string what = testing::PrintToString(args);
    EXPECT_TRUE(KeyExists(key)) << what;
    EXPECT_EQ(RawA(key, "x"), c.x) << what;
    EXPECT_EQ(RawA(key, "y"), c.y) << what;
    EXPECT_EQ(RawA(key, ""), c.unnamed) << what;
  }
}

TEST_F(AddDeleteTest, DeleteRefusesToReachAWholeRootOrAWholeKeyByMistake) {
  Ok({"ADD", kKey, "/v", "x", "/d", "x"});
  Ok({"ADD", "HKLM\\Software\\Keep"});
  const std::vector<std::string> refused[] = {
      {"DELETE", "HKCU\\"},
      {"DELETE", "HKCU\\\\"},  // the path rule would take the second backslash to the root
      {"DELETE", "\\"},
      {"DELETE", "HKLM\\"},
      // A /v without a name would otherwise remove the whole key.
      {"DELETE", kKey, "/v"},
  };
  for (const auto& args : refused) {
    const ProcessResult r = Orvik(args);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args);
    EXPECT_EQ(r.out, kInvalidParameters) << testing::PrintToString(args);
  }
  EXPECT_EQ(RawA(kKey, "x"), "1 7800");
  EXPECT_TRUE(KeyExists("HKLM\\Software\\Keep"));
}

TEST_F(AddDeleteTest, DeleteRemovesTheValuesOfARootButNeverItsKeys) {
  Ok({"ADD", "HKCU\\", "/v", "a", "/d", "1"});
  Ok({"ADD", "HKCU\\", "/v", "b", "/d", "2"});
  Ok({"ADD", "HKCU\\", "/ve", "/d", "unnamed"});
  Ok({"DELETE", "HKCU\\", "/v", "a"});
  EXPECT_EQ(RawA("HKCU", "a"), "absent");
  EXPECT_EQ(RawA("HKCU", "b"), "1 3200");
  Ok({"DELETE", "HKCU\\", "/ve"});
  EXPECT_EQ(RawA("HKCU", ""), "1 00");
  Ok({"DELETE", "HKEY_CURRENT_USER\\", "/va"});
  EXPECT_EQ(RawA("HKCU", "b"), "absent");
  EXPECT_EQ(RawA("HKCU", ""), "1 00") << "the unnamed value stays";
  EXPECT_TRUE(KeyExists("HKCU\\Software"));
  // The whole root stays refused.
  EXPECT_EQ(Orvik({"DELETE", "HKCU\\"}).out, kInvalidParameters);
  EXPECT_TRUE(KeyExists("HKCU\\Software"));
}

// ---- Changes the registry refuses ---------------------------------------------------------

TEST_F(AddDeleteTest, ARefusedChangeIsReportedWithExitCodeOne) {
  if (!orvik::test::CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  Ok({"ADD", kKey, "/v", "x", "/d", "x"});
  Ok({"ADD", kKey, "/ve", "/d", "u"});
  Ok({"ADD", "HKCU\\Software\\Test\\Sub"});
  const std::string denied = Lines({"", "Error: Access is denied.", ""});
  const std::vector<std::string> refused[] = {
      {"ADD", kKey},
      {"ADD", "HKCU\\Software\\Test\\New"},
      {"ADD", kKey, "/v", "y", "/d", "y"},
      {"ADD", kKey, "/ve", "/d", "changed"},
      // A key that exists but may not be changed is not reported as missing.
      {"DELETE", kKey},
      {"DELETE", kKey, "/v", "x"},
      {"DELETE", kKey, "/va"},
      {"DELETE", kKey, "/ve"},
  };
  for (const auto& args : refused) {
    const ProcessResult r = Orvik(args, /*unprivileged=*/true);
    EXPECT_EQ(r.exit_code, 1) << testing::PrintToString(args) << r.err;
    EXPECT_EQ(r.out, denied) << testing::PrintToString(args);
  }
  EXPECT_EQ(RawA(kKey, "x"), "1 7800");
  EXPECT_EQ(RawA(kKey, ""), "1 7500");
  EXPECT_EQ(Raw(kKey, "y"), "absent");
  EXPECT_TRUE(KeyExists("HKCU\\Software\\Test\\Sub"));
  EXPECT_FALSE(KeyExists("HKCU\\Software\\Test\\New"));
}

}  // namespace
}  // namespace orvik::test
