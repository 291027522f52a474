// The registry editor's program, full file names and COM on POSIX, where the
// registry platform starts "regedit.exe" as orvik-regedit and there is no COM.
#include <unistd.h>

#include "platform/shell_launch.h"

namespace orvik {

std::string RegistryEditorProgram() { return "regedit.exe"; }

std::string FullFileName(const std::string& file_name) {
  if (file_name.empty() || file_name.front() == '/') return file_name;
  std::string directory(4096, '\0');
  if (getcwd(directory.data(), directory.size()) == nullptr) return file_name;
  directory.resize(directory.find('\0'));
  if (directory.back() != '/') directory += '/';
  return directory + file_name;
}

// There is no COM to initialize.
ShellComScope::ShellComScope() { initialized_ = false; }

ShellComScope::~ShellComScope() = default;

}  // namespace orvik
