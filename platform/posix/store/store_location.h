// Where the registry lives: the directory named by ORVIK_REGISTRY, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/orvik/registry (the home directory
// from the password database when HOME is unset), created on first use.
// Also the checks that keep a process off a directory another user
// controls, and the creation of the registry's own files.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

struct RegistryPlace {
  std::string directory;
  bool named = false;  // ORVIK_REGISTRY names it
};

// The registry directory as the environment names it (not created).
// ORVIK_ERROR_NO_HOME_DIRECTORY when nothing names it and the user has no
// home directory.
LONG FindRegistryDirectory(RegistryPlace* place);

// Creates `directory` and its missing parents. Returns ERROR_SUCCESS, or
// ERROR_ACCESS_DENIED when the user may not create it, or
// ERROR_REGISTRY_IO_FAILED for any other failure.
LONG EnsureDirectory(const std::string& directory);

// The directory's own path, without symbolic links (the registry's files
// are then opened with no link anywhere in their paths).
LONG ResolveDirectory(const std::string& directory, std::string* resolved);

// The owner that files created in the registry directory get.
struct DirectoryOwner {
  uid_t uid = 0;
  gid_t gid = 0;
};

// Whether this process may use the registry directory: it must be a
// directory (ERROR_DIRECTORY), not writable by others, and owned by this
// user or by root; root uses another user's directory only when
// ORVIK_REGISTRY names it (else ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY).
// None of the registry's files may be a symbolic link or anything but a
// regular file (ORVIK_ERROR_REGISTRY_FILE_LINKED).
LONG CheckRegistryDirectory(const RegistryPlace& place, DirectoryOwner* owner);

// Creates a registry file that is not there yet, never through a link, with
// `mode` and the directory owner's ownership. Returns the open descriptor
// (close-on-exec), or -1 with errno set; EEXIST when the file is there.
int CreateRegistryFile(const std::string& path, unsigned mode, const DirectoryOwner& owner);

// The database file inside the registry directory, and the file of the
// change counter the processes share. A relative directory gets "./" in
// front, so that no name can be taken for anything but a path.
std::string DatabasePath(const std::string& directory);
std::string ChangeCounterPath(const std::string& directory);

}  // namespace orvik::posix
