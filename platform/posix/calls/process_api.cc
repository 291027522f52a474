// Started processes: ShellExecuteExA, WaitForSingleObject and
// GetExitCodeProcess over posix_spawn and waitpid. A started process is a
// kernel object; CloseHandle (kernel_handles.cc) lets it go. The parameters
// reach the program split as a Windows program's C runtime splits them.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/calls/kernel_handles.h"
#include "platform/posix/windows_api.h"
#include "platform/program_parameters.h"

extern char** environ;

namespace orvik::posix {

namespace {

class Process final : public KernelObject {
 public:
  explicit Process(pid_t pid) : pid_(pid) {}
  ~Process() override {
    // Collect an ended child, so it does not linger; a running one goes on.
    if (!ended_) Collect(false);
  }

  // Waits for the child (or only looks, when `block` is false). False when
  // the child cannot be waited for.
  bool Collect(bool block) {
    if (ended_) return true;
    int status = 0;
    pid_t got = 0;
    do {
      got = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return false;
    if (got == 0) return true;  // still running
    ended_ = true;
    if (WIFEXITED(status)) {
      exit_code_ = static_cast<DWORD>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      exit_code_ = 128 + static_cast<DWORD>(WTERMSIG(status));
    }
    return true;
  }

  bool ended() const { return ended_; }
  DWORD exit_code() const { return exit_code_; }

 private:
  pid_t pid_;
  bool ended_ = false;
  DWORD exit_code_ = 0;
};

Process* FindProcess(HANDLE handle) { return dynamic_cast<Process*>(FindKernelObject(handle)); }

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return ".";
  path.resize(static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// The program to start for the name the caller gave.
std::string ProgramPath(const std::string& file) {
  const std::string lower = AsciiLower(file);
  if (lower == "regedit.exe" || lower == "regedit") return ExecutableDirectory() + "/orvik-regedit";
  return file;
}

LONG SpawnError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_FUNCTION_FAILED;
  }
}

BOOL Refuse(SHELLEXECUTEINFOA* info, LONG error) {
  const int code = error == ERROR_FILE_NOT_FOUND   ? SE_ERR_FNF
                   : error == ERROR_ACCESS_DENIED  ? SE_ERR_ACCESSDENIED
                   : error == ERROR_NO_ASSOCIATION ? SE_ERR_NOASSOC
                                                   : 0;
  info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(code));
  SetLastError(static_cast<DWORD>(error));
  return FALSE;
}

}  // namespace

}  // namespace orvik::posix

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo) {
  using orvik::posix::Refuse;
  if (pExecInfo == nullptr || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOA) ||
      pExecInfo->lpFile == nullptr || *pExecInfo->lpFile == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pExecInfo->hProcess = nullptr;
  if (pExecInfo->lpVerb != nullptr && *pExecInfo->lpVerb != '\0' &&
      orvik::posix::AsciiLower(pExecInfo->lpVerb) != "open") {
    return Refuse(pExecInfo, ERROR_NO_ASSOCIATION);
  }
  const std::string program = orvik::posix::ProgramPath(pExecInfo->lpFile);
  std::vector<std::string> args = {program};
  if (pExecInfo->lpParameters != nullptr) {
    for (std::string& arg : orvik::SplitProgramParameters(pExecInfo->lpParameters)) {
      args.push_back(std::move(arg));
    }
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (pExecInfo->lpDirectory != nullptr && *pExecInfo->lpDirectory != '\0') {
    posix_spawn_file_actions_addchdir_np(&actions, pExecInfo->lpDirectory);
  }
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Refuse(pExecInfo, orvik::posix::SpawnError(rc));

  auto process = std::make_unique<orvik::posix::Process>(pid);
  pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(33));
  if ((pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS) != 0) {
    pExecInfo->hProcess = orvik::posix::AddKernelObject(std::move(process));
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  orvik::posix::Process* process = orvik::posix::FindProcess(hHandle);
  if (process == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (dwMilliseconds == INFINITE) {
    if (!process->Collect(true)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    return WAIT_OBJECT_0;
  }
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    if (!process->Collect(false)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (process->ended()) return WAIT_OBJECT_0;
    if (std::chrono::steady_clock::now() >= give_up) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  orvik::posix::Process* process = orvik::posix::FindProcess(hProcess);
  if (process == nullptr || lpExitCode == nullptr) {
    SetLastError(process == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!process->Collect(false)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpExitCode = process->ended() ? process->exit_code() : STILL_ACTIVE;
  return TRUE;
}
