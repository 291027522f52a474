// FileExists over the file attributes the platform reports (on POSIX, those
// of stat): anything that is there and is not a directory.
#include "platform/file_exists.h"

#include "platform/platform.h"

namespace orvik {

bool FileExists(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace orvik
