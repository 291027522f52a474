// Tests of the parameter rule of started programs: how a text splits, and
// that quoting survives the split for every awkward argument.
#include "platform/program_parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik {
namespace {

TEST(ProgramParameters, SplitFollowsTheRule) {
  struct Case {
    std::string text;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"/s a.reg", {"/s", "a.reg"}},
      // Only spaces and tabs separate.
      {"a\nb c", {"a\nb", "c"}},
      {"\"a b\"\tc", {"a b", "c"}},
      // Touching stretches join; an empty pair is an empty argument.
      {"x\"a b\"y", {"xa by"}},
      {"a \"\" b", {"a", "", "b"}},
      // Inside a stretch "" is one quote; outside it ends and begins one.
      {"\"a\"\"b\"", {"a\"b"}},
      {"a\"\"b", {"ab"}},
      // Backslashes are ordinary unless a quote follows them.
      {"a\\b\\\\c\\", {"a\\b\\\\c\\"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"\"tail\\\\\" next", {"tail\\", "next"}},
      // An unterminated stretch runs to the end.
      {"q \"a b", {"q", "a b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitProgramParameters(c.text), c.args) << "text: [" << c.text << "]";
  }
}

TEST(ProgramParameters, AQuotedArgumentSplitsBackToItselfExactly) {
  const std::string arguments[] = {
      "plain.reg",
      "a\"b",
      "x\" \"evil.reg",
      "\"",
      "\"\"",
      "back\\\"slash",
      "two\\\\\"quotes",
      "trailing\\",
      "trailing\\\\",
      "\\",
      "with space",
      "tab\there",
      "C:\\dir\\file.reg",
      "line\nbreak",
      "\\\\server\\share\\x.reg",
      "",
  };
  for (const std::string& argument : arguments) {
    const std::string text = "/s " + QuoteProgramParameter(argument);
    EXPECT_EQ(SplitProgramParameters(text), (std::vector<std::string>{"/s", argument}))
        << "argument: [" << argument << "] text: [" << text << "]";
  }
  // A name without quotes or backslashes is only put between quotes.
  EXPECT_EQ(QuoteProgramParameter("app bkup.reg"), "\"app bkup.reg\"");
}

}  // namespace
}  // namespace orvik
