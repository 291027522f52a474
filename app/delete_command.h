// DELETE: "Orvik DELETE FullKeyName [/v ValueName | /ve | /va] [/f]".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct DeleteParameters {
  std::string key_name;    // lower-cased
  std::string selector;    // empty (the key), "@", kDeleteAllMarker or a value name
  std::string force_flag;  // "/f" or empty; has no effect

  bool operator==(const DeleteParameters&) const = default;
};

// The parameters, or nothing when the help screen is due. Raises
// "Error: Invalid command-line parameters" for a /v without a name after it,
// which would otherwise remove the whole key.
std::optional<DeleteParameters> ReadDeleteParameters(const CommandLine& args);
void ShowDeleteHelp(Console& out);
// Prints the help screen and returns 1, or returns what the engine returns.
int ParseDelete(const CommandLine& args, Console& out);

}  // namespace orvik
