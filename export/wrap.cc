// Wrapping of hex-list entries. Positions in comments are 1-based: the first
// line holds up to 79 characters and its backslash, continuation lines 75
// after two spaces.
#include "export/wrap.h"

namespace orvik {

namespace {

constexpr size_t kLongestSingleLine = 78;
constexpr size_t kContinuationLength = 75;  // 25 bytes of "xx,"
constexpr size_t kLateTagPosition = 69;

}  // namespace

std::string_view FirstWrapPiece(std::string_view entry) {
  // The hex list holds only digits and commas, so the last "=" and the last
  // ":" are the type tag's, whatever the value name holds.
  const size_t equals = entry.rfind('=');
  const size_t colon = entry.rfind(':');
  if (equals == std::string_view::npos || colon == std::string_view::npos || colon < equals) {
    return entry;  // not a hex entry: never split
  }
  if (equals + 1 >= kLateTagPosition) return entry.substr(0, colon + 1 + 3);  // tag and one byte
  if (entry.size() >= 78 && entry[77] == ',') return entry.substr(0, 78);
  if (entry.size() >= 77 && entry[76] == ',') return entry.substr(0, 77);
  if (entry.size() >= 76 && entry[75] == ',') return entry.substr(0, 79);
  // The list starts at position 77 or later: break before its first byte.
  return entry.substr(0, colon + 1);
}

void AddWrapped(std::string_view entry, std::string& text) {
  if (entry.size() <= kLongestSingleLine) {
    text.append(entry);
    text.append("\r\n");
    return;
  }
  const std::string_view first = FirstWrapPiece(entry);
  std::string_view rest = entry.substr(first.size());
  text.append(first);
  text.append(rest.empty() ? "\r\n" : "\\\r\n");
  while (rest.size() > kContinuationLength) {
    text.append("  ");
    text.append(rest.substr(0, kContinuationLength));
    text.append("\\\r\n");
    rest.remove_prefix(kContinuationLength);
  }
  if (!rest.empty()) {
    text.append("  ");
    text.append(rest);
    text.append("\r\n");
  }
}

}  // namespace orvik
