// COMPARE's argument grammar and help screen.
#include "app/compare_command.h"

#include "app/help_screen.h"
#include "manip/compare_engine.h"
#include "manip/value_types.h"

namespace orvik {

std::optional<CompareParameters> ReadCompareParameters(const CommandLine& args) {
  CompareParameters p;
  p.first_key_name = args.LowerArg(2);
  if (p.first_key_name.empty() || p.first_key_name == "/?") return std::nullopt;
  p.second_key_name = args.LowerArg(3);
  if (p.second_key_name.empty()) return std::nullopt;
  args.OptionValue("/v", p.value_name);
  if (args.FindOption("/ve") > 0) p.value_name = kUnnamedValueName;
  // When several are given, the later in this list wins.
  for (const char* mode : {"/oa", "/od", "/os", "/on"}) {
    if (args.FindOption(mode) > 0) p.output_mode = args.OptionFlag(mode);
  }
  p.recursion_flag = args.OptionFlag("/s");
  return p;
}

void ShowCompareHelp(Console& out) {
  PrintHelpScreen(out,
                  {
                      "Orvik COMPARE KeyName1 KeyName2 [/v ValueName | /ve] [Output] [/s]",
                      "",
                      "  KeyName    FullKey",
                      "    FullKey  ROOTKEY\\SubKey",
                      "             If FullKey2 is not specified, FullKey2 is the same as FullKey1",
                      "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
                      "    SubKey   The full name of a registry key under the selected ROOTKEY",
                      "  ValueName  The value name, under the selected Key, to compare",
                      "             When omitted, all values under the Key are compared",
                      "  /ve        compare the value of empty value name <no name>",
                      "  /s         Compare all subkeys and values",
                      "  Output     [/oa | /od | /os | /on]",
                      "             When omitted, output only differences",
                      "    /oa      Output all of differences and matches",
                      "    /od      Output only differences",
                      "    /os      Output only matches",
                      "    /on      No output",
                      "",
                      "Return Code:",
                      "",
                      "  0 - Succussful, the result compared is identical",
                      "  1 - Failed",
                      "  2 - Successful, the result compared is different",
                      "",
                      "Examples:",
                      "",
                      "  Orvik COMPARE HKLM\\Software\\MyCo\\MyApp HKLM\\Software\\MyCo\\SaveMyApp",
                      "    Compares all values under the key MyApp with SaveMyApp",
                      "",
                      "  Orvik COMPARE HKLM\\Software\\MyCo HKLM\\Software\\MyCo1 /v Version",
                      "    Compares the value Version under the key MyCo and MyCo1",
                      "",
                  });
}

int ParseCompare(const CommandLine& args, Console& out) {
  const std::optional<CompareParameters> p = ReadCompareParameters(args);
  if (!p) {
    ShowCompareHelp(out);
    return 1;
  }
  return CompareKeys(out, p->first_key_name, p->second_key_name, p->value_name, p->output_mode,
                     p->recursion_flag);
}

}  // namespace orvik
