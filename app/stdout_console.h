// The program's console: lines go to standard output, each ended by CR LF,
// as bytes, or as characters when standard output is a Windows console.
#pragma once

#include <string>
#include <string_view>

#include "manip/console.h"

namespace orvik {

class StdoutConsole : public Console {
 public:
  StdoutConsole();
  // Raises Exception at the first line that cannot be written, so that the
  // operation stops; later lines (the error report) are dropped.
  void Line(std::string_view text) override;
  void Banner() override;

  // Flushes standard output; false when any of its output was lost (then
  // `reason` is the system's text for why).
  bool Finish(std::string* reason);

 private:
  const bool console_;  // standard output shows characters, not bytes
  bool failed_ = false;
  int error_ = 0;
  std::string console_error_;
};

}  // namespace orvik
