// The process's access token: the backup and restore privileges, which root
// and the owner of the registry directory hold and no one else. They start
// disabled; AdjustTokenPrivileges enables and disables them for the whole
// process, and the hive calls ask PrivilegeEnabled.
#include "platform/posix/calls/token.h"

#include <errno.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/posix/calls/kernel_handles.h"
#include "platform/posix/store/store_location.h"

namespace orvik::posix {

namespace {

// The pseudo handle of the current process, as on Windows.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

struct KnownPrivilege {
  const char* name;
  DWORD luid;
};
constexpr KnownPrivilege kPrivileges[] = {
    {SE_BACKUP_NAME, kBackupPrivilege},
    {SE_RESTORE_NAME, kRestorePrivilege},
};

class AccessToken : public KernelObject {
 public:
  explicit AccessToken(DWORD access) : access_(access) {}
  DWORD access() const { return access_; }

 private:
  DWORD access_;
};

// Enabled privileges of the process, by LUID.
bool g_enabled[kRestorePrivilege + 1] = {};

bool Known(const LUID& luid) {
  return luid.HighPart == 0 &&
         (luid.LowPart == kBackupPrivilege || luid.LowPart == kRestorePrivilege);
}

bool Held() {
  const uid_t user = geteuid();
  if (user == 0) return true;
  RegistryPlace place;
  if (FindRegistryDirectory(&place) != ERROR_SUCCESS) return false;
  struct stat info {};
  if (stat(place.directory.c_str(), &info) == 0) return info.st_uid == user;
  // A registry that is not there yet becomes this user's when it is made.
  return errno == ENOENT;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace

bool PrivilegeEnabled(DWORD luid) {
  return (luid == kBackupPrivilege || luid == kRestorePrivilege) && g_enabled[luid] && Held();
}

void ResetPrivileges() {
  for (bool& enabled : g_enabled) enabled = false;
}

}  // namespace orvik::posix

using orvik::posix::AccessToken;

HANDLE GetCurrentProcess() { return orvik::posix::kCurrentProcess; }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (TokenHandle == nullptr) return orvik::posix::Fail(ERROR_NOACCESS);
  if (ProcessHandle != orvik::posix::kCurrentProcess) {
    return orvik::posix::Fail(ERROR_INVALID_HANDLE);
  }
  *TokenHandle = orvik::posix::AddKernelObject(std::make_unique<AccessToken>(DesiredAccess));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if (lpName == nullptr || lpLuid == nullptr) return orvik::posix::Fail(ERROR_INVALID_PARAMETER);
  // Only the local system is known.
  if (lpSystemName != nullptr && lpSystemName[0] != '\0') {
    return orvik::posix::Fail(ERROR_INVALID_PARAMETER);
  }
  for (const auto& privilege : orvik::posix::kPrivileges) {
    if (strcasecmp(privilege.name, lpName) == 0) {
      lpLuid->LowPart = privilege.luid;
      lpLuid->HighPart = 0;
      SetLastError(ERROR_SUCCESS);
      return TRUE;
    }
  }
  return orvik::posix::Fail(ERROR_NO_SUCH_PRIVILEGE);
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, LPDWORD ReturnLength) {
  auto* token = dynamic_cast<AccessToken*>(orvik::posix::FindKernelObject(TokenHandle));
  if (token == nullptr) return orvik::posix::Fail(ERROR_INVALID_HANDLE);
  if ((token->access() & TOKEN_ADJUST_PRIVILEGES) == 0 ||
      (PreviousState != nullptr && (token->access() & TOKEN_QUERY) == 0)) {
    return orvik::posix::Fail(ERROR_ACCESS_DENIED);
  }
  if (!DisableAllPrivileges && NewState == nullptr) {
    return orvik::posix::Fail(ERROR_INVALID_PARAMETER);
  }
  bool* enabled = orvik::posix::g_enabled;
  const bool held = orvik::posix::Held();
  // The privileges this call names and the state each is to take.
  LUID_AND_ATTRIBUTES wanted[2] = {};
  DWORD count = 0;
  bool all_assigned = true;
  if (DisableAllPrivileges) {
    for (const auto& privilege : orvik::posix::kPrivileges) {
      wanted[count++] = LUID_AND_ATTRIBUTES{{privilege.luid, 0}, 0};
    }
  } else {
    for (DWORD i = 0; i < NewState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& entry = NewState->Privileges[i];
      if (!orvik::posix::Known(entry.Luid) || !held) {
        all_assigned = false;
        continue;
      }
      DWORD at = 0;
      while (at < count && wanted[at].Luid.LowPart != entry.Luid.LowPart) ++at;
      if (at == count) ++count;
      wanted[at] = entry;
    }
  }
  if (PreviousState != nullptr) {
    const DWORD needed = static_cast<DWORD>(sizeof(DWORD) + count * sizeof(LUID_AND_ATTRIBUTES));
    if (ReturnLength != nullptr) *ReturnLength = needed;
    if (BufferLength < needed) return orvik::posix::Fail(ERROR_INSUFFICIENT_BUFFER);
    PreviousState->PrivilegeCount = count;
    for (DWORD i = 0; i < count; ++i) {
      PreviousState->Privileges[i].Luid = wanted[i].Luid;
      PreviousState->Privileges[i].Attributes =
          enabled[wanted[i].Luid.LowPart] ? SE_PRIVILEGE_ENABLED : 0;
    }
  }
  for (DWORD i = 0; i < count; ++i) {
    enabled[wanted[i].Luid.LowPart] = held && (wanted[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  SetLastError(all_assigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}
