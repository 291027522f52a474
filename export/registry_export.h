// TRegistryExport: writes a registry key with its values and every key below
// it as a registry-editor file. It reads through a read-only TRegistry of its
// own and collects the file's lines in Lines, in file order.
//
// By default the whole file is built in memory and WriteToFile writes it.
// After StreamToFile the lines go to a new file beside the target as they are
// made, and WriteToFile puts that file in place; either way the target only
// changes, in one step, when everything was written.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_replacement.h"
#include "registry/registry.h"
#include "registry/string_list.h"

namespace orvik {

class TRegistryExport {
 public:
  TRegistryExport();
  TRegistryExport(const TRegistryExport&) = delete;
  TRegistryExport& operator=(const TRegistryExport&) = delete;

  const std::string& RootName() const { return root_name_; }
  // The lines not yet written, each without its line end.
  const TStringList& Lines() const { return lines_; }
  uint8_t RootIndex() const { return root_index_; }
  TRegistry& Registry() { return registry_; }

  // Appends "Windows Registry Editor Version 5.00" or "REGEDIT4".
  void WriteHeader(bool version5);
  // Selects a row of RootKeyTable (0 to 6) as the root of the paths.
  void SetRootIndex(uint8_t index);
  // Appends the section of the key at path (relative to the entered key, or
  // to the root when none is) and of every key below it, depth first. A key
  // that cannot be entered is left out with everything below it. Raises what
  // reading a value raises; the key entered before is entered again.
  void ExportKey(const std::string& path);
  // Appends the entry of one value of the entered key.
  void ExportValue(const std::string& value_name);

  // Creates the new file beside file_name that the lines made from now on go
  // to. Raises "Cannot create file %s".
  void StreamToFile(const std::string& file_name);
  // Writes the lines, each followed by CR LF, and puts the file in place of
  // file_name. Raises "Cannot create file %s" or "Stream write error"; the
  // file of that name is then left as it was.
  void WriteToFile(const std::string& file_name);

 private:
  void AddLine(std::string line);
  void AddWrapped(const std::string& entry);
  // Writes the collected lines to the streamed file when enough are waiting.
  void FlushIfFull();
  void FlushLines();
  std::string ValueHex(const std::string& value_name);
  void EnumSubKeyNames(TStringList& list);
  void EnumValueNames(TStringList& list);

  std::string root_name_;
  TStringList lines_;
  uint8_t root_index_ = 0;
  TRegistry registry_;
  FileReplacement file_;
  std::string streamed_name_;  // the target while streaming
  size_t pending_bytes_ = 0;   // of lines_, with their line ends
};

}  // namespace orvik
