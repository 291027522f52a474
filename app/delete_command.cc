// DELETE's argument grammar and help screen; removing is the engine's.
#include "app/delete_command.h"

#include "app/help_screen.h"
#include "manip/delete_engine.h"
#include "manip/value_types.h"
#include "registry/exception.h"

namespace orvik {

std::optional<DeleteParameters> ReadDeleteParameters(const CommandLine& args) {
  DeleteParameters p;
  p.key_name = args.LowerArg(2);
  if (p.key_name.empty() || p.key_name == "/?") return std::nullopt;
  if (args.FindOption("/v") > 0) {
    args.OptionValue("/v", p.selector);
    // An empty selector means the whole key: never take that from a /v whose
    // name is missing.
    if (p.selector.empty()) throw Exception("Error: Invalid command-line parameters");
  }
  if (args.FindOption("/ve") > 0) p.selector = kUnnamedValueName;
  if (args.FindOption("/va") > 0) p.selector = kDeleteAllMarker;
  p.force_flag = args.OptionFlag("/f");
  return p;
}

void ShowDeleteHelp(Console& out) {
  PrintHelpScreen(
      out, {
               "Orvik DELETE FullKeyName [/v ValueName | /ve | /va] [/f]",
               "",
               "  FullKeyName ROOTKEY\\SubKey",
               "    ROOTKEY   [ HKLM | HKCU | HKCR | HKU | HKCC ]",
               "    SubKey    The full name of a registry key under the selected ROOTKEY",
               "  ValueName   The value name, under the selected Key, to delete",
               "              When omitted, all subkeys and values under the Key are deleted",
               "  /ve         delete the value of empty value name <no name>",
               "  /va         delete all values under this key",
               "  /f         Accepted for command-line compatibility. This is not supported!",
               "",
               "Examples:",
               "",
               "  Orvik DELETE HKLM\\Software\\MyCo\\MyApp\\Timeout",
               "    Deletes the registry key Timeout and its all subkeys and values",
           });
}

int ParseDelete(const CommandLine& args, Console& out) {
  const std::optional<DeleteParameters> p = ReadDeleteParameters(args);
  if (!p) {
    ShowDeleteHelp(out);
    return 1;
  }
  return DeleteEntry(p->key_name, p->selector);
}

}  // namespace orvik
