// EXPORT: drives the export writer over the key tree, always in the REGEDIT4
// format, streaming the lines to a new file that replaces the target at the
// end.
#include "manip/export_engine.h"

#include "export/reg_lines.h"
#include "export/registry_export.h"
#include "manip/root_keys.h"

namespace orvik {

int ExportToFile(const std::string& key_name, const std::string& file_name) {
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);

  TRegistryExport writer;
  writer.WriteHeader(false);
  writer.SetRootIndex(RootIndexOf(RootKeyFromName(root_text)));
  writer.StreamToFile(file_name);
  writer.ExportKey(sub_key);
  writer.WriteToFile(file_name);
  return 0;
}

}  // namespace orvik
