// Writes lines to standard output with CR LF line ends on every platform,
// and notices when standard output cannot take them.
#include "app/stdout_console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/banner.h"
#include "registry/exception.h"

namespace orvik {

void StdoutConsole::Line(std::string_view text) {
  if (failed_) return;
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
  *reason = error_ != 0 ? std::strerror(error_) : "write error";
  return false;
}

}  // namespace orvik
