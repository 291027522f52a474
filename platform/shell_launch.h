// What starting the registry editor needs of the platform besides
// ShellExecuteExA and WaitForSingleObject: the editor's program, the full
// name of the file it is given, and COM for the thread that starts it.
#pragma once

#include <string>

namespace orvik {

// The registry editor by its full name: on Windows regedit.exe in the
// Windows directory, so that no program of that name in the current
// directory or on the search path is started in its place; empty when the
// directory cannot be had. On POSIX "regedit.exe", which the registry
// platform starts as orvik-regedit beside the running program.
std::string RegistryEditorProgram();

// The file name made absolute against the current directory, as a program
// that starts elsewhere (an elevated editor starts in the system directory)
// needs it; the name unchanged when it cannot be made absolute.
std::string FullFileName(const std::string& file_name);

// COM initialized for the calling thread while the object lives, as
// ShellExecuteEx asks, since it may hand the start to shell extensions that
// are COM objects: apartment-threaded, without OLE1 DDE. Nothing on POSIX.
class ShellComScope {
 public:
  ShellComScope();
  ~ShellComScope();
  ShellComScope(const ShellComScope&) = delete;
  ShellComScope& operator=(const ShellComScope&) = delete;

 private:
  bool initialized_ = false;
};

}  // namespace orvik
