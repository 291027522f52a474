// EXPORT's argument grammar and help screen.
#include "app/export_command.h"

#include "app/help_screen.h"
#include "manip/export_engine.h"

namespace orvik {

std::optional<ExportParameters> ReadExportParameters(const CommandLine& args) {
  ExportParameters p;
  p.key_name = args.LowerArg(2);
  if (p.key_name == "/?" || p.key_name.empty()) return std::nullopt;
  p.file_name = args.ArgAt(3);
  if (p.file_name.empty()) return std::nullopt;
  return p;
}

void ShowExportHelp(Console& out) {
  PrintHelpScreen(out,
                  {
                      "Orvik EXPORT KeyName FileName [/nt4]",
                      "",
                      "  Keyname    ROOTKEY\\SubKey (local machine only)",
                      "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
                      "    SubKey   The full name of a registry key under the selected ROOTKEY",
                      "  FileName   The name of the disk file to export",
                      "  /nt4       Output reg file as old NT4 format",
                      "",
                      "Examples:",
                      "",
                      "  Orvik EXPORT HKLM\\Software\\MyCo\\MyApp AppBkUp.reg /nt4",
                      "    Exports all subkeys and values of the key MyApp to the file AppBkUp.reg",
                      "    in the nt4 reg format",
                      "",
                      "  Orvik EXPORT HKLM\\Software\\MyCo MyCoBkUp.reg",
                      "    Exports the hive MyCo to the file MyCoBkUp.reg",
                  });
}

int ParseExport(const CommandLine& args, Console& out) {
  const std::optional<ExportParameters> p = ReadExportParameters(args);
  if (!p) {
    ShowExportHelp(out);
    return 1;
  }
  return ExportToFile(p->key_name, p->file_name);
}

}  // namespace orvik
