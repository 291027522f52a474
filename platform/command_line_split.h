// Splits a raw command line into arguments by the rule Orvik uses on Windows,
// where a program receives its command line as one text.
//
//  - Characters with codes 1 to 32 separate arguments.
//  - A double quote starts a quoted stretch that runs to the next double quote
//    (or the end); the quotes are dropped and touching stretches join.
//  - There is no escape character: a backslash before a quote is a backslash.
//  - Pairs of double quotes at the very start of an argument are skipped, so
//    "" alone yields no argument.
//
// Plain code with no platform dependency, so it is tested on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvik {

std::vector<std::string> SplitCommandLine(std::string_view command_line);
// The same rule over wide characters (GetCommandLineW), so that arguments
// are split before anything is converted to the ANSI code page.
std::vector<std::wstring> SplitCommandLine(std::wstring_view command_line);

}  // namespace orvik
