// QUERY: "Orvik QUERY FullKeyName [ /v ValueName | /ve | /s ]".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct QueryParameters {
  std::string key_name;        // lower-cased
  std::string value_name;      // lower-cased; "@" for /ve; empty: the whole key
  std::string recursion_flag;  // "/s" or empty

  bool operator==(const QueryParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<QueryParameters> ReadQueryParameters(const CommandLine& args);
void ShowQueryHelp(Console& out);
// Prints the help screen and returns 1, or returns what the engine returns.
int ParseQuery(const CommandLine& args, Console& out);

}  // namespace orvik
