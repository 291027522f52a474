// Consoles on Windows: the ANSI text converted to UTF-16 and written with
// WriteConsoleW, which shows it whatever the console's code page.
#include <algorithm>

#include "platform/console_text.h"
#include "platform/platform.h"

namespace orvik {

namespace {

// Characters per WriteConsoleW call: older consoles refuse very long writes.
constexpr size_t kPiece = 8192;

HANDLE StandardOutput() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool Refused(std::string* reason) {
  *reason = "the console refused the text (error " + std::to_string(GetLastError()) + ")";
  return false;
}

}  // namespace

bool StandardOutputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(StandardOutput(), &mode) != 0;
}

bool WriteConsoleText(std::string_view text, std::string* reason) {
  if (text.empty()) return true;
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return Refused(reason);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size) != size) {
    return Refused(reason);
  }
  const HANDLE console = StandardOutput();
  std::wstring_view rest(wide);
  while (!rest.empty()) {
    size_t piece = std::min(rest.size(), kPiece);
    // A surrogate pair stays in one piece.
    if (piece < rest.size() && rest[piece - 1] >= 0xD800 && rest[piece - 1] <= 0xDBFF) --piece;
    DWORD written = 0;
    if (!WriteConsoleW(console, rest.data(), static_cast<DWORD>(piece), &written, nullptr) ||
        written == 0) {
      return Refused(reason);
    }
    rest.remove_prefix(std::min<size_t>(written, rest.size()));
  }
  return true;
}

}  // namespace orvik
