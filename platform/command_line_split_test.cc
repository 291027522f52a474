// Tests of the Windows command-line splitting rule.
#include "platform/command_line_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvik {
namespace {

TEST(SplitCommandLine, FollowsTheSplittingRule) {
  struct Case {
    std::string line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << "line: [" << c.line << "]";
  }
}

TEST(SplitCommandLine, KeepsLongArgumentsWhole) {
  const std::string key = "hkcu\\" + std::string(5000, 'k');
  EXPECT_EQ(SplitCommandLine("orvik query \"" + key + "\" /s"),
            (std::vector<std::string>{"orvik", "query", key, "/s"}));
}

}  // namespace
}  // namespace orvik
