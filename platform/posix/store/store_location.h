// Where the registry lives: the directory named by ORVIK_REGISTRY, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/orvik/registry (the home directory
// from the password database when HOME is unset), created on first use.
// Also the checks that keep a process off a directory another user
// controls, and the creation of the registry's own files.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
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

// The registry directory's owner and group, which files created in it get,
// and whether it is a registry that a group shares.
struct DirectoryOwner {
  uid_t uid = 0;
  gid_t gid = 0;
  // The directory's group may write it (and it has the setgid bit, so that
  // every file made in it takes the directory's group).
  bool shared = false;
};

// Whether this process may use the registry directory: it must be a
// directory (ERROR_DIRECTORY) that others may not write, and a directory
// its group may write must have the setgid bit. It must be this user's or
// root's, or shared by a group this process is in; root uses another
// user's directory only when ORVIK_REGISTRY names it (else
// ORVIK_ERROR_UNSAFE_REGISTRY_DIRECTORY). The registry's files that are
// there must pass CheckRegistryFile.
LONG CheckRegistryDirectory(const RegistryPlace& place, DirectoryOwner* owner);

// Whether a file of the registry directory, as lstat or fstat describes it,
// is the registry's own: a regular file (else
// ORVIK_ERROR_REGISTRY_FILE_LINKED), and in a shared directory, where any
// member may put files, one with a single name and the directory's group
// (else ORVIK_ERROR_FOREIGN_REGISTRY_FILE).
LONG CheckRegistryFile(const struct stat& file, const DirectoryOwner& directory);

// The mode of a new database: 0644, or in a shared directory 0660, so that
// every member of the group may write what any member created.
unsigned NewDatabaseMode(const DirectoryOwner& directory);

// Creates a registry file that is not there yet, never through a link, with
// `mode` and the directory owner's ownership. In a shared directory `mode`
// is set whatever the umask, so that the group keeps its rights. Returns
// the open descriptor (close-on-exec), or -1 with errno set; EEXIST when
// the file is there.
int CreateRegistryFile(const std::string& path, unsigned mode, const DirectoryOwner& owner);

// The database file inside the registry directory, and the file of the
// change counter the processes share. A relative directory gets "./" in
// front, so that no name can be taken for anything but a path.
std::string DatabasePath(const std::string& directory);
std::string ChangeCounterPath(const std::string& directory);
// The private copy that a loaded hive of `generation` is served from.
std::string PrivateCopyPath(const std::string& directory, int64_t generation);

}  // namespace orvik::posix
