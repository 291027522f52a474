// Runs the built executables as a user would, for the end-to-end tests:
// a fresh registry in a temporary directory, standard output captured as bytes.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace orvik::test {

struct ProcessResult {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, byte for byte
  int exit_code = -1;
};

struct RunOptions {
  std::vector<std::pair<std::string, std::string>> env;  // added or replaced
  std::vector<std::string> unset_env;                    // removed
  std::string cwd;                                       // empty: inherit
  bool as_unprivileged_user = false;                     // run as nobody (setpriv)
  int unprivileged_uid = 65534;                          // that user's id (and group id)
  std::vector<int> groups;                               // that user's other groups
  std::string stdin_text;                                // fed to standard input
};

// Runs `program` with `args` (argv[1..]) and waits for it.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const RunOptions& options = {});

// Whether this process may run programs as the unprivileged user (it must be
// root, and setpriv must be there). Tests that need it skip otherwise.
bool CanRunUnprivileged();

// Paths of the executables of this build.
std::string OrvikPath();
std::string RegeditPath();
std::string BuildDir();

// A temporary directory, removed with everything in it when it goes away.
// It is world-readable so that tests can also run programs as an unprivileged user.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Joins lines with CR LF after each, the way Orvik ends every output line.
std::string Lines(const std::vector<std::string>& lines);

// Starts orvik on the registry in `registry` with `args`, kills it after
// `delay` and reports whether the kill came before it ended by itself.
bool KillOrvikAfter(const std::string& registry, const std::vector<std::string>& args,
                    std::chrono::microseconds delay);

// A reported failure as Orvik prints it: the message between empty lines.
std::string Report(const std::string& message);

// Hexadecimal (upper case) of ASCII text as UTF-16LE code units, the way
// string data is stored.
std::string Utf16Hex(const std::string& text);

// Reads or writes a whole file as bytes.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace orvik::test
