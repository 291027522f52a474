// The parameters of a program Orvik starts, as one text: the rule by which
// such a program splits its command line (the C runtime's rule on Windows),
// and quoting that this rule undoes exactly.
//
//  - Spaces and tabs outside quotes separate arguments.
//  - A double quote begins or ends a quoted stretch, inside which spaces and
//    tabs are ordinary; touching stretches join, and "" alone is an empty
//    argument. Inside a stretch, "" is one double quote.
//  - Backslashes are ordinary, except in a run that ends at a double quote:
//    2n of them give n backslashes and the quote keeps its meaning; 2n+1
//    give n backslashes and a double quote that is an ordinary character.
//
// Plain code with no platform dependency, so it is tested on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvik {

std::vector<std::string> SplitProgramParameters(std::string_view text);

// The argument in double quotes, written so that SplitProgramParameters
// gives back exactly the argument: every double quote and every run of
// backslashes before a quote or before the closing quote escaped.
std::string QuoteProgramParameter(std::string_view argument);

}  // namespace orvik
