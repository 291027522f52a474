// The command-line routines every parser reads its arguments through.
#include "app/command_line.h"

#include <utility>

#include "platform/ansi_text.h"

namespace orvik {

CommandLine::CommandLine(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

int CommandLine::ArgCount() const { return static_cast<int>(arguments_.size()); }

std::string CommandLine::ArgAt(int n) const {
  if (n < 1 || n > ArgCount()) return std::string();
  return arguments_[static_cast<size_t>(n - 1)];
}

std::string CommandLine::LowerArg(int n) const { return LowerAsciiLetters(ArgAt(n)); }

int CommandLine::FindOption(const std::string& option) const {
  for (int n = 1; n <= ArgCount(); ++n) {
    if (LowerArg(n) == option) return n;
  }
  return -1;
}

void CommandLine::OptionValue(const std::string& option, std::string& target) const {
  const int p = FindOption(option);
  if (p > 0) target = LowerArg(p + 1);
}

void CommandLine::OptionValueAsTyped(const std::string& option, std::string& target) const {
  const int p = FindOption(option);
  if (p > 0) target = ArgAt(p + 1);
}

std::string CommandLine::OptionFlag(const std::string& option) const {
  const int p = FindOption(option);
  return p > 0 ? LowerArg(p) : std::string();
}

}  // namespace orvik
