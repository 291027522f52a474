// Standard output as a console. A Windows console shows characters in its
// own output code page (the OEM one by default), not the ANSI bytes Orvik's
// lines are made of, so lines for a console are converted and written as
// characters. Output that is redirected (a file, a pipe), and all output on
// POSIX, where a terminal takes the bytes, gets the bytes unchanged.
#pragma once

#include <string>
#include <string_view>

namespace orvik {

// Whether standard output is a console that takes characters rather than
// bytes (WriteConsoleW on Windows; never on POSIX).
bool StandardOutputIsConsole();

// Writes ANSI text to that console as characters. False, with the reason in
// *reason, when the console refused it.
bool WriteConsoleText(std::string_view text, std::string* reason);

}  // namespace orvik
