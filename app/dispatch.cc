// The operation table and the one exception guard around dispatch.
#include "app/dispatch.h"

#include <exception>
#include <string_view>

#include "app/add_command.h"
#include "app/compare_command.h"
#include "app/copy_command.h"
#include "app/delete_command.h"
#include "app/error_report.h"
#include "app/export_command.h"
#include "app/import_command.h"
#include "app/load_command.h"
#include "app/query_command.h"
#include "app/restore_command.h"
#include "app/save_command.h"
#include "app/unload_command.h"
#include "app/usage.h"

namespace orvik {

namespace {

struct Operation {
  std::string_view word;  // lower case
  int (*parser)(const CommandLine&, Console&);
};

constexpr Operation kOperations[] = {
    {"save", ParseSave},     {"restore", ParseRestore}, {"add", ParseAdd},
    {"delete", ParseDelete}, {"export", ParseExport},   {"import", ParseImport},
    {"load", ParseLoad},     {"unload", ParseUnload},   {"query", ParseQuery},
    {"copy", ParseCopy},     {"compare", ParseCompare},
};

}  // namespace

int RunOrvik(const CommandLine& args, Console& out) {
  int exit_code = 0;
  try {
    const std::string word = args.LowerArg(1);
    const Operation* chosen = nullptr;
    for (const Operation& operation : kOperations) {
      if (word == operation.word) {
        chosen = &operation;
        break;
      }
    }
    if (chosen != nullptr) {
      exit_code = chosen->parser(args, out);
    } else {
      exit_code = 1;
      ShowUsage(out);
    }
  } catch (const std::exception& e) {
    ReportError(out, e.what(), exit_code);
  } catch (...) {
    // Every failure of ours carries a message; anything else has none.
    ReportError(out, "", exit_code);
  }
  return exit_code;
}

}  // namespace orvik
