// COMPARE: pairs the values of two keys by name with case ignored, compares
// each pair by type code and text, and prints what the output mode asks for.
#include "manip/compare_engine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "manip/child_path.h"
#include "manip/missing_key.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "manip/value_render.h"
#include "manip/value_types.h"
#include "registry/exception.h"

namespace orvik {

namespace {

// The type name without the padding that aligns QUERY's columns.
std::string TrimmedTypeName(DWORD type_code) {
  std::string name = TypeNameOf(type_code);
  const auto kept = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  while (!name.empty() && !kept(name.back())) name.pop_back();
  size_t first = 0;
  while (first < name.size() && !kept(name[first])) ++first;
  return name.substr(first);
}

bool PrintsDifferences(const std::string& mode) { return mode == "/od" || mode == "/oa"; }
bool PrintsMatches(const std::string& mode) { return mode == "/os" || mode == "/oa"; }

void PrintMissingKey(CompareRun& run, const char* marker, const std::string& root_text,
                     const std::string& path) {
  PrintCompareLine(run.out, marker, root_text, path, MissingKeyMarker(), std::string(), 0);
  run.difference_found = true;
}

// Enters the key at `path` on one side. A key that is not there gives false;
// a registry that cannot be read is a failure, never a difference.
bool EnterSide(TRegistry& side, const std::string& path) {
  side.LeaveKey();
  if (side.EnterKey(path, false)) return true;
  const LONG why = side.LastError();
  if (!KeyIsMissing(side, why)) throw RefusedChange(why);
  return false;
}

}  // namespace

void PrintCompareLine(Console& out, std::string_view marker, const std::string& root_text,
                      const std::string& path, std::string_view value_name, const std::string& text,
                      DWORD type_code) {
  std::string line(marker);
  line += " Value:  ";
  line += FullRootName(root_text);
  line += '\\';
  line += path;
  if (value_name == MissingKeyMarker()) {
    out.Line(line);
    return;
  }
  line += ' ';
  line += value_name.empty() ? std::string_view("<NO NAME>") : value_name;
  line += ' ';
  line += TrimmedTypeName(type_code);
  line += ' ';
  if (!value_name.empty() && (type_code == REG_DWORD || type_code == REG_DWORD_BIG_ENDIAN)) {
    const auto number = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
    char figures[40];
    std::snprintf(figures, sizeof figures, "%ld (0x%lX)", static_cast<long>(number),
                  static_cast<unsigned long>(static_cast<uint32_t>(number)));
    line += figures;
  } else {
    line += text;
  }
  out.Line(line);
}

void CompareCommonValues(CompareRun& run, const std::string& first_path,
                         const std::string& second_path, const TStringList& first_names,
                         const NameIndex& second_index, const TStringList& second_names) {
  for (const std::string& name : first_names) {
    const size_t other = second_index.Find(name);
    if (other == NameIndex::npos) continue;
    const std::string& second_name = second_names[other];
    DWORD first_type = REG_NONE;
    const std::string first_text = ReadValueTypeAndText(run.first, name, first_type);
    DWORD second_type = REG_NONE;
    const std::string second_text = ReadValueTypeAndText(run.second, second_name, second_type);
    const bool differs = first_type != second_type || first_text != second_text;
    if (differs) {
      run.difference_found = true;
      if (PrintsDifferences(run.output_mode)) {
        // Both lines carry the name as the first key spells it.
        PrintCompareLine(run.out, "<", run.first_root, first_path, name, first_text, first_type);
        PrintCompareLine(run.out, ">", run.second_root, second_path, name, second_text,
                         second_type);
      }
    } else if (PrintsMatches(run.output_mode)) {
      PrintCompareLine(run.out, "=", run.first_root, first_path, name, first_text, first_type);
    }
  }
}

void ReportOneSidedValues(CompareRun& run, const std::string& marker, TRegistry& side,
                          const std::string& root_text, const std::string& path,
                          const TStringList& names, const NameIndex& other_index) {
  for (const std::string& name : names) {
    if (other_index.Find(name) != NameIndex::npos) continue;
    run.difference_found = true;
    if (run.output_mode == "/os" || run.output_mode == "/on") return;
    DWORD type = REG_NONE;
    const std::string text = ReadValueTypeAndText(side, name, type);
    PrintCompareLine(run.out, marker, root_text, path, name, text, type);
  }
}

void CompareKeyTree(CompareRun& run, const std::string& first_path,
                    const std::string& second_path) {
  // Every level enters its keys from the roots, so it needs nothing of the
  // keys its caller had entered.
  if (!EnterSide(run.first, first_path)) {
    PrintMissingKey(run, ">", run.second_root, second_path);
    return;
  }
  if (!EnterSide(run.second, second_path)) {
    PrintMissingKey(run, "<", run.first_root, first_path);
    return;
  }
  {
    TStringList first_names;
    TStringList second_names;
    run.first.ListValueNames(first_names);
    run.second.ListValueNames(second_names);
    const NameIndex first_index(first_names);
    const NameIndex second_index(second_names);
    CompareCommonValues(run, first_path, second_path, first_names, second_index, second_names);
    ReportOneSidedValues(run, "<", run.first, run.first_root, first_path, first_names,
                         second_index);
    ReportOneSidedValues(run, ">", run.second, run.second_root, second_path, second_names,
                         first_index);
  }
  if (run.recursion_flag != "/s") return;

  // Only the first key's subkeys are visited: one that the second key lacks
  // gives a missing-key line, one that only the second key has is not seen.
  TStringList sub_keys;
  run.first.ListSubKeys(sub_keys);
  for (const std::string& name : sub_keys) {
    CompareKeyTree(run, ChildPath(first_path, name), ChildPath(second_path, name));
  }
}

void CompareOneValue(CompareRun& run, std::string value_name, const std::string& first_path,
                     const std::string& second_path) {
  if (value_name == "@") value_name.clear();
  if (!EnterSide(run.first, first_path)) {
    throw Exception("Error: Key: " + first_path + " does not exist!");
  }
  if (!EnterSide(run.second, second_path)) {
    throw Exception("Error: Key: " + second_path + " does not exist!");
  }
  if (!run.first.ValuePresent(value_name)) {
    throw Exception("Error: Key: " + first_path + " Value: " + value_name + " does not exist!");
  }
  if (!run.second.ValuePresent(value_name)) {
    throw Exception("Error: Key: " + second_path + " Value: " + value_name + " does not exist!");
  }
  DWORD first_type = REG_NONE;
  const std::string first_text = ReadValueTypeAndText(run.first, value_name, first_type);
  DWORD second_type = REG_NONE;
  const std::string second_text = ReadValueTypeAndText(run.second, value_name, second_type);
  if (first_type == second_type && first_text == second_text) return;
  run.difference_found = true;
  PrintCompareLine(run.out, "<", run.first_root, first_path, value_name, first_text, first_type);
  PrintCompareLine(run.out, ">", run.second_root, second_path, value_name, second_text,
                   second_type);
}

int CompareKeys(Console& out, const std::string& first_key_name, const std::string& second_key_name,
                const std::string& value_name, const std::string& output_mode,
                const std::string& recursion_flag) {
  // A value comparison takes neither /s nor an output option.
  if (!value_name.empty() && (recursion_flag == "/s" || !output_mode.empty())) {
    throw Exception("Error: Invalid command-line parameters");
  }
  CompareRun run(out);
  run.output_mode = output_mode;
  run.recursion_flag = recursion_flag;
  std::string first_path = first_key_name;
  ResolveKeyName(run.first, run.first_root, first_path);
  std::string second_path = second_key_name;
  ResolveKeyName(run.second, run.second_root, second_path);

  if (!value_name.empty()) {
    CompareOneValue(run, value_name, first_path, second_path);
  } else {
    CompareKeyTree(run, first_path, second_path);
  }
  out.Line("");
  out.Line(run.difference_found ? "Result compared: Different" : "Result compared: Identical");
  out.Line("");
  return run.difference_found ? 2 : 0;
}

}  // namespace orvik
