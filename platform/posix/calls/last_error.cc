// The calling thread's last-error code, as GetLastError reports it.
#include "platform/posix/windows_api.h"

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }
