// Writes lines to standard output with CR LF line ends on every platform.
#include "app/stdout_console.h"

#include <cstdio>

#include "app/banner.h"

namespace orvik {

void StdoutConsole::Line(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
  std::fwrite("\r\n", 1, 2, stdout);
}

void StdoutConsole::Banner() { PrintBanner(*this); }

}  // namespace orvik
