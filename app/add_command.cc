// ADD's argument grammar and help screen; creating and writing is the
// engine's. The data and the separator keep the case they were typed in:
// they are the user's content, not names.
#include "app/add_command.h"

#include "app/help_screen.h"
#include "manip/add_engine.h"
#include "manip/value_types.h"

namespace orvik {

std::optional<AddParameters> ReadAddParameters(const CommandLine& args) {
  AddParameters p;
  p.key_name = args.LowerArg(2);
  if (p.key_name.empty() || p.key_name == "/?") return std::nullopt;
  args.OptionValue("/v", p.value_name);
  if (args.FindOption("/ve") > 0) p.value_name = kUnnamedValueName;
  args.OptionValue("/t", p.type_name);
  args.OptionValueAsTyped("/s", p.separator);
  args.OptionValueAsTyped("/d", p.data);
  p.force_flag = args.OptionFlag("/f");
  return p;
}

void ShowAddHelp(Console& out) {
  PrintHelpScreen(
      out, {
               "Orvik ADD FullKeyName [/v ValueName] [/t Type] [/s Separator] [/d Data] [/f]",
               "",
               "  FullKeyName  ROOTKEY\\SubKey",
               "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
               "    SubKey   The full name of a registry key under the selected ROOTKEY",
               "  ValueName  The value name to add under the selected Key",
               "  Type       [ REG_SZ    | REG_MULTI_SZ  | REG_DWORD_BIG_ENDIAN    |",
               "               REG_DWORD | REG_BINARY    | REG_DWORD_LITTLE_ENDIAN |",
               "               REG_NONE  | REG_EXPAND_SZ ]",
               "             If omitted, REG_SZ is assumed",
               "  Separator  Specify one character that you use as the separator in your data",
               "             string for REG_MULTI_SZ. If omitted, use \"\\0\" as the separator",
               "  Data       The data to assign to the registry ValueName being added",
               "  /f         Accepted for command-line compatibility. This is not supported!",
               "",
               "Examples:",
               "",
               "  Orvik ADD HKLM\\Software\\MyCo",
               "    Adds a key HKLM\\Software\\MyCo",
               "",
               "  Orvik ADD HKLM\\Software\\MyCo /v Data /t REG_BINARY /d fe340ead",
               "    Adds a value (name: Data, type: REG_BINARY, data: fe340ead)",
               "",
               "  Orvik ADD HKLM\\Software\\MyCo /v MRU /t REG_MULTI_SZ /d fax\\0mail",
               "    Adds a value (name: MRU, type: REG_MUTLI_SZ, data: fax\\0mail\\0\\0)",
               "",
               "  Orvik ADD HKLM\\Software\\MyCo /v Path /t REG_EXPAND_SZ /d %\"systemroot\"%",
               "    Adds a value (name: Path, type: REG_EXPAND_SZ, data: %systemroot%)",
               "    Notice:  Put the double quote ( \" ) inside the expand string",
           });
}

int ParseAdd(const CommandLine& args, Console& out) {
  const std::optional<AddParameters> p = ReadAddParameters(args);
  if (!p) {
    ShowAddHelp(out);
    return 1;
  }
  return AddValue(p->key_name, p->value_name, p->type_name, p->data, p->separator);
}

}  // namespace orvik
