// FormatMessageA for system messages: the standard Windows text of every
// error code the platform layer returns, each ending with CR LF. LocalFree
// releases a buffer that FORMAT_MESSAGE_ALLOCATE_BUFFER allocated.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/windows_api.h"

namespace {

struct MessageText {
  DWORD code;
  const char* text;
};

constexpr MessageText kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_BUSY, "The requested resource is in use."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_BADDB, "The configuration registry database is corrupt."},
    {ERROR_BADKEY, "The configuration registry key is invalid."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_REGISTRY_RECOVERED,
     "One of the files in the registry database had to be recovered by use of a log or "
     "alternate copy. The recovery was successful."},
    {ERROR_REGISTRY_CORRUPT,
     "The registry is corrupted. The structure of one of the files containing registry data is "
     "corrupted, or the system's memory image of the file is corrupted, or the file could not "
     "be recovered because the alternate copy or log was absent or corrupted."},
    {ERROR_REGISTRY_IO_FAILED,
     "An I/O operation initiated by the registry failed unrecoverably. The registry could not "
     "read in, or write out, or flush, one of the files that contain the system's image of the "
     "registry."},
    {ERROR_NOT_REGISTRY_FILE,
     "The system has attempted to load or restore a file into the registry, but the specified "
     "file is not in a registry file format."},
    {ERROR_KEY_DELETED,
     "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_KEY_HAS_CHILDREN,
     "Cannot create a symbolic link in a registry key that already has subkeys or values."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_NOT_ALL_ASSIGNED, "Not all privileges or groups referenced are assigned to the caller."},
    {ERROR_NO_SUCH_PRIVILEGE, "A specified privilege does not exist."},
    {ERROR_PRIVILEGE_NOT_HELD, "A required privilege is not held by the client."},
    {ERROR_FUNCTION_FAILED, "Function failed during execution."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system."},
    {ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY,
     "The registry directory belongs to another user or may be written by others."},
    {ORVIK_ERROR_REGISTRY_FILE_LINKED,
     "A file of the registry is a symbolic link or not a regular file."},
    {ORVIK_ERROR_NOT_AN_ORVIK_REGISTRY,
     "The database in the registry directory is not an Orvik registry."},
    {ORVIK_ERROR_NO_HOME_DIRECTORY,
     "There is no home directory for the registry; set HOME or ORVIK_REGISTRY."},
    {ORVIK_ERROR_HIVE_FILE_REPLACED,
     "The file the hive was loaded from has been moved or replaced; the hive was not written "
     "back."},
    {ORVIK_ERROR_HIVE_FILE_IS_DIRECTORY,
     "The file the hive was loaded from is now a directory; the hive was not written back."},
    {ORVIK_ERROR_HIVE_FILE_NOT_WRITABLE,
     "The hive file could not be written back when it is unloaded: this user may not write or "
     "replace it."},
    {ORVIK_ERROR_HIVE_FILE_IN_REGISTRY, "The file is one of the registry's own files."},
    {ORVIK_ERROR_HIVE_FILE_OF_ANOTHER_USER,
     "A hive in another user's registry is loaded from and written back to that user's files "
     "only."},
    {ORVIK_ERROR_FOREIGN_REGISTRY_FILE,
     "A file in the shared registry directory has another name elsewhere or is not of the "
     "directory's group."},
};

const char* FindText(DWORD code) {
  for (const auto& message : kMessages) {
    if (message.code == code) return message.text;
  }
  return nullptr;
}

DWORD Fail(DWORD code) {
  SetLastError(code);
  return 0;
}

}  // namespace

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  (void)lpSource;
  (void)dwLanguageId;
  (void)Arguments;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const char* found = FindText(dwMessageId);
  if (found == nullptr) return Fail(ERROR_MR_MID_NOT_FOUND);
  std::string text(found);
  // A maximum width of FORMAT_MESSAGE_MAX_WIDTH_MASK drops the line end.
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != FORMAT_MESSAGE_MAX_WIDTH_MASK) text += "\r\n";
  const size_t needed = text.size() + 1;
  char* target = lpBuffer;
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    const size_t size = needed > nSize ? needed : nSize;
    target = static_cast<char*>(std::malloc(size));
    if (target == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    *reinterpret_cast<LPSTR*>(lpBuffer) = target;
  } else if (needed > nSize) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(target, text.c_str(), needed);
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}
