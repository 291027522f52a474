// The import of one registry-editor file: the whole file is read and checked
// first, then applied as one transaction of the store, so that the registry
// receives all of it or, after any problem, none of it.
#pragma once

#include <string>

namespace orvik::regedit {

struct ImportProblem {
  int line = 0;  // 0 when the problem is the file's, not a line's
  std::string message;
};

// True when the file was imported; otherwise nothing of it was.
bool ImportRegFile(const std::string& path, ImportProblem* problem);

}  // namespace orvik::regedit
