// FileExists on POSIX: anything but a directory that stat finds.
#include "platform/file_exists.h"

#include <sys/stat.h>

namespace orvik {

bool FileExists(const std::string& name) {
  struct stat info {};
  return !name.empty() && stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace orvik
