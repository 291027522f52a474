// LOAD's argument grammar and help screen. The file name keeps the case it
// was typed in: file systems may tell names apart by case.
#include "app/load_command.h"

#include "app/help_screen.h"
#include "manip/load_engine.h"

namespace orvik {

std::optional<LoadParameters> ReadLoadParameters(const CommandLine& args) {
  LoadParameters p;
  p.key_name = args.LowerArg(2);
  if (p.key_name == "/?" || p.key_name.empty()) return std::nullopt;
  p.file_name = args.ArgAt(3);
  if (p.file_name.empty()) return std::nullopt;
  return p;
}

void ShowLoadHelp(Console& out) {
  PrintHelpScreen(out,
                  {
                      "Orvik LOAD FullKeyName FileName",
                      "",
                      "  FullKeyName  ROOTKEY\\SubKey",
                      "    ROOTKEY  [ HKLM | HKU ]",
                      "    SubKey   The key name to load the hive file into. Creating a new key",
                      "  FileName   The name of the hive file to load",
                      "             You must use Orvik SAVE to create this file",
                      "",
                      "Examples:",
                      "",
                      "  Orvik LOAD HKLM\\TempHive TempHive.hiv",
                      "    Loads the file TempHive.hiv to the Key HKLM\\TempHive",
                  });
}

int ParseLoad(const CommandLine& args, Console& out) {
  const std::optional<LoadParameters> p = ReadLoadParameters(args);
  if (!p) {
    ShowLoadHelp(out);
    return 1;
  }
  return LoadHiveFile(p->key_name, p->file_name);
}

}  // namespace orvik
