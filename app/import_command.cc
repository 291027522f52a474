// IMPORT's argument grammar and help screen. The file name keeps the case it
// was typed in: file systems may tell names apart by case.
#include "app/import_command.h"

#include "app/help_screen.h"
#include "manip/import_engine.h"

namespace orvik {

std::optional<ImportParameters> ReadImportParameters(const CommandLine& args) {
  const std::string first = args.LowerArg(2);
  if (first == "/?" || first.empty()) return std::nullopt;
  return ImportParameters{args.ArgAt(2)};
}

void ShowImportHelp(Console& out) {
  PrintHelpScreen(out, {
                           "Orvik IMPORT FileName",
                           "",
                           "  FileName  The name of the disk file to import (local machine only)",
                           "",
                           "Examples:",
                           "",
                           "  Orvik IMPORT AppBkUp.reg",
                           "    Imports registry entries from the file AppBkUp.reg",
                       });
}

int ParseImport(const CommandLine& args, Console& out) {
  const std::optional<ImportParameters> p = ReadImportParameters(args);
  if (!p) {
    ShowImportHelp(out);
    return 1;
  }
  return ImportFile(p->file_name);
}

}  // namespace orvik
