// The general usage screen: the banner, the operations and how to get help.
#include "app/usage.h"

#include <string_view>

namespace orvik {

void ShowUsage(Console& out) {
  static constexpr std::string_view kLines[] = {
      "Orvik Operation [Parameters]",
      "  Operation =  QUERY | ADD | DELETE | COPY | SAVE | LOAD | UNLOAD |",
      "               RESTORE | COMPARE | EXPORT | IMPORT",
      "",
      "For help on a specific operation type:",
      "  Orvik Operation /?",
      "",
      "Examples:",
      "  Orvik QUERY /?",
      "  Orvik ADD /?",
      "  Orvik DELETE /?",
      "  Orvik COPY /?",
      "  Orvik SAVE /?",
      "  Orvik RESTORE /?",
      "  Orvik LOAD /?",
      "  Orvik UNLOAD /?",
      "  Orvik COMPARE /?",
      "  Orvik EXPORT /?",
      "  Orvik IMPORT /?",
  };
  out.Banner();
  for (std::string_view line : kLines) out.Line(line);
}

}  // namespace orvik
