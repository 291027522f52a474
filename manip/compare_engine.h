// COMPARE: compares two keys value by value (with /s the trees below them),
// or one value under two keys; the result is the exit code 0 (identical) or
// 2 (different).
#pragma once

#include <string>
#include <string_view>

#include "manip/console.h"
#include "manip/name_match.h"
#include "registry/registry.h"

namespace orvik {

// Stands in place of a value name for the line of a key missing on one side.
inline constexpr std::string_view kMissingKeyMarker =
    "!\"$%&$#!%&$#!$#%!&$#&%!$#%$\"!DF!CXY!DWCER_(!\"$\"!&!%#%!&\"!";
inline std::string_view MissingKeyMarker() { return kMissingKeyMarker; }

// value_name: "@" for the unnamed value, empty to compare whole keys;
// output_mode: "/oa", "/od", "/os", "/on" or empty; recursion_flag: "/s" or
// empty. Prints the lines and the result; returns 0 or 2, or raises.
int CompareKeys(Console& out, const std::string& first_key_name, const std::string& second_key_name,
                const std::string& value_name, const std::string& output_mode,
                const std::string& recursion_flag);

// The state of one comparison, shared by the routines below.
struct CompareRun {
  explicit CompareRun(Console& console) : out(console) {}

  Console& out;
  TRegistry first{KEY_READ};
  TRegistry second{KEY_READ};
  std::string first_root;  // root texts as typed
  std::string second_root;
  std::string output_mode;
  std::string recursion_flag;
  bool difference_found = false;
};

// Compares the keys at the two SubKey paths and, with "/s", the subkeys of
// the first key with the same-named keys under the second.
void CompareKeyTree(CompareRun& run, const std::string& first_path, const std::string& second_path);

// The values whose names are under both keys (the entered keys).
void CompareCommonValues(CompareRun& run, const std::string& first_path,
                         const std::string& second_path, const TStringList& first_names,
                         const NameIndex& second_index, const TStringList& second_names);

// The values of one side whose names the other side lacks; marker "<" for
// the first side, ">" for the second.
void ReportOneSidedValues(CompareRun& run, const std::string& marker, TRegistry& side,
                          const std::string& root_text, const std::string& path,
                          const TStringList& names, const NameIndex& other_index);

// The /v and /ve comparison of one value under the two SubKey paths.
void CompareOneValue(CompareRun& run, std::string value_name, const std::string& first_path,
                     const std::string& second_path);

// One line: "<", ">" or "=", then "Value:", two spaces, the key and the
// value; a value name equal to MissingKeyMarker prints the key alone.
void PrintCompareLine(Console& out, std::string_view marker, const std::string& root_text,
                      const std::string& path, std::string_view value_name, const std::string& text,
                      DWORD type_code);

}  // namespace orvik
