// The Windows command-line splitting rule (see command_line_split.h).
#include "platform/command_line_split.h"

#include <type_traits>

namespace orvik {

namespace {

template <typename Char>
bool IsSeparator(Char c) {
  const auto code = static_cast<std::make_unsigned_t<Char>>(c);
  return code >= 1 && code <= 32;
}

template <typename Char>
std::vector<std::basic_string<Char>> Split(std::basic_string_view<Char> line) {
  constexpr Char kQuote = static_cast<Char>('"');
  constexpr Char kEnd = static_cast<Char>(0);
  std::vector<std::basic_string<Char>> args;
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && IsSeparator(line[i])) ++i;
    // Pairs of quotes at the start of an argument are skipped.
    while (i + 1 < n && line[i] == kQuote && line[i + 1] == kQuote) i += 2;
    if (i >= n || line[i] == kEnd) break;
    if (IsSeparator(line[i])) continue;
    std::basic_string<Char> arg;
    while (i < n && line[i] != kEnd && !IsSeparator(line[i])) {
      if (line[i] == kQuote) {
        ++i;
        while (i < n && line[i] != kEnd && line[i] != kQuote) arg += line[i++];
        if (i < n && line[i] == kQuote) ++i;
      } else {
        arg += line[i++];
      }
    }
    // An empty quoted stretch at the very end yields nothing: an empty
    // argument cannot occupy a position.
    if (!arg.empty()) args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) { return Split(line); }

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) { return Split(line); }

}  // namespace orvik
