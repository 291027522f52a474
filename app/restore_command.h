// RESTORE: "Orvik RESTORE FullKey FileName".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct RestoreParameters {
  std::string key_name;   // as typed
  std::string file_name;  // as typed; may be empty

  bool operator==(const RestoreParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<RestoreParameters> ReadRestoreParameters(const CommandLine& args);
void ShowRestoreHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseRestore(const CommandLine& args, Console& out);

}  // namespace orvik
