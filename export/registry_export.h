// TRegistryExport: writes a registry key with its values and every key below
// it as a registry-editor file. It reads through a read-only TRegistry of its
// own and collects the file's lines in memory, in file order.
//
// By default the whole file is built in memory and WriteToFile writes it.
// After StreamToFile the lines go to a new file beside the target as they are
// made, and WriteToFile puts that file in place; either way the target only
// changes, in one step, when everything was written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_replacement.h"
#include "platform/platform.h"
#include "registry/registry.h"

namespace orvik {

class TRegistryExport {
 public:
  TRegistryExport();
  TRegistryExport(const TRegistryExport&) = delete;
  TRegistryExport& operator=(const TRegistryExport&) = delete;

  const std::string& RootName() const { return root_name_; }
  // The lines not yet written to the file, each followed by CR LF.
  const std::string& Lines() const { return lines_; }
  uint8_t RootIndex() const { return root_index_; }
  TRegistry& Registry() { return registry_; }

  // Appends "Windows Registry Editor Version 5.00" or "REGEDIT4".
  void WriteHeader(bool version5);
  // Selects a row of RootKeyTable (0 to 6) as the root of the paths.
  void SetRootIndex(uint8_t index);
  // Appends the section of the key at path (relative to the entered key, or
  // to the root when none is) and of every key below it, depth first, each
  // key's values before its subkeys. A key that cannot be opened is left out
  // with everything below it. Raises "Failed to get data for '%s'" for a
  // value that cannot be written, and "Cannot export key %s: ..." or "Cannot
  // export value '%s' of key %s: ..." for a name the file cannot carry
  // (KeyPathFits, ValueNameFits); the key entered before is entered again.
  void ExportKey(const std::string& path);
  // Appends the entry of one value of the entered key.
  void ExportValue(const std::string& value_name);

  // Creates the new file beside file_name that the lines made from now on go
  // to. Raises "Cannot create file %s".
  void StreamToFile(const std::string& file_name);
  // Writes the lines and puts the file in place of file_name. Raises "Cannot
  // create file %s" or "Stream write error"; the file of that name is then
  // left as it was.
  void WriteToFile(const std::string& file_name);

 private:
  // The walk below an open key whose path (relative to the root) is path.
  void ExportTree(HKEY key, const std::string& path);
  void ExportValues(HKEY key, const std::string& path);
  // The entry of a value of the key at key_path from its name, type code and
  // data bytes.
  void AddValueEntry(const std::string& key_path, std::string_view name, DWORD type,
                     std::string_view data);
  void AddLine(std::string_view line);
  // Writes the collected lines to the streamed file when enough are waiting.
  void FlushIfFull();
  void FlushLines();

  std::string root_name_;
  std::string lines_;
  uint8_t root_index_ = 0;
  TRegistry registry_;
  FileReplacement file_;
  std::string streamed_name_;      // the target while streaming
  std::vector<char> name_buffer_;  // reused by every enumeration
  std::vector<BYTE> data_buffer_;  // grows to the largest value read
};

}  // namespace orvik
