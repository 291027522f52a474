// Telling a key that is not there from a registry that cannot be read.
#include "manip/missing_key.h"

namespace orvik {

bool KeyIsMissing(TRegistry& registry, LONG code) {
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_BAD_PATHNAME ||
      code == ERROR_INVALID_PARAMETER || code == ERROR_KEY_DELETED) {
    return true;
  }
  return code == ERROR_ACCESS_DENIED && registry.KeyPresent("\\");
}

}  // namespace orvik
