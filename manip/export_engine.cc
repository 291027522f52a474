// EXPORT: drives the export writer over the key tree, always in the REGEDIT4
// format, streaming the lines to a new file that replaces the target at the
// end. The tree is read from one snapshot of the registry, so the file shows
// it as it was at one moment, whatever other processes change meanwhile.
#include "manip/export_engine.h"

#include "export/reg_lines.h"
#include "export/registry_export.h"
#include "manip/root_keys.h"
#include "manip/system_error_text.h"
#include "platform/read_snapshot.h"

namespace orvik {

namespace {

// Ends the snapshot on every path.
struct SnapshotScope {
  SnapshotScope() {
    if (const LONG status = BeginReadSnapshot(); status != ERROR_SUCCESS) {
      throw RefusedChange(status);
    }
  }
  ~SnapshotScope() { EndReadSnapshot(); }
  SnapshotScope(const SnapshotScope&) = delete;
  SnapshotScope& operator=(const SnapshotScope&) = delete;
};

}  // namespace

int ExportToFile(const std::string& key_name, const std::string& file_name) {
  std::string sub_key = key_name;
  std::string root_text;
  SplitKeyName(sub_key, root_text);

  TRegistryExport writer;
  writer.WriteHeader(false);
  writer.SetRootIndex(RootIndexOf(RootKeyFromName(root_text)));
  writer.StreamToFile(file_name);
  {
    const SnapshotScope snapshot;
    writer.ExportKey(sub_key);
  }
  writer.WriteToFile(file_name);
  return 0;
}

}  // namespace orvik
