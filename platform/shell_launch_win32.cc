// The registry editor's program, full file names and COM on Windows.
#include <objbase.h>

#include "platform/ansi_text.h"
#include "platform/platform.h"
#include "platform/shell_launch.h"

namespace orvik {

std::string RegistryEditorProgram() {
  // The shared Windows directory: GetWindowsDirectory can give a private one
  // to each user of a terminal server.
  std::string directory(MAX_PATH, '\0');
  UINT length = GetSystemWindowsDirectoryA(directory.data(), static_cast<UINT>(directory.size()));
  if (length >= directory.size()) {
    directory.resize(length);
    length = GetSystemWindowsDirectoryA(directory.data(), static_cast<UINT>(directory.size()));
  }
  if (length == 0 || length >= directory.size()) return std::string();
  directory.resize(length);
  if (!EndsWithBackslash(directory)) directory += '\\';
  return directory + "regedit.exe";
}

std::string FullFileName(const std::string& file_name) {
  const DWORD size = GetFullPathNameA(file_name.c_str(), 0, nullptr, nullptr);
  if (size == 0) return file_name;
  std::string full(size, '\0');
  const DWORD length = GetFullPathNameA(file_name.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return file_name;
  full.resize(length);
  return full;
}

ShellComScope::ShellComScope() {
  // S_FALSE (already initialized the same way) is balanced by
  // CoUninitialize as well; another apartment kind (RPC_E_CHANGED_MODE) is
  // not ours to end.
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  initialized_ = SUCCEEDED(result);
}

ShellComScope::~ShellComScope() {
  if (initialized_) CoUninitialize();
}

}  // namespace orvik
