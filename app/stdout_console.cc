// Writes lines to standard output with CR LF line ends on every platform,
// and notices when standard output cannot take them.
#include "app/stdout_console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/banner.h"
#include "platform/console_text.h"
#include "registry/exception.h"

namespace orvik {

StdoutConsole::StdoutConsole() : console_(StandardOutputIsConsole()) {}

void StdoutConsole::Line(std::string_view text) {
  if (failed_) return;
  if (console_) {
    std::string line(text);
    line += "\r\n";
    if (WriteConsoleText(line, &console_error_)) return;
    failed_ = true;
    throw Exception("standard output cannot be written");
  }
  errno = 0;
  const bool written =
      (text.empty() || std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) &&
      std::fwrite("\r\n", 1, 2, stdout) == 2;
  if (written && std::ferror(stdout) == 0) return;
  failed_ = true;
  error_ = errno;
  throw Exception("standard output cannot be written");
}

void StdoutConsole::Banner() { PrintBanner(*this); }

bool StdoutConsole::Finish(std::string* reason) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    if (!failed_) error_ = errno;
    failed_ = true;
  }
  if (!failed_) return true;
  if (!console_error_.empty()) {
    *reason = console_error_;
  } else {
    *reason = error_ != 0 ? std::strerror(error_) : "write error";
  }
  return false;
}

}  // namespace orvik
