// The general usage screen, shown for a missing or unknown operation word.
#pragma once

#include "manip/console.h"

namespace orvik {

void ShowUsage(Console& out);

}  // namespace orvik
