// The command line as the parsers read it: positions 1 to ArgCount hold the
// arguments after the program's own name (position 1 is the operation word).
// Options are whole arguments, matched without regard to ASCII case anywhere
// on the command line, the first match winning.
#pragma once

#include <string>
#include <vector>

namespace orvik {

class CommandLine {
 public:
  CommandLine() = default;
  explicit CommandLine(std::vector<std::string> arguments);

  int ArgCount() const;
  // The argument at 1-based position n as typed; empty outside 1..ArgCount.
  std::string ArgAt(int n) const;
  // ArgAt(n) with A to Z lower-cased; every other byte stays, and so does
  // the second byte of a double-byte character.
  std::string LowerArg(int n) const;
  // The first position whose LowerArg equals option (given in lower case),
  // or -1.
  int FindOption(const std::string& option) const;
  // When the option is present, target receives the lower-cased argument
  // after it (empty when the option is last); otherwise target is unchanged.
  void OptionValue(const std::string& option, std::string& target) const;
  // As OptionValue, but target receives the argument after the option
  // exactly as typed.
  void OptionValueAsTyped(const std::string& option, std::string& target) const;
  // The option's own lower-case text when present, else empty.
  std::string OptionFlag(const std::string& option) const;

 private:
  std::vector<std::string> arguments_;
};

}  // namespace orvik
