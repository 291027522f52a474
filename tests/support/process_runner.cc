// Process launching and temporary directories for the end-to-end tests.
#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvik::test {

namespace {

void ThrowErrno(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

constexpr char kSetpriv[] = "/usr/bin/setpriv";

// The unprivileged user may not reach the build directory (inside a home
// directory of mode 0700, say), so it runs a copy of the program kept in a
// world-readable temporary directory, made once per program.
std::string ReachableCopy(const std::string& program) {
  static TempDir copies_dir;
  static std::map<std::string, std::string> copies;
  auto found = copies.find(program);
  if (found != copies.end()) return found->second;
  const std::filesystem::path copy =
      std::filesystem::path(copies_dir.path()) / std::filesystem::path(program).filename();
  std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(
      copy, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                std::filesystem::perms::others_exec);
  return copies.emplace(program, copy.string()).first->second;
}

}  // namespace

bool CanRunUnprivileged() { return geteuid() == 0 && access(kSetpriv, X_OK) == 0; }

std::string BuildDir() {
  if (const char* dir = std::getenv("ORVIK_BUILD_DIR"); dir != nullptr && *dir != '\0') return dir;
  return ORVIK_DEFAULT_BUILD_DIR;
}

std::string OrvikPath() { return BuildDir() + "/orvik"; }
std::string RegeditPath() { return BuildDir() + "/orvik-regedit"; }

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options) {
  std::vector<std::string> argv_text;
  if (options.as_unprivileged_user) {
    const std::string id = std::to_string(options.unprivileged_uid);
    std::string groups;
    for (const int group : options.groups) {
      groups += (groups.empty() ? "" : ",") + std::to_string(group);
    }
    argv_text = {kSetpriv, "--reuid=" + id, "--regid=" + id,
                 groups.empty() ? "--clear-groups" : "--groups=" + groups, "--"};
    argv_text.push_back(ReachableCopy(program));
  } else {
    argv_text.push_back(program);
  }
  argv_text.insert(argv_text.end(), args.begin(), args.end());

  std::map<std::string, std::string> env_map;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string::npos) env_map[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : options.env) env_map[name] = value;
  for (const auto& name : options.unset_env) env_map.erase(name);
  std::vector<std::string> env_text;
  for (const auto& [name, value] : env_map) env_text.push_back(name + "=" + value);

  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || pipe(in_pipe) != 0) ThrowErrno("pipe");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  std::string old_cwd;
  if (!options.cwd.empty()) {
    old_cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(options.cwd);
  }
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  if (!old_cwd.empty()) std::filesystem::current_path(old_cwd);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    errno = rc;
    ThrowErrno("posix_spawn");
  }

  // Feed standard input, then read both outputs until they close.
  if (!options.stdin_text.empty()) {
    const char* p = options.stdin_text.data();
    size_t left = options.stdin_text.size();
    while (left > 0) {
      ssize_t n = write(in_pipe[1], p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  close(in_pipe[1]);

  ProcessResult result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) ThrowErrno("waitpid");
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "orvik-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) ThrowErrno("mkdtemp");
  path_ = templ;
  chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

bool KillOrvikAfter(const std::string& registry, const std::vector<std::string>& args,
                    std::chrono::microseconds delay) {
  std::vector<std::string> argv_text = {OrvikPath()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string env_text = "ORVIK_REGISTRY=" + registry;
  std::vector<char*> env = {const_cast<char*>(env_text.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, argv_text[0].c_str(), nullptr, nullptr, argv.data(), env.data()) != 0) {
    return false;
  }
  std::this_thread::sleep_for(delay);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status);
}

std::string Report(const std::string& message) { return Lines({"", message, ""}); }

std::string Utf16Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
    hex += "00";
  }
  return hex;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace orvik::test
