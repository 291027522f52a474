// UNLOAD's argument grammar and help screen.
#include "app/unload_command.h"

#include "app/help_screen.h"
#include "manip/unload_engine.h"

namespace orvik {

std::optional<UnloadParameters> ReadUnloadParameters(const CommandLine& args) {
  UnloadParameters p;
  p.key_name = args.LowerArg(2);
  if (p.key_name == "/?" || p.key_name.empty()) return std::nullopt;
  return p;
}

void ShowUnloadHelp(Console& out) {
  PrintHelpScreen(out, {
                           "Orvik UNLOAD FullKeyName",
                           "",
                           "  FullKeyName  ROOTKEY\\SubKey",
                           "    ROOTKEY  [ HKLM | HKU ]",
                           "    SubKey   The key name of the hive to unload",
                           "",
                           "Examples:",
                           "",
                           "  Orvik UNLOAD HKLM\\TempHive",
                           "    Unloads the hive TempHive in HKLM",
                       });
}

int ParseUnload(const CommandLine& args, Console& out) {
  const std::optional<UnloadParameters> p = ReadUnloadParameters(args);
  if (!p) {
    ShowUnloadHelp(out);
    return 1;
  }
  return UnloadHiveKey(p->key_name);
}

}  // namespace orvik
