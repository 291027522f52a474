// Wrapping of hex-list entries. Positions in comments are 1-based, as in the
// registry-editor convention: the first line holds up to 79 characters and
// its backslash, continuation lines 75 after two spaces.
#include "export/wrap.h"

namespace orvik {

namespace {

constexpr size_t kLongestSingleLine = 78;
constexpr size_t kContinuationLength = 75;  // 25 bytes of "xx,"
constexpr size_t kLateTagPosition = 69;

}  // namespace

std::string FirstWrapPiece(std::string_view entry) {
  // The hex list holds only digits and commas, so the last "=" and the last
  // ":" are the type tag's, whatever the value name holds.
  const size_t equals = entry.rfind('=');
  const size_t colon = entry.rfind(':');
  if (equals == std::string_view::npos || colon == std::string_view::npos || colon < equals) {
    return std::string(entry);  // not a hex entry: never split
  }
  if (equals + 1 >= kLateTagPosition) {
    return std::string(entry.substr(0, colon + 1 + 3));  // the tag and one byte
  }
  if (entry.size() >= 78 && entry[77] == ',') return std::string(entry.substr(0, 78));
  if (entry.size() >= 77 && entry[76] == ',') return std::string(entry.substr(0, 77));
  if (entry.size() >= 76 && entry[75] == ',') return std::string(entry.substr(0, 79));
  // The list starts at position 77 or later: break before its first byte.
  return std::string(entry.substr(0, colon + 1));
}

void AddWrapped(std::string_view entry, TStringList& lines) {
  if (entry.size() <= kLongestSingleLine) {
    lines.emplace_back(entry);
    return;
  }
  const std::string first = FirstWrapPiece(entry);
  std::string_view rest = entry.substr(first.size());
  lines.push_back(rest.empty() ? first : first + "\\");
  while (rest.size() > kContinuationLength) {
    std::string line;
    line.reserve(kContinuationLength + 3);
    line += "  ";
    line += rest.substr(0, kContinuationLength);
    line += '\\';
    lines.push_back(std::move(line));
    rest.remove_prefix(kContinuationLength);
  }
  if (!rest.empty()) lines.push_back("  " + std::string(rest));
}

}  // namespace orvik
