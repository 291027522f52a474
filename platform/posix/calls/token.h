// The privileges of the process's access token, for the calls that demand
// them (the hive calls).
#pragma once

#include "platform/posix/windows_api.h"

namespace orvik::posix {

// The LUIDs Windows gives these privileges.
constexpr DWORD kBackupPrivilege = 17;
constexpr DWORD kRestorePrivilege = 18;

// Whether the process holds the privilege and has enabled it.
bool PrivilegeEnabled(DWORD luid);

// Disables every privilege again (for tests).
void ResetPrivileges();

}  // namespace orvik::posix
