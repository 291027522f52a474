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

int RunGuarded(Console& out, const std::function<int()>& body) {
  int exit_code = 0;
  try {
    exit_code = body();
  } catch (const std::exception& e) {
    ReportError(out, e.what(), exit_code);
  } catch (...) {
    // Every failure of ours carries a message; anything else has none.
    ReportError(out, "", exit_code);
  }
  return exit_code;
}

int RunOrvik(const CommandLine& args, Console& out) {
  return RunGuarded(out, [&args, &out] {
    const std::string word = args.LowerArg(1);
    for (const Operation& operation : kOperations) {
      if (word == operation.word) return operation.parser(args, out);
    }
    ShowUsage(out);
    return 1;
  });
}

}  // namespace orvik
