// QUERY's argument grammar and help screen; the listing is the engine's.
#include "app/query_command.h"

#include "app/help_screen.h"
#include "manip/query_engine.h"
#include "manip/value_types.h"

namespace orvik {

std::optional<QueryParameters> ReadQueryParameters(const CommandLine& args) {
  QueryParameters p;
  p.key_name = args.LowerArg(2);
  if (p.key_name.empty() || p.key_name == "/?") return std::nullopt;
  args.OptionValue("/v", p.value_name);
  if (args.FindOption("/ve") > 0) p.value_name = kUnnamedValueName;
  p.recursion_flag = args.OptionFlag("/s");
  return p;
}

void ShowQueryHelp(Console& out) {
  PrintHelpScreen(out,
                  {
                      "Orvik QUERY FullKeyName [ /v ValueName | /ve | /s ]",
                      "",
                      "  FullKeyName  ROOTKEY\\SubKey",
                      "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ]",
                      "    SubKey   The full name of a registry key under the selected ROOTKEY",
                      "  ValueName  The value name, under the selected Key, to query",
                      "             When omitted, all values under the Key are queried",
                      "  /ve        query the empty value name <no name>",
                      "  /s         queries all subkeys and values",
                      "",
                      "Examples:",
                      "",
                      "  Orvik QUERY HKLM\\Software\\MyCo\\MyApp /v Version",
                      "    Displays the value of the registry value Version",
                      "",
                      "  Orvik QUERY HKLM\\Software\\MyCo\\MyApp\\Setup /s",
                      "    Displays all subkeys and values under the registry key Setup",
                  });
}

int ParseQuery(const CommandLine& args, Console& out) {
  const std::optional<QueryParameters> p = ReadQueryParameters(args);
  if (!p) {
    ShowQueryHelp(out);
    return 1;
  }
  return QueryKey(out, p->key_name, p->value_name, p->recursion_flag);
}

}  // namespace orvik
