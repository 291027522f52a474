// IMPORT: "Orvik IMPORT FileName".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct ImportParameters {
  std::string file_name;  // as typed

  bool operator==(const ImportParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<ImportParameters> ReadImportParameters(const CommandLine& args);
void ShowImportHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseImport(const CommandLine& args, Console& out);

}  // namespace orvik
