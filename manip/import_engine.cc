// IMPORT: test the file, start the registry editor, wait for it.
#include "manip/import_engine.h"

#include "platform/file_exists.h"
#include "platform/platform.h"
#include "platform/program_parameters.h"
#include "platform/shell_launch.h"
#include "registry/exception.h"

namespace orvik {

bool LaunchAndWait(const std::string& program, const std::string& parameters) {
  const ShellComScope com;
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof(info);
  // The process handle to wait on; no dialog for a failure (the failure is
  // reported as a message); the start finished before the call returns.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = "open";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWDEFAULT;
  if (!ShellExecuteExA(&info) || info.hProcess == nullptr) return false;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD exit_code = 1;
  const BOOL known = GetExitCodeProcess(info.hProcess, &exit_code);
  CloseHandle(info.hProcess);
  return known && exit_code == 0;
}

int ImportFile(const std::string& file_name) {
  if (!FileExists(file_name)) {
    throw Exception("File: \"" + file_name + "\" does not exist\"");
  }
  // The editor by its full name, never one found in the current directory,
  // and the file by its full name, since the editor may start elsewhere;
  // quoted so that the editor's split gives back exactly that name.
  const std::string editor = RegistryEditorProgram();
  if (editor.empty() ||
      !LaunchAndWait(editor, "/s " + QuoteProgramParameter(FullFileName(file_name)))) {
    throw Exception("Error: File: \"" + file_name + "\" could not be imported");
  }
  return 0;
}

}  // namespace orvik
