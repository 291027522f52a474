// COMPARE: "Orvik COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [Output]
// [/s]".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct CompareParameters {
  std::string first_key_name;   // lower-cased
  std::string second_key_name;  // lower-cased; whatever argument 3 holds
  std::string value_name;       // lower-cased; "@" for /ve; empty: whole keys
  std::string output_mode;      // "/oa", "/od", "/os", "/on" or empty
  std::string recursion_flag;   // "/s" or empty

  bool operator==(const CompareParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<CompareParameters> ReadCompareParameters(const CommandLine& args);
void ShowCompareHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseCompare(const CommandLine& args, Console& out);

}  // namespace orvik
