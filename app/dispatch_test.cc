// Tests of dispatch, the exception guard and the error report.
#include "app/dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "manip/console.h"

namespace orvik {
namespace {

constexpr char kUsageStart[] = "<banner>\r\nOrvik Operation [Parameters]\r\n";
constexpr char kUsageEnd[] = "  Orvik COMPARE /?\r\n  Orvik EXPORT /?\r\n  Orvik IMPORT /?\r\n";

struct RunResult {
  int exit_code;
  std::string text;
};

RunResult RunWith(const std::vector<std::string>& args) {
  CapturingConsole out;
  const int exit_code = RunOrvik(CommandLine(args), out);
  return {exit_code, out.Text()};
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}
bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(Dispatch, EveryOperationWordInAnyCaseSelectsItsParser) {
  struct Case {
    std::string word;
    std::string usage_line;  // the first line of the operation's help screen
  };
  const Case cases[] = {
      {"QUERY", "Orvik QUERY FullKeyName [ /v ValueName | /ve | /s ]"},
      {"add", "Orvik ADD FullKeyName [/v ValueName] [/t Type] [/s Separator] [/d Data] [/f]"},
      {"Delete", "Orvik DELETE FullKeyName [/v ValueName | /ve | /va] [/f]"},
      {"cOPY", "Orvik COPY KeyName1 KeyName2 [/s] [/f]"},
      {"Compare", "Orvik COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [Output] [/s]"},
      {"save", "Orvik SAVE FullKey FileName"},
      {"RESTORE", "Orvik RESTORE FullKey FileName"},
      {"LoAd", "Orvik LOAD FullKeyName FileName"},
      {"unload", "Orvik UNLOAD FullKeyName"},
      {"EXPORT", "Orvik EXPORT KeyName FileName [/nt4]"},
      {"Import", "Orvik IMPORT FileName"},
  };
  for (const Case& c : cases) {
    const RunResult run = RunWith({c.word, "/?"});
    EXPECT_EQ(run.exit_code, 1) << c.word;
    EXPECT_TRUE(StartsWith(run.text, "<banner>\r\n" + c.usage_line + "\r\n")) << run.text;
  }
}

TEST(Dispatch, AMissingOrUnknownWordShowsTheUsageScreen) {
  const std::vector<std::vector<std::string>> cases = {
      {},           {"querys", "hkcu\\x"},
      {"/query"},   {"quer"},
      {"qu\xC9ry"},  // only A to Z are lower-cased
      {"del"},      {"/?"},
  };
  for (const auto& args : cases) {
    const RunResult run = RunWith(args);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(StartsWith(run.text, kUsageStart)) << run.text;
    EXPECT_TRUE(EndsWith(run.text, kUsageEnd)) << run.text;
  }
}

TEST(Dispatch, AFailureInAParserIsReportedWithExitCodeOne) {
  const RunResult run = RunWith({"DELETE", "hkcu\\software\\x", "/v"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.text, "\r\nError: Invalid command-line parameters\r\n\r\n");
}

TEST(RunGuarded, ReportsWhateverEscapesAndKeepsEarlierOutput) {
  struct Case {
    std::string name;
    std::function<int(Console&)> body;
    int exit_code;
    std::string text;
  };
  const Case cases[] = {
      {"result passes through", [](Console&) { return 2; }, 2, ""},
      {"message framed by empty lines",
       [](Console& out) -> int {
         out.Line("listed");
         throw std::runtime_error("Error: Key: x does not exist!");
       },
       1, "listed\r\n\r\nError: Key: x does not exist!\r\n\r\n"},
      {"empty message: three empty lines", [](Console&) -> int { throw std::runtime_error(""); }, 1,
       "\r\n\r\n\r\n"},
      {"an exception without a message", [](Console&) -> int { throw 42; }, 1, "\r\n\r\n\r\n"},
  };
  for (const Case& c : cases) {
    CapturingConsole out;
    const int exit_code = RunGuarded(out, [&] { return c.body(out); });
    EXPECT_EQ(exit_code, c.exit_code) << c.name;
    EXPECT_EQ(out.Text(), c.text) << c.name;
  }
}

}  // namespace
}  // namespace orvik
