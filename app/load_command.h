// LOAD: "Orvik LOAD FullKeyName FileName".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct LoadParameters {
  std::string key_name;   // lower-cased
  std::string file_name;  // as typed

  bool operator==(const LoadParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<LoadParameters> ReadLoadParameters(const CommandLine& args);
void ShowLoadHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseLoad(const CommandLine& args, Console& out);

}  // namespace orvik
