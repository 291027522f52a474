// Splitting and quoting the parameters of a started program (see
// program_parameters.h).
#include "platform/program_parameters.h"

namespace orvik {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitProgramParameters(std::string_view text) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && IsSeparator(text[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsSeparator(text[i]))) {
      if (text[i] == '\\') {
        size_t backslashes = 0;
        while (i < n && text[i] == '\\') {
          ++backslashes;
          ++i;
        }
        if (i < n && text[i] == '"') {
          arg.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(backslashes, '\\');
        }
      } else if (text[i] == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += text[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string QuoteProgramParameter(std::string_view argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      // The run before the quote doubled, and one more for the quote itself.
      quoted.append(2 * backslashes + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  // A run at the end stands before the closing quote.
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

}  // namespace orvik
