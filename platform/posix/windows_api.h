// The Windows API subset that Orvik uses, declared for POSIX systems.
//
// Types, constants and signatures follow the Windows SDK so that code above
// the platform layer compiles unchanged on both platforms. The calls are
// implemented in calls/: the registry calls over the registry's tree (the
// store with the loaded hives, tree.h), the code page calls with the ANSI
// code page as UTF-8 that carries invalid bytes losslessly.
#pragma once

#include <cstdarg>
#include <cstdint>

// ---- Basic types ------------------------------------------------------------
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef unsigned int UINT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef void* HANDLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef HANDLE HLOCAL;

typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef BOOL* LPBOOL;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* LPCCH;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* LPCWCH;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// ---- Predefined root keys (sign-extended, as Windows defines them) ----------
#define ORVIK_PREDEFINED_KEY(v) \
  (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(v)))))
#define HKEY_CLASSES_ROOT ORVIK_PREDEFINED_KEY(0x80000000)
#define HKEY_CURRENT_USER ORVIK_PREDEFINED_KEY(0x80000001)
#define HKEY_LOCAL_MACHINE ORVIK_PREDEFINED_KEY(0x80000002)
#define HKEY_USERS ORVIK_PREDEFINED_KEY(0x80000003)
#define HKEY_PERFORMANCE_DATA ORVIK_PREDEFINED_KEY(0x80000004)
#define HKEY_CURRENT_CONFIG ORVIK_PREDEFINED_KEY(0x80000005)
#define HKEY_DYN_DATA ORVIK_PREDEFINED_KEY(0x80000006)

// ---- Error codes ------------------------------------------------------------
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_RECOVERED 1014L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_NOT_REGISTRY_FILE 1017L
#define ERROR_KEY_DELETED 1018L
#define ERROR_KEY_HAS_CHILDREN 1020L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_NO_ASSOCIATION 1155L
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_PRIVILEGE_NOT_HELD 1314L
#define ERROR_FUNCTION_FAILED 1627L
#define ERROR_CANT_RESOLVE_FILENAME 1921L
// The POSIX registry's own refusals, as application codes (bit 29 set).
#define ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY 0x20000001L
#define ORVIK_ERROR_REGISTRY_FILE_LINKED 0x20000002L
#define ORVIK_ERROR_NOT_AN_ORVIK_REGISTRY 0x20000003L
#define ORVIK_ERROR_NO_HOME_DIRECTORY 0x20000004L
#define ORVIK_ERROR_HIVE_FILE_REPLACED 0x20000005L
#define ORVIK_ERROR_HIVE_FILE_IS_DIRECTORY 0x20000006L
#define ORVIK_ERROR_HIVE_FILE_NOT_WRITABLE 0x20000007L
#define ORVIK_ERROR_HIVE_FILE_IN_REGISTRY 0x20000008L
#define ORVIK_ERROR_HIVE_FILE_OF_ANOTHER_USER 0x20000009L
#define ORVIK_ERROR_FOREIGN_REGISTRY_FILE 0x2000000AL

// ---- Registry value types ---------------------------------------------------
#define REG_NONE 0UL
#define REG_SZ 1UL
#define REG_EXPAND_SZ 2UL
#define REG_BINARY 3UL
#define REG_DWORD 4UL
#define REG_DWORD_LITTLE_ENDIAN 4UL
#define REG_DWORD_BIG_ENDIAN 5UL
#define REG_LINK 6UL
#define REG_MULTI_SZ 7UL
#define REG_RESOURCE_LIST 8UL
#define REG_FULL_RESOURCE_DESCRIPTOR 9UL
#define REG_RESOURCE_REQUIREMENTS_LIST 10UL
#define REG_QWORD 11UL
#define REG_QWORD_LITTLE_ENDIAN 11UL

// ---- Access rights ----------------------------------------------------------
#define DELETE 0x00010000UL
#define READ_CONTROL 0x00020000UL
#define WRITE_DAC 0x00040000UL
#define WRITE_OWNER 0x00080000UL
#define SYNCHRONIZE 0x00100000UL
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_ALL 0x001F0000UL
#define MAXIMUM_ALLOWED 0x02000000UL
#define GENERIC_ALL 0x10000000UL
#define GENERIC_EXECUTE 0x20000000UL
#define GENERIC_WRITE 0x40000000UL
#define GENERIC_READ 0x80000000UL

#define KEY_QUERY_VALUE 0x0001UL
#define KEY_SET_VALUE 0x0002UL
#define KEY_CREATE_SUB_KEY 0x0004UL
#define KEY_ENUMERATE_SUB_KEYS 0x0008UL
#define KEY_NOTIFY 0x0010UL
#define KEY_CREATE_LINK 0x0020UL
#define KEY_WOW64_64KEY 0x0100UL
#define KEY_WOW64_32KEY 0x0200UL
#define KEY_READ 0x00020019UL
#define KEY_EXECUTE KEY_READ
#define KEY_WRITE 0x00020006UL
#define KEY_ALL_ACCESS 0x000F003FUL

#define REG_OPTION_NON_VOLATILE 0x00000000UL
#define REG_OPTION_VOLATILE 0x00000001UL
#define REG_OPTION_CREATE_LINK 0x00000002UL
#define REG_OPTION_BACKUP_RESTORE 0x00000004UL
#define REG_CREATED_NEW_KEY 0x00000001UL
#define REG_OPENED_EXISTING_KEY 0x00000002UL

// ---- Code pages and messages ------------------------------------------------
#define CP_ACP 0U
#define CP_OEMCP 1U
#define CP_UTF8 65001U
#define MB_ERR_INVALID_CHARS 0x00000008UL

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100UL
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200UL
#define FORMAT_MESSAGE_FROM_STRING 0x00000400UL
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800UL
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000UL
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000UL
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFUL

#define LOCALE_USER_DEFAULT 0x0400UL
#define NORM_IGNORECASE 0x00000001UL
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
typedef DWORD LCID;

#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))

// ---- Registry calls (calls/reg_keys.cc, reg_enum.cc, reg_values.cc) ---------
// An empty lpSubKey under a predefined key gives back that key's own handle,
// as on Windows.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition);
LONG RegCloseKey(HKEY hKey);
LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// The wide calls pass string data as stored (UTF-16LE), for callers that must
// copy values exactly.
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData);

// ---- Hive files (calls/reg_save.cc, reg_restore.cc, reg_load.cc over hive/) -
#define REG_WHOLE_HIVE_VOLATILE 0x00000001UL
#define REG_REFRESH_HIVE 0x00000002UL
#define REG_NO_LAZY_FLUSH 0x00000004UL
#define REG_FORCE_RESTORE 0x00000008UL

// RegSaveKeyA needs the backup privilege enabled, RegRestoreKeyA the restore
// privilege; the file must not exist for a save.
LONG RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const LPSECURITY_ATTRIBUTES lpSecurityAttributes);
LONG RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags);
// RegLoadKeyA and RegUnLoadKeyA work under HKEY_LOCAL_MACHINE and HKEY_USERS
// only, on one key below them, with the restore and the backup privilege
// enabled.
LONG RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile);
LONG RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey);

// ---- Access tokens and privileges (calls/token.cc) --------------------------
typedef HANDLE* PHANDLE;

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES, *PLUID_AND_ATTRIBUTES;

#define ANYSIZE_ARRAY 1
typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

#define TOKEN_QUERY 0x0008UL
#define TOKEN_ADJUST_PRIVILEGES 0x0020UL
#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001UL
#define SE_PRIVILEGE_ENABLED 0x00000002UL
#define SE_PRIVILEGE_REMOVED 0x00000004UL
#define SE_BACKUP_NAME "SeBackupPrivilege"
#define SE_RESTORE_NAME "SeRestorePrivilege"

HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, LPDWORD ReturnLength);

// ---- Files (calls/file_calls.cc) --------------------------------------------
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFUL
#define FILE_ATTRIBUTE_READONLY 0x00000001UL
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010UL
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020UL
#define FILE_ATTRIBUTE_NORMAL 0x00000080UL

#define MOVEFILE_REPLACE_EXISTING 0x00000001UL
#define MOVEFILE_COPY_ALLOWED 0x00000002UL
#define MOVEFILE_WRITE_THROUGH 0x00000008UL

DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

// ---- Code page calls (calls/codepage_api.cc, calls/compare_string.cc) -------
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);

// Compares two texts of the ANSI code page; with NORM_IGNORECASE by the folding
// the registry uses for names. CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN,
// 0 on failure. The locale is not looked at.
int CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2,
                   int cchCount2);

// ---- Messages and the last error (calls/error_text.cc, calls/last_error.cc) -
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Frees a buffer that FormatMessageA allocated (FORMAT_MESSAGE_ALLOCATE_BUFFER).
HLOCAL LocalFree(HLOCAL hMem);

// ---- Kernel objects (calls/kernel_handles.cc) -------------------------------
// Closes a handle to a started process or an access token (see kernel_handles.h).
BOOL CloseHandle(HANDLE hObject);

// ---- Processes (calls/process_api.cc) ---------------------------------------
typedef void* HWND;
typedef void* HINSTANCE;

typedef struct _SHELLEXECUTEINFOA {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCSTR lpVerb;
  LPCSTR lpFile;
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  LPCSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
} SHELLEXECUTEINFOA, *LPSHELLEXECUTEINFOA;

#define SEE_MASK_NOCLOSEPROCESS 0x00000040UL
#define SEE_MASK_NOASYNC 0x00000100UL     // no effect: every start is synchronous here
#define SEE_MASK_FLAG_NO_UI 0x00000400UL  // no effect: there are no dialogs
#define SW_SHOWDEFAULT 10
#define SE_ERR_FNF 2
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_NOASSOC 31
#define INFINITE 0xFFFFFFFFUL
#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_TIMEOUT 0x00000102UL
#define WAIT_FAILED 0xFFFFFFFFUL
#define STILL_ACTIVE 259UL

// Starts a program directly (never through a shell): "regedit.exe" is
// orvik-regedit in the directory of the running executable; lpParameters is
// split into arguments by the Windows command-line rule.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// A program killed by a signal ends with 128 plus the signal's number.
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
