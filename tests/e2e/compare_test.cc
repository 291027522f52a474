// End-to-end tests of COMPARE: the built program against a fresh registry,
// its lines compared byte for byte, with its exit codes 0, 2 and 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

// The comparison lines followed by the result lines.
std::string Output(std::vector<std::string> lines, bool different) {
  lines.push_back("");
  lines.push_back(different ? "Result compared: Different" : "Result compared: Identical");
  lines.push_back("");
  return Lines(lines);
}

constexpr char kA[] = "HKCU\\Software\\A";
constexpr char kB[] = "HKCU\\Software\\B";
constexpr char kKeyA[] = "HKEY_CURRENT_USER\\software\\a";
constexpr char kKeyB[] = "HKEY_CURRENT_USER\\software\\b";

class CompareTest : public ::testing::Test {
 protected:
  RunOptions Options(bool unprivileged = false) const {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", registry_.path()}};
    options.as_unprivileged_user = unprivileged;
    return options;
  }

  void Set(const std::string& key, const std::string& name, unsigned type, const std::string& hex) {
    const ProcessResult r = RunProgram(BuildDir() + "/orvik-rawreg",
                                       {"set", key, name, std::to_string(type), hex}, Options());
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text) {
    Set(key, name, 1, Utf16Hex(text) + "0000");
  }

  void Expect(const std::vector<std::string>& args, const std::string& out, int exit_code,
              bool unprivileged = false) {
    const ProcessResult r = RunProgram(OrvikPath(), args, Options(unprivileged));
    EXPECT_EQ(r.out, out) << testing::PrintToString(args);
    EXPECT_EQ(r.exit_code, exit_code) << testing::PrintToString(args);
    EXPECT_EQ(r.err, "");
  }

  // A and B: Version differs, Same is the same, OnlyA and OnlyB are one-sided.
  void MakeTwoKeys() {
    SetString(kA, "Version", "1.0");
    SetString(kA, "Same", "s");
    Set(kA, "OnlyA", 4, "05000000");
    SetString(kB, "Version", "1.1");
    SetString(kB, "Same", "s");
    SetString(kB, "OnlyB", "b");
  }

  TempDir registry_;
};

TEST_F(CompareTest, AKeyComparedWithItselfIsIdentical) {
  MakeTwoKeys();
  Expect({"COMPARE", kA, kA}, Output({}, false), 0);
  Expect({"COMPARE", kA, "hkey_current_user\\SOFTWARE\\a", "/s"}, Output({}, false), 0);
}

TEST_F(CompareTest, EachOutputModePrintsItsLines) {
  MakeTwoKeys();
  const std::string a = kKeyA;
  const std::string b = kKeyB;
  const struct {
    std::vector<std::string> options;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, {"< Value:  " + a + " OnlyA REG_DWORD 5 (0x5)", "> Value:  " + b + " OnlyB REG_SZ b"}},
      {{"/od"},
       {"< Value:  " + a + " Version REG_SZ 1.0", "> Value:  " + b + " Version REG_SZ 1.1",
        "< Value:  " + a + " OnlyA REG_DWORD 5 (0x5)", "> Value:  " + b + " OnlyB REG_SZ b"}},
      {{"/os"}, {"= Value:  " + a + " Same REG_SZ s"}},
      {{"/OA"},
       {"< Value:  " + a + " Version REG_SZ 1.0", "> Value:  " + b + " Version REG_SZ 1.1",
        "= Value:  " + a + " Same REG_SZ s", "< Value:  " + a + " OnlyA REG_DWORD 5 (0x5)",
        "> Value:  " + b + " OnlyB REG_SZ b"}},
      {{"/on"}, {}},
      // The later in /oa, /od, /os, /on wins, wherever it stands.
      {{"/on", "/oa"}, {}},
      {{"/os", "/od"}, {"= Value:  " + a + " Same REG_SZ s"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"COMPARE", kA, kB};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Expect(args, Output(c.lines, true), 2);
  }
}

TEST_F(CompareTest, ValuesOfEveryKindArePrintedAndCompared) {
  const struct {
    std::string name;
    unsigned type_a;
    std::string hex_a;
    unsigned type_b;
    std::string hex_b;
    std::vector<std::string> lines;  // with /oa
  } cases[] = {
      {"count",
       4,
       "FFFFFFFF",
       4,
       "FFFFFFFF",
       {"= Value:  HKEY_CURRENT_USER\\software\\a count REG_DWORD -1 (0xFFFFFFFF)"}},
      {"big",
       5,
       "00000001",
       5,
       "00000001",
       {"= Value:  HKEY_CURRENT_USER\\software\\a big REG_DWORD_BIG_ENDIAN 16777216 (0x1000000)"}},
      {"",
       1,
       Utf16Hex("x") + "0000",
       1,
       Utf16Hex("x") + "0000",
       {"= Value:  HKEY_CURRENT_USER\\software\\a <NO NAME> REG_SZ x"}},
      // Same text, other type code.
      {"path",
       1,
       Utf16Hex("abc") + "0000",
       2,
       Utf16Hex("abc") + "0000",
       {"< Value:  HKEY_CURRENT_USER\\software\\a path REG_SZ abc",
        "> Value:  HKEY_CURRENT_USER\\software\\b path REG_EXPAND_SZ abc"}},
      // Types without a text form compare equal whatever their data.
      {"q",
       11,
       "0100000000000000",
       11,
       "0200000000000000",
       {"= Value:  HKEY_CURRENT_USER\\software\\a q REG_SZ "}},
      {"bin",
       3,
       "FE34",
       3,
       "FE35",
       {"< Value:  HKEY_CURRENT_USER\\software\\a bin REG_BINARY FE34",
        "> Value:  HKEY_CURRENT_USER\\software\\b bin REG_BINARY FE35"}},
      {"multi",
       7,
       Utf16Hex("a") + "0000" + Utf16Hex("b") + "00000000",
       7,
       Utf16Hex("a") + "0000" + Utf16Hex("b") + "00000000",
       {"= Value:  HKEY_CURRENT_USER\\software\\a multi REG_MULTI_SZ a\\0b\\0\\0"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string a = std::string(kA) + std::to_string(n);
    const std::string b = std::string(kB) + std::to_string(n++);
    Set(a, c.name, c.type_a, c.hex_a);
    Set(b, c.name, c.type_b, c.hex_b);
    std::vector<std::string> lines;
    const std::string suffix = std::to_string(n - 1);
    for (std::string line : c.lines) {
      // The key texts carry the number of the case.
      const size_t a_at = line.find("software\\a ");
      if (a_at != std::string::npos) line.insert(a_at + 10, suffix);
      const size_t b_at = line.find("software\\b ");
      if (b_at != std::string::npos) line.insert(b_at + 10, suffix);
      lines.push_back(line);
    }
    const bool different = c.lines.front()[0] == '<';
    Expect({"COMPARE", a, b, "/oa"}, Output(lines, different), different ? 2 : 0);
  }
}

TEST_F(CompareTest, NamesArePairedWithCaseIgnored) {
  // Paired as Windows upper-cases names: small and capital sigma are one
  // name, dotless i and I are two.
  SetString(kA, "Version", "1");
  SetString(kA, "\xC3\x84pfel", "2");  // Äpfel
  SetString(kA, "\xCF\x83", "3");      // small sigma
  SetString(kA, "\xC4\xB1x", "4");     // dotless i
  SetString(kB, "VERSION", "1");
  SetString(kB, "\xC3\xA4PFEL", "2");  // äPFEL
  SetString(kB, "\xCE\xA3", "3");      // capital sigma
  SetString(kB, "IX", "4");
  Expect({"COMPARE", kA, kB, "/oa"},
         Output({"= Value:  " + std::string(kKeyA) + " Version REG_SZ 1",
                 "= Value:  " + std::string(kKeyA) + " \xC3\x84pfel REG_SZ 2",
                 "= Value:  " + std::string(kKeyA) + " \xCF\x83 REG_SZ 3",
                 "< Value:  " + std::string(kKeyA) + " \xC4\xB1x REG_SZ 4",
                 "> Value:  " + std::string(kKeyB) + " IX REG_SZ 4"},
                true),
         2);
  // A differing value names both keys with the first key's spelling.
  SetString(kB, "version", "9");
  Expect({"COMPARE", kA, kB, "/od"},
         Output({"< Value:  " + std::string(kKeyA) + " Version REG_SZ 1",
                 "> Value:  " + std::string(kKeyB) + " Version REG_SZ 9",
                 "< Value:  " + std::string(kKeyA) + " \xC4\xB1x REG_SZ 4",
                 "> Value:  " + std::string(kKeyB) + " IX REG_SZ 4"},
                true),
         2);
}

TEST_F(CompareTest, WithSMissingKeysAreReportedInEveryMode) {
  SetString(kA, "x", "1");
  SetString(std::string(kA) + "\\Sub", "y", "2");
  SetString(std::string(kA) + "\\Both", "z", "3");
  SetString(kB, "x", "1");
  SetString(std::string(kB) + "\\BOTH", "z", "3");
  SetString(std::string(kB) + "\\OnlyInB", "w", "4");
  const std::string missing = "< Value:  " + std::string(kKeyA) + "\\Sub";
  for (const std::string mode : {"", "/od", "/os", "/oa", "/on"}) {
    std::vector<std::string> args = {"COMPARE", kA, kB, "/s"};
    if (!mode.empty()) args.push_back(mode);
    std::vector<std::string> lines;
    if (mode == "/os" || mode == "/oa") {
      lines = {"= Value:  " + std::string(kKeyA) + " x REG_SZ 1",
               "= Value:  " + std::string(kKeyA) + "\\Both z REG_SZ 3"};
    }
    lines.push_back(missing);
    Expect(args, Output(lines, true), 2);
  }
  // Without /s the keys' own values are the same.
  Expect({"COMPARE", kA, kB}, Output({}, false), 0);
  // A first key that is missing names the second key.
  Expect({"COMPARE", "HKCU\\Software\\Missing", kB, "/s"},
         Output({"> Value:  " + std::string(kKeyB)}, true), 2);
}

TEST_F(CompareTest, OneValueWithVAndVe) {
  SetString(kA, "Version", "1.0");
  SetString(kB, "version", "1.1");
  SetString(kA, "same", "s");
  SetString(kB, "same", "s");
  SetString(kA, "", "u");
  Expect({"COMPARE", kA, kB, "/v", "VERSION"},
         Output({"< Value:  " + std::string(kKeyA) + " version REG_SZ 1.0",
                 "> Value:  " + std::string(kKeyB) + " version REG_SZ 1.1"},
                true),
         2);
  Expect({"COMPARE", kA, kB, "/v", "same"}, Output({}, false), 0);
  Expect({"COMPARE", kA, kB, "/ve"}, Report("Error: Key: software\\b Value:  does not exist!"), 1);
  Expect({"COMPARE", kB, kA, "/ve"}, Report("Error: Key: software\\b Value:  does not exist!"), 1);
  SetString(kB, "", "u");
  Expect({"COMPARE", kA, kB, "/ve"}, Output({}, false), 0);
  Expect({"COMPARE", kA, kB, "/v", "gone"},
         Report("Error: Key: software\\a Value: gone does not exist!"), 1);
  Expect({"COMPARE", kA, "HKCU\\Software\\Missing", "/v", "same"},
         Report("Error: Key: software\\missing does not exist!"), 1);
  // Argument 3 is always the second key name, even "/v".
  Expect({"COMPARE", kA, "/v", "x"}, Report("Error: Key: /v does not exist!"), 1);
}

TEST_F(CompareTest, AValueComparisonTakesNeitherSNorAnOutputOption) {
  SetString(kA, "x", "1");
  SetString(kB, "x", "1");
  for (const std::vector<std::string>& extra : {std::vector<std::string>{"/v", "x", "/s"},
                                                {"/v", "x", "/od"},
                                                {"/ve", "/on"},
                                                {"/oa", "/ve"}}) {
    std::vector<std::string> args = {"COMPARE", kA, kB};
    args.insert(args.end(), extra.begin(), extra.end());
    Expect(args, Report("Error: Invalid command-line parameters"), 1);
  }
}

TEST_F(CompareTest, AnUnreadableValueStopsTheComparison) {
  SetString(kA, "first", "1");
  SetString(kB, "first", "2");
  Set(kA, "long", 4, "0102030405060708");
  Set(kB, "long", 4, "01020304");
  // The lines printed before stay; no result line follows.
  Expect({"COMPARE", kA, kB, "/od"},
         Lines({"< Value:  " + std::string(kKeyA) + " first REG_SZ 1",
                "> Value:  " + std::string(kKeyB) + " first REG_SZ 2", "",
                "Failed to get data for 'long'", ""}),
         1);
}

TEST_F(CompareTest, KeysThatMayOnlyBeReadAreCompared) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv";
  SetString(kA, "x", "1");
  SetString(kB, "x", "2");
  Expect({"COMPARE", kA, kB, "/od", "/s"},
         Output({"< Value:  " + std::string(kKeyA) + " x REG_SZ 1",
                 "> Value:  " + std::string(kKeyB) + " x REG_SZ 2"},
                true),
         2, /*unprivileged=*/true);
}

}  // namespace
}  // namespace orvik::test
