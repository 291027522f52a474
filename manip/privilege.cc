// EnablePrivilege over the platform's token calls.
#include "manip/privilege.h"

#include "platform/platform.h"

namespace orvik {

int EnablePrivilege(const std::string& privilege_name, bool enable) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return ERROR_FUNCTION_FAILED;
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  int result = 0;
  if (!LookupPrivilegeValueA(nullptr, privilege_name.c_str(), &privileges.Privileges[0].Luid)) {
    result = ERROR_FUNCTION_FAILED;
  } else {
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) {
      result = ERROR_FUNCTION_FAILED;
    }
  }
  CloseHandle(token);
  return result;
}

}  // namespace orvik
