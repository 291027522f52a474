// ADD: "Orvik ADD FullKeyName [/v ValueName] [/t Type] [/s Separator]
// [/d Data] [/f]".
#pragma once

#include <optional>
#include <string>

#include "app/command_line.h"
#include "manip/console.h"

namespace orvik {

struct AddParameters {
  std::string key_name;              // lower-cased
  std::string value_name;            // lower-cased; "@" for /ve; empty: key only
  std::string type_name = "REG_SZ";  // lower-cased when given
  std::string separator = "\\0";     // as typed
  std::string data;                  // as typed
  std::string force_flag;            // "/f" or empty; has no effect

  bool operator==(const AddParameters&) const = default;
};

// The parameters, or nothing when the help screen is due.
std::optional<AddParameters> ReadAddParameters(const CommandLine& args);
void ShowAddHelp(Console& out);
// Prints the help screen and returns 1, or returns what the engine returns.
int ParseAdd(const CommandLine& args, Console& out);

}  // namespace orvik
