// Tests of the Windows command-line splitting rule.
#include "platform/command_line_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik {
namespace {

struct Case {
  std::string line;
  std::vector<std::string> args;
};

std::wstring Widened(const std::string& bytes) {
  std::wstring wide;
  for (const char c : bytes) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

const std::vector<Case>& RuleCases() {
  static const std::vector<Case> cases = {
      {"", {}},
      {"   \t ", {}},
      {"orvik query", {"orvik", "query"}},
      // Codes 1 to 32 separate; tabs, runs of separators and trailing spaces.
      {"  a\t\tb  ", {"a", "b"}},
      {"a\x01"
       "b\x1f"
       "c\nd\re",
       {"a", "b", "c", "d", "e"}},
      // Codes from 127 up are ordinary characters.
      {"a\x7f"
       "b c\xa0"
       "d",
       {"a\x7f"
        "b",
        "c\xa0"
        "d"}},
      // Quoted stretches: separators inside are ordinary, quotes dropped.
      {"\"a b\"", {"a b"}},
      {"\"a\tb\" c", {"a\tb", "c"}},
      {"\" \"", {" "}},
      // Touching stretches form one argument.
      {"x\"a b\"y", {"xa by"}},
      {"\"a\"\"b\"", {"ab"}},
      {"a\"\"b", {"ab"}},
      // An unterminated quote runs to the end of the line.
      {"q \"a b", {"q", "a b"}},
      // No escape character: a backslash before a quote stays, and the quote
      // still ends the stretch.
      {"q \"hkcu\\soft\\\" next", {"q", "hkcu\\soft\\", "next"}},
      {"a\\\"b c\" d", {"a\\b c", "d"}},
      {"a\\\\\"b\"", {"a\\\\b"}},
      // Pairs of quotes at the start of an argument are skipped, as often as
      // they occur; a lone pair yields no argument and takes no position.
      {"query \"\" hkcu\\x", {"query", "hkcu\\x"}},
      {"\"\"", {}},
      {"\"\"\"\"x", {"x"}},
      {"\"\" \"\" x", {"x"}},
      {"\"\"\"a b\"", {"a b"}},
      {"\"\"x\"\"", {"x"}},
      // A quote alone at the end gives an empty argument, which is dropped.
      {"a \"", {"a"}},
      {"a \"\"\"", {"a"}},
  };
  return cases;
}

TEST(SplitCommandLine, FollowsTheSplittingRule) {
  for (const Case& c : RuleCases()) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << "line: [" << c.line << "]";
  }
}

TEST(SplitCommandLine, WideTextFollowsTheSameRule) {
  for (const Case& c : RuleCases()) {
    std::vector<std::wstring> args;
    for (const std::string& arg : c.args) args.push_back(Widened(arg));
    EXPECT_EQ(SplitCommandLine(Widened(c.line)), args) << "line: [" << c.line << "]";
  }
  // Only the ASCII double quote quotes: a fullwidth one (U+FF02), which a
  // best-fit conversion would turn into it, is an ordinary character.
  EXPECT_EQ(SplitCommandLine(std::wstring(L"add a\xFF02"
                                          L"b c\xFF02")),
            (std::vector<std::wstring>{L"add",
                                       L"a\xFF02"
                                       L"b",
                                       L"c\xFF02"}));
}

TEST(SplitCommandLine, KeepsLongArgumentsWhole) {
  const std::string key = "hkcu\\" + std::string(5000, 'k');
  EXPECT_EQ(SplitCommandLine("orvik query \"" + key + "\" /s"),
            (std::vector<std::string>{"orvik", "query", key, "/s"}));
}

}  // namespace
}  // namespace orvik
