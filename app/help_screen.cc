// Help screens start with the banner; the lines follow unchanged.
#include "app/help_screen.h"

namespace orvik {

void PrintHelpScreen(Console& out, std::initializer_list<std::string_view> lines) {
  out.Banner();
  for (std::string_view line : lines) out.Line(line);
}

}  // namespace orvik
