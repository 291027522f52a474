// The backup and restore privileges of the process's access token, enabled
// by the hive operations for their length.
#pragma once

#include <string>

namespace orvik {

// Enables or disables one privilege of the process. 0 on success, 1627
// (ERROR_FUNCTION_FAILED) when the token could not be opened, the privilege
// not be looked up or the adjustment was refused. A privilege the user does
// not hold is no failure here: the call that needs it fails later.
int EnablePrivilege(const std::string& privilege_name, bool enable);

// Enables a privilege for the life of the object and disables it again on
// every path out, exceptions included.
class PrivilegeScope {
 public:
  explicit PrivilegeScope(const char* privilege_name) : name_(privilege_name) {
    EnablePrivilege(name_, true);
  }
  ~PrivilegeScope() { EnablePrivilege(name_, false); }
  PrivilegeScope(const PrivilegeScope&) = delete;
  PrivilegeScope& operator=(const PrivilegeScope&) = delete;

 private:
  std::string name_;
};

}  // namespace orvik
