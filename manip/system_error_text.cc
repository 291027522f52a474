// The platform's message text for an error code, as FormatMessageA gives it.
#include "manip/system_error_text.h"

#include <string>

namespace orvik {

std::string SystemErrorText(LONG code) {
  char buffer[1024];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, static_cast<DWORD>(code), 0, buffer,
                                      static_cast<DWORD>(sizeof(buffer)), nullptr);
  std::string text(buffer, length < sizeof(buffer) ? length : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) return "Unknown error " + std::to_string(code);
  return text;
}

Exception RefusedChange(LONG code) { return Exception("Error: " + SystemErrorText(code)); }

}  // namespace orvik
