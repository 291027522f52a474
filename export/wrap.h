// Wrapping of long hex-list entries into physical lines that end in a
// backslash, the registry-editor format's mark of a continued entry.
#pragma once

#include <string>
#include <string_view>

namespace orvik {

// The first physical line of a hex-list entry longer than 78 characters,
// without its backslash. It ends after a comma within the first 79
// characters, or, for a value name so long that its type tag begins at
// position 69 or later, after the tag and the first byte. When no comma
// falls within reach (a long name before a long tag), it ends after the
// tag's colon, so that no byte is split.
std::string_view FirstWrapPiece(std::string_view entry);

// Appends the entry to text as physical lines, each followed by CR LF: as it
// is when it has at most 78 characters, else as the first piece and
// continuation lines of two spaces and 25 bytes, every line but the last
// ending in a backslash.
void AddWrapped(std::string_view entry, std::string& text);

}  // namespace orvik
