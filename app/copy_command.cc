// COPY's argument grammar and help screen.
#include "app/copy_command.h"

#include "app/help_screen.h"
#include "manip/copy_engine.h"

namespace orvik {

std::optional<CopyParameters> ReadCopyParameters(const CommandLine& args) {
  CopyParameters p;
  p.source_key_name = args.LowerArg(2);
  if (p.source_key_name.empty() || p.source_key_name == "/?") return std::nullopt;
  p.destination_key_name = args.LowerArg(3);
  if (p.destination_key_name.empty()) return std::nullopt;
  p.recursion_flag = args.OptionFlag("/s");
  p.force_flag = args.OptionFlag("/f");
  return p;
}

void ShowCopyHelp(Console& out) {
  PrintHelpScreen(
      out, {
               "Orvik COPY KeyName1 KeyName2 [/s] [/f]",
               "",
               "  KeyName    FullKey",
               "    FullKey  ROOTKEY\\SubKey",
               "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
               "    SubKey   The full name of a registry key under the selected ROOTKEY",
               "  /s         Copies all subkeys and values",
               "  /f         Accepted for command-line compatibility. This is not supported!",
               "",
               "Examples:",
               "",
               "  Orvik COPY HKLM\\Software\\MyCo\\MyApp HKLM\\Software\\MyCo\\SaveMyApp /s",
               "    Copies all subkeys and values under the key MyApp to the key SaveMyApp",
           });
}

int ParseCopy(const CommandLine& args, Console& out) {
  const std::optional<CopyParameters> p = ReadCopyParameters(args);
  if (!p) {
    ShowCopyHelp(out);
    return 1;
  }
  return CopyKey(p->source_key_name, p->destination_key_name, p->recursion_flag, p->force_flag);
}

}  // namespace orvik
