// The Windows command-line splitting rule (see command_line_split.h).
#include "platform/command_line_split.h"

namespace orvik {

namespace {

bool IsSeparator(char c) {
  auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && IsSeparator(line[i])) ++i;
    // Pairs of quotes at the start of an argument are skipped.
    while (i + 1 < n && line[i] == '"' && line[i + 1] == '"') i += 2;
    if (i >= n || line[i] == '\0') break;
    if (IsSeparator(line[i])) continue;
    std::string arg;
    while (i < n && line[i] != '\0' && !IsSeparator(line[i])) {
      if (line[i] == '"') {
        ++i;
        while (i < n && line[i] != '\0' && line[i] != '"') arg += line[i++];
        if (i < n && line[i] == '"') ++i;
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

}  // namespace orvik
