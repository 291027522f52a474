// The registry directory from the environment, and its creation.
#include "platform/posix/store_location.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace orvik::posix {

namespace {

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string RegistryDirectory() {
  std::string directory = NonEmptyEnv("ORVIK_REGISTRY");
  if (!directory.empty()) return directory;
  std::string data_home = NonEmptyEnv("XDG_DATA_HOME");
  if (data_home.empty()) data_home = NonEmptyEnv("HOME") + "/.local/share";
  return data_home + "/orvik/registry";
}

LONG EnsureDirectory(const std::string& directory) {
  struct stat info {};
  if (stat(directory.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
  }
  // Create each missing component in turn.
  for (size_t pos = directory.find('/', 1);; pos = directory.find('/', pos + 1)) {
    const std::string part = directory.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED
                                                                   : ERROR_REGISTRY_IO_FAILED;
    }
    if (pos == std::string::npos) break;
  }
  return ERROR_SUCCESS;
}

std::string DatabasePath(const std::string& directory) { return directory + "/registry.db"; }

std::string ChangeCounterPath(const std::string& directory) {
  return directory + "/registry.changes";
}

}  // namespace orvik::posix
