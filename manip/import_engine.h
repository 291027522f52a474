// IMPORT's engine: hands a registry-editor file, by its full name, to the
// platform's registry editor, regedit.exe of the Windows directory, in
// silent mode and waits until it has ended.
#pragma once

#include <string>

namespace orvik {

// Returns 0, or raises: the file does not exist (a directory does not count),
// or the editor could not be started or did not import the file.
int ImportFile(const std::string& file_name);

// Starts `program` with `parameters` in the current directory and waits,
// without a time limit, until it has ended. True when it was started, has
// ended and reported success (exit code 0).
bool LaunchAndWait(const std::string& program, const std::string& parameters);

}  // namespace orvik
