// Byte rules for text in the ANSI code page that hold for characters, never
// for the second half of one: in a double-byte code page the byte after a
// lead byte can be an ASCII letter or a backslash, and it is neither there.
// "Lower-case A to Z" and "a backslash separates names" skip such bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvik {

// The ASCII letters A to Z turned into a to z, or the other way round; every
// other byte, and every byte after a lead byte, stays.
std::string LowerAsciiLetters(std::string text);
std::string UpperAsciiLetters(std::string text);

// Bytes of the character that begins at `position`: 2 for a lead byte with a
// byte after it, else 1.
size_t CharacterLength(std::string_view text, size_t position);

// The position of the first `needle` at or after `from` that begins a
// character, or npos. `from` must begin a character.
size_t FindAtCharacter(std::string_view text, std::string_view needle, size_t from = 0);
size_t FindBackslash(std::string_view text, size_t from = 0);

// Whether the text's last character is a backslash.
bool EndsWithBackslash(std::string_view text);

// The text without the backslash characters at its end.
std::string_view WithoutTrailingBackslashes(std::string_view text);

}  // namespace orvik
