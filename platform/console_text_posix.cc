// Consoles on POSIX: a terminal takes the bytes as they are.
#include "platform/console_text.h"

namespace orvik {

bool StandardOutputIsConsole() { return false; }

bool WriteConsoleText(std::string_view, std::string* reason) {
  *reason = "no console";
  return false;
}

}  // namespace orvik
