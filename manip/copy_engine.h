// COPY: copies the values of one key into another, and with /s the whole
// tree below it, creating the destination keys as needed.
#pragma once

#include <string>

#include "registry/registry.h"

namespace orvik {

// Key names as typed (lower-cased); recursion_flag is "/s" or empty; the
// force flag has no effect. Returns 0 or raises.
int CopyKey(const std::string& source_key_name, const std::string& destination_key_name,
            const std::string& recursion_flag, const std::string& force_flag);

// The two registry objects of one COPY run: the source only read, the
// destination written.
struct CopyRun {
  TRegistry source{KEY_READ};
  TRegistry destination;
  std::string recursion_flag;
};

// Copies one level: the source key's values, then with "/s" each subkey in
// turn, depth first. Paths are SubKey paths under each object's root.
void CopyKeyTree(CopyRun& run, const std::string& source_path, const std::string& destination_path);

// Whether `path` names the key `tree` or a key below it, names compared with
// case ignored. Both are SubKey paths under the same root.
bool PathWithinTree(const std::string& path, const std::string& tree);

}  // namespace orvik
