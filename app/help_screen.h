// Prints an operation's help screen: the banner, then the screen's lines.
#pragma once

#include <initializer_list>
#include <string_view>

#include "manip/console.h"

namespace orvik {

void PrintHelpScreen(Console& out, std::initializer_list<std::string_view> lines);

}  // namespace orvik
