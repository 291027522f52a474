// UNLOAD: "Orvik UNLOAD FullKeyName".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct UnloadParameters {
  std::string key_name;  // lower-cased

  bool operator==(const UnloadParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<UnloadParameters> ReadUnloadParameters(const CommandLine& args);
void ShowUnloadHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseUnload(const CommandLine& args, Console& out);

}  // namespace orvik
