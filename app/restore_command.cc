// RESTORE's argument grammar and help screen. Both the key name and the file
// name keep the case they were typed in. A missing file name is not a reason
// for the help screen; the engine reports the file as missing.
#include "app/restore_command.h"

#include "app/help_screen.h"
#include "manip/restore_engine.h"

namespace orvik {

std::optional<RestoreParameters> ReadRestoreParameters(const CommandLine& args) {
  const std::string first = args.LowerArg(2);
  if (first.empty() || first == "/?") return std::nullopt;
  return RestoreParameters{args.ArgAt(2), args.ArgAt(3)};
}

void ShowRestoreHelp(Console& out) {
  PrintHelpScreen(out,
                  {
                      "Orvik RESTORE FullKey FileName",
                      "  FullKey  ROOTKEY\\SubKey",
                      "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
                      "    SubKey   The full name of a registry key to restore the hive file into.",
                      "             Overwriting the existing key's values and subkeys",
                      "  FileName   The name of the hive file to restore",
                      "             You must use Orvik SAVE to create this file",
                      "",
                      "Examples:",
                      "",
                      "  Orvik RESTORE HKLM\\Software\\MyCo\\MyApp AppBkUp.hiv",
                      "    Restores the file AppBkUp.hiv overwriting the key MyApp",
                      "",
                  });
}

int ParseRestore(const CommandLine& args, Console& out) {
  const std::optional<RestoreParameters> p = ReadRestoreParameters(args);
  if (!p) {
    ShowRestoreHelp(out);
    return 1;
  }
  return RestoreKeyFromFile(p->key_name, p->file_name);
}

}  // namespace orvik
