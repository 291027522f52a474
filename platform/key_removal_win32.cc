// Keys Windows never removes: the hives right under HKEY_LOCAL_MACHINE and
// HKEY_USERS. Windows creates no other key there, so a path of one name
// below either root names a hive.
#include "platform/key_removal.h"

#include <string_view>

#include "platform/ansi_text.h"

namespace orvik {

LONG KeyRemovable(HKEY base, const char* sub_key) {
  if (base != HKEY_LOCAL_MACHINE && base != HKEY_USERS) return ERROR_SUCCESS;
  const std::string_view path = WithoutTrailingBackslashes(sub_key != nullptr ? sub_key : "");
  if (path.empty()) return ERROR_SUCCESS;  // the root itself, which no call removes
  return FindBackslash(path) == std::string_view::npos ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

}  // namespace orvik
