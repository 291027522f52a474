// SAVE's argument grammar and help screen. The file name keeps the case it
// was typed in: file systems may tell names apart by case.
#include "app/save_command.h"

#include "app/help_screen.h"
#include "manip/save_engine.h"

namespace orvik {

std::optional<SaveParameters> ReadSaveParameters(const CommandLine& args) {
  SaveParameters p;
  p.key_name = args.LowerArg(2);
  p.file_name = args.ArgAt(3);
  if (p.key_name.empty() || p.key_name == "/?" || p.file_name.empty()) return std::nullopt;
  return p;
}

void ShowSaveHelp(Console& out) {
  PrintHelpScreen(
      out, {
               "Orvik SAVE FullKey FileName",
               "  FullKey  ROOTKEY\\SubKey",
               "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
               "    SubKey   The full name of a registry key under the selected ROOTKEY",
               "  FileName   The name of the disk file to save. If no path is specified,",
               "             the file is created in the current folder of the calling process.",
               "",
               "Examples:",
               "",
               "  Orvik SAVE HKLM\\Software\\MyCo\\MyApp AppBkUp.hiv",
               "    Saves the hive MyApp to the file AppBkUp.hiv in current folder",
               "",
           });
}

int ParseSave(const CommandLine& args, Console& out) {
  const std::optional<SaveParameters> p = ReadSaveParameters(args);
  if (!p) {
    ShowSaveHelp(out);
    return 1;
  }
  return SaveKeyToFile(p->key_name, p->file_name);
}

}  // namespace orvik
