// The banner at the top of every help screen and of the QUERY listing.
#pragma once

#include <string>

#include "manip/console.h"

namespace orvik {

// The second banner line, unscrambled from its stored form.
std::string BannerCopyrightLine();

// Prints the three banner lines: title, copyright, an empty line.
void PrintBanner(Console& out);

}  // namespace orvik
