// The byte rules of ansi_text.h over the ANSI code page's lead bytes.
#include "platform/ansi_text.h"

#include <utility>

#include "platform/lead_bytes.h"

namespace orvik {

namespace {

// Applies change to every byte that is a character of its own.
template <typename Change>
std::string ChangeSingleBytes(std::string text, Change change) {
  const LeadByteTable& bytes = AnsiLeadBytes();
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (bytes.lead[byte]) {
      ++i;  // the second half of the character stays as it is
    } else {
      text[i] = change(text[i]);
    }
  }
  return text;
}

}  // namespace

std::string LowerAsciiLetters(std::string text) {
  return ChangeSingleBytes(std::move(text), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
}

std::string UpperAsciiLetters(std::string text) {
  return ChangeSingleBytes(std::move(text), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
}

size_t CharacterLength(std::string_view text, size_t position) {
  const auto byte = static_cast<unsigned char>(text[position]);
  return AnsiLeadBytes().lead[byte] && position + 1 < text.size() ? 2 : 1;
}

size_t FindAtCharacter(std::string_view text, std::string_view needle, size_t from) {
  if (needle.empty()) return from <= text.size() ? from : std::string_view::npos;
  if (!AnsiLeadBytes().any) return text.find(needle, from);
  for (size_t i = from; i < text.size(); i += CharacterLength(text, i)) {
    if (text.compare(i, needle.size(), needle) == 0) return i;
  }
  return std::string_view::npos;
}

size_t FindBackslash(std::string_view text, size_t from) {
  return FindAtCharacter(text, "\\", from);
}

bool EndsWithBackslash(std::string_view text) {
  if (text.empty() || text.back() != '\\') return false;
  if (!AnsiLeadBytes().any) return true;
  // Only a walk from the start tells whether the last byte is a character.
  size_t last = 0;
  for (size_t i = 0; i < text.size(); i += CharacterLength(text, i)) last = i;
  return last == text.size() - 1;
}

std::string_view WithoutTrailingBackslashes(std::string_view text) {
  size_t kept = 0;  // the end of the last character that is no backslash
  for (size_t i = 0; i < text.size();) {
    const size_t length = CharacterLength(text, i);
    if (length == 2 || text[i] != '\\') kept = i + length;
    i += length;
  }
  return text.substr(0, kept);
}

}  // namespace orvik
