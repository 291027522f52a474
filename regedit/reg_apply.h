// Applies the entries of a registry-editor file to the registry through the
// platform's registry calls: creates and removes keys, writes and removes
// values. Only changes that fail are reported; a key or value to remove that
// is not there is no failure.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "regedit/reg_file_parser.h"

namespace orvik::regedit {

class RegApplier {
 public:
  RegApplier() = default;
  ~RegApplier();
  RegApplier(const RegApplier&) = delete;
  RegApplier& operator=(const RegApplier&) = delete;

  // ERROR_SUCCESS, or the error of the refused change (failure() says what
  // was refused).
  LONG Apply(const RegEntry& entry);
  const std::string& failure() const { return failure_; }

 private:
  // A key of the open section's path, opened below the one before it.
  struct OpenLevel {
    std::string name;
    HKEY key = nullptr;
  };

  LONG OpenSection(const RegEntry& entry);
  LONG SetValue(const RegEntry& entry);
  LONG RemoveValue(const RegEntry& entry);
  // Closes the open path's keys from the deepest up to, not including, level `keep`.
  void CloseLevels(size_t keep);
  LONG Refused(LONG rc, const std::string& what);

  // The open section's root and path, so that the next section opens only
  // what it does not share with this one (files list keys depth first).
  HKEY root_ = nullptr;
  std::vector<OpenLevel> levels_;
  HKEY current_ = nullptr;  // the key of the open section
  std::string failure_;
};

// Removes the key `path` below `base` with every key and value below it.
// ERROR_SUCCESS also when there is no such key.
LONG RemoveKeyTree(HKEY base, const std::string& path);

}  // namespace orvik::regedit
