// orvik-regedit: the registry editor of the POSIX platform, which imports
// registry-editor files. "orvik-regedit [/s] FILE...": /s (any case) keeps it
// silent; every other argument names a file. Each file is imported whole or
// not at all. Exit status 0 when every file was imported, 1 otherwise.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/handles/registry_transaction.h"
#include "regedit/reg_import.h"

int main(int argc, char** argv) {
  orvik::posix::GatherRegistryChanges();
  bool silent = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "/s" || arg == "/S") {
      silent = true;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    if (!silent) std::fputs("usage: orvik-regedit [/s] FILE...\n", stderr);
    return 1;
  }
  int status = 0;
  for (const std::string& file : files) {
    orvik::regedit::ImportProblem problem;
    if (orvik::regedit::ImportRegFile(file, &problem)) continue;
    status = 1;
    if (silent) continue;
    if (problem.line > 0) {
      std::fprintf(stderr, "orvik-regedit: %s:%d: %s\n", file.c_str(), problem.line,
                   problem.message.c_str());
    } else {
      std::fprintf(stderr, "orvik-regedit: %s: %s\n", file.c_str(), problem.message.c_str());
    }
  }
  return status;
}
