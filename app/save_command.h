// SAVE: "Orvik SAVE FullKey FileName".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct SaveParameters {
  std::string key_name;   // lower-cased
  std::string file_name;  // as typed

  bool operator==(const SaveParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<SaveParameters> ReadSaveParameters(const CommandLine& args);
void ShowSaveHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseSave(const CommandLine& args, Console& out);

}  // namespace orvik
