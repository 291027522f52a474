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

namespace {

// COM's two calls, from ole32.dll of the system directory, loaded by its full
// name when IMPORT needs it: the program imports only the four system
// libraries it always needs, and no ole32.dll beside it can be taken for the
// system's. The library stays loaded for the rest of the run.
struct ComCalls {
  HRESULT(WINAPI* initialize)(LPVOID, DWORD) = nullptr;
  void(WINAPI* uninitialize)() = nullptr;
};

const ComCalls& Com() {
  static const ComCalls calls = [] {
    ComCalls found;
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return found;
    std::string path(directory, length);
    if (!EndsWithBackslash(path)) path += '\\';
    const HMODULE ole32 = LoadLibraryA((path + "ole32.dll").c_str());
    if (ole32 == nullptr) return found;
    // The casts between function pointer types are how GetProcAddress is
    // used; the types are those of the documented calls.
    found.initialize = reinterpret_cast<HRESULT(WINAPI*)(LPVOID, DWORD)>(
        reinterpret_cast<void (*)()>(GetProcAddress(ole32, "CoInitializeEx")));
    found.uninitialize = reinterpret_cast<void(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(ole32, "CoUninitialize")));
    if (found.initialize == nullptr || found.uninitialize == nullptr) found = ComCalls{};
    return found;
  }();
  return calls;
}

}  // namespace

ShellComScope::ShellComScope() {
  // S_FALSE (already initialized the same way) is balanced by
  // CoUninitialize as well; another apartment kind (RPC_E_CHANGED_MODE) is
  // not ours to end. Without ole32 the start goes on without COM.
  if (Com().initialize == nullptr) return;
  const HRESULT result =
      Com().initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  initialized_ = SUCCEEDED(result);
}

ShellComScope::~ShellComScope() {
  if (initialized_) Com().uninitialize();
}

}  // namespace orvik
