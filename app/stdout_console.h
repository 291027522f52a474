// The program's console: lines go to standard output, each ended by CR LF.
#pragma once

#include <string_view>

#include "manip/console.h"

namespace orvik {

class StdoutConsole : public Console {
 public:
  void Line(std::string_view text) override;
  void Banner() override;
};

}  // namespace orvik
