// ADD: opens or creates the key, with any missing keys on its path, and
// writes one value from the text given on the command line.
#include "manip/add_engine.h"

#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "manip/value_types.h"
#include "manip/value_write.h"
#include "registry/registry.h"

namespace orvik {

int AddValue(const std::string& key_name, const std::string& value_name,
             const std::string& type_name, const std::string& data, const std::string& separator) {
  TRegistry registry;
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);
  registry.SelectRoot(RootKeyFromName(root_text));

  if (!registry.EnterKey(sub_key, true)) throw RefusedChange(registry.LastError());
  // Without a value name only the key is made sure of; the type and the data
  // are not looked at.
  if (value_name.empty()) return 0;

  // A text that does not convert raises here, before anything is written;
  // the key stays.
  const LONG status =
      WriteValueFromText(registry, value_name, data, TypeCodeOf(type_name), separator);
  if (status != ERROR_SUCCESS) throw RefusedChange(status);
  return 0;
}

}  // namespace orvik
