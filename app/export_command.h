// EXPORT: "Orvik EXPORT KeyName FileName [/nt4]".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct ExportParameters {
  std::string key_name;   // lower-cased
  std::string file_name;  // as typed

  bool operator==(const ExportParameters&) const = default;
};

// The parameters, or nothing when the help screen is due. Arguments after
// the third, /nt4 among them, change nothing.
std::optional<ExportParameters> ReadExportParameters(const CommandLine& args);
void ShowExportHelp(Console& out);
// Prints the help screen and returns 1, or runs the engine.
int ParseExport(const CommandLine& args, Console& out);

}  // namespace orvik
