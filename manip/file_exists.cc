// The file test over the platform's file attributes.
#include "manip/file_exists.h"

#include "platform/platform.h"

namespace orvik {

bool FileExists(const std::string& file_name) {
  const DWORD attributes = GetFileAttributesA(file_name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace orvik
