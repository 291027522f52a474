// COPY: "Orvik COPY KeyName1 KeyName2 [/s] [/f]".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct CopyParameters {
  std::string source_key_name;       // lower-cased
  std::string destination_key_name;  // lower-cased
  std::string recursion_flag;        // "/s" or empty
  std::string force_flag;            // "/f" or empty; has no effect

  bool operator==(const CopyParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<CopyParameters> ReadCopyParameters(const CommandLine& args);
void ShowCopyHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseCopy(const CommandLine& args, Console& out);

}  // namespace orvik
