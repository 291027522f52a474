// Tests of the command-line routines: positions, lower-casing and options.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/code_page_932.h"

namespace orvik {
namespace {

TEST(CommandLine, ArgAtGivesEmptyTextOutsideTheArguments) {
  const CommandLine args({"Query", "HKCU\\Soft"});
  EXPECT_EQ(args.ArgCount(), 2);
  EXPECT_EQ(args.ArgAt(1), "Query");
  EXPECT_EQ(args.ArgAt(2), "HKCU\\Soft");
  for (int n : {-1, 0, 3, 100}) EXPECT_EQ(args.ArgAt(n), "") << n;
  EXPECT_EQ(CommandLine().ArgCount(), 0);
  EXPECT_EQ(CommandLine().ArgAt(1), "");
}

TEST(CommandLine, LowerArgTurnsOnlyAsciiCapitalsIntoSmallLetters) {
  const CommandLine args({"AZaz@[`{09",
                          "\xC4\xD6"
                          "Ab\xE9"});
  EXPECT_EQ(args.LowerArg(1), "azaz@[`{09");
  EXPECT_EQ(args.LowerArg(2),
            "\xC4\xD6"
            "ab\xE9");
  EXPECT_EQ(args.LowerArg(3), "");
}

TEST(CommandLine, LowerArgLeavesDoubleByteCharactersWhole) {
  // In code page 932 the second byte of ア (83 41) is an A: lower-cased, the
  // name would be another key's.
  const test::CodePage932 cp932;
  const CommandLine args({"QUERY", "HKCU\\Software\\\x83\x41\x83\x76\x83\x8A", "/V"});
  EXPECT_EQ(args.LowerArg(1), "query");
  EXPECT_EQ(args.LowerArg(2), "hkcu\\software\\\x83\x41\x83\x76\x83\x8A");
  EXPECT_EQ(args.FindOption("/v"), 3);
}

TEST(CommandLine, FindOptionMatchesWholeArgumentsInAnyCaseFirstMatchWinning) {
  struct Case {
    std::vector<std::string> args;
    std::string option;
    int position;
  };
  const Case cases[] = {
      {{"query", "hkcu\\x", "/s"}, "/s", 3},
      {{"query", "hkcu\\x", "/S"}, "/s", 3},
      {{"query", "hkcu\\x", "/VE"}, "/ve", 3},
      {{"query", "hkcu\\x", "/s", "/S"}, "/s", 3},  // the first match wins
      {{"query", "/S", "/s"}, "/s", 2},             // also where a key name was expected
      {{"/s"}, "/s", 1},                            // the operation word is searched too
      {{"query", "hkcu\\x"}, "/s", -1},
      {{"query", "hkcu\\x", "/sx"}, "/s", -1},  // only beginning with the option
      {{"query", "hkcu\\x", "/s:"}, "/s", -1},
      {{"query", "hkcu\\x", "/s "}, "/s", -1},
      {{"query", "hkcu\\x", "/v"}, "/ve", -1},
      {{"query", "hkcu\\x", "/ve"}, "/v", -1},
      {{}, "/s", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommandLine(c.args).FindOption(c.option), c.position) << c.option;
  }
}

TEST(CommandLine, OptionValueTakesTheArgumentAfterTheOption) {
  const CommandLine args({"add", "k", "/V", "MyName", "/d", "Hello", "/v", "Other", "/t"});
  std::string target = "default";
  args.OptionValue("/v", target);
  EXPECT_EQ(target, "myname");  // lower-cased, after the first /v

  target = "default";
  args.OptionValueAsTyped("/v", target);
  EXPECT_EQ(target, "MyName");

  target = "default";
  args.OptionValue("/t", target);  // the last argument: nothing after it
  EXPECT_EQ(target, "");
  target = "default";
  args.OptionValueAsTyped("/t", target);
  EXPECT_EQ(target, "");

  target = "default";
  args.OptionValue("/s", target);  // absent: the target keeps its value
  EXPECT_EQ(target, "default");
  args.OptionValueAsTyped("/s", target);
  EXPECT_EQ(target, "default");
}

TEST(CommandLine, OptionFlagIsTheOptionsOwnLowerCaseTextOrEmpty) {
  const CommandLine args({"copy", "a", "b", "/S"});
  EXPECT_EQ(args.OptionFlag("/s"), "/s");
  EXPECT_EQ(args.OptionFlag("/f"), "");
}

}  // namespace
}  // namespace orvik
