// QUERY: prints the values of a key, one value of it, or with /s the values
// of every key below it, depth first, as it goes.
#include "manip/query_engine.h"

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

constexpr char kIndent[] = "   ";

}  // namespace

void PrintKeyHeader(Console& out, const TRegistry& registry, const std::string& root_text) {
  out.Line(FullRootName(root_text) + "\\" + registry.ActivePath());
}

void PrintValueLine(Console& out, TRegistry& registry, const std::string& value_name) {
  // Type and data in one read: the same text as reading them one by one.
  DWORD type = REG_NONE;
  const std::string text = ReadValueTypeAndText(registry, value_name, type);
  const std::string type_name = TypeNameOf(type);
  if (value_name.empty()) {
    out.Line(kIndent + std::string("<NO NAME> ") + type_name + " " + text);
  } else if (type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) {
    const auto number = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
    char figures[40];
    std::snprintf(figures, sizeof figures, "%ld (0x%lX)", static_cast<long>(number),
                  static_cast<unsigned long>(static_cast<uint32_t>(number)));
    out.Line(kIndent + value_name + " " + type_name + " " + figures);
  } else {
    out.Line(kIndent + value_name + " " + type_name + " " + text);
  }
}

void ListKeyTree(Console& out, TRegistry& registry, const std::string& root_text,
                 const std::string& recursion_flag) {
  PrintKeyHeader(out, registry, root_text);
  {
    TStringList value_names;
    registry.ListValueNames(value_names);
    for (const std::string& name : value_names) PrintValueLine(out, registry, name);
  }
  if (recursion_flag != "/s" || !registry.HasChildKeys()) return;

  // One list of names per level of the branch being walked.
  TStringList sub_keys;
  registry.ListSubKeys(sub_keys);
  const std::string parent_path = registry.ActivePath();
  registry.LeaveKey();
  for (const std::string& name : sub_keys) {
    const std::string path = ChildPath(parent_path, name);
    const bool entered = registry.EnterKey(path, false);
    out.Line("");
    if (entered) {
      ListKeyTree(out, registry, root_text, recursion_flag);
    } else {
      // A subkey that cannot be opened shows its own name and nothing below.
      out.Line(FullRootName(root_text) + "\\" + path);
    }
    registry.LeaveKey();
  }
}

int QueryKey(Console& out, const std::string& key_name, const std::string& value_name,
             const std::string& recursion_flag) {
  const bool unnamed_value = value_name == "@";
  const std::string name = unnamed_value ? std::string() : value_name;

  // QUERY only reads: keys the user may read but not change are listed too.
  TRegistry registry(KEY_READ);
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));
  // A key removed between the test and entering it is reported the same way;
  // a registry that cannot be read at all is reported with the platform's
  // text, so that it is never taken for a missing key.
  if (!registry.KeyPresent(sub_key) || !registry.EnterKey(sub_key, false)) {
    const LONG why = registry.LastError();
    if (!KeyIsMissing(registry, why)) throw RefusedChange(why);
    throw Exception("Error: Key: " + sub_key + " does not exist!");
  }

  out.Line("");
  out.Banner();
  if (unnamed_value || !name.empty()) {
    PrintKeyHeader(out, registry, root_text);
    PrintValueLine(out, registry, name);
  } else {
    ListKeyTree(out, registry, root_text, recursion_flag);
  }
  return 0;
}

}  // namespace orvik
