// Reports a failure: exit code 1 and the message between two empty lines.
#include "app/error_report.h"

namespace orvik {

void ReportError(Console& out, std::string_view message, int& exit_code) {
  exit_code = 1;
  out.Line("");
  out.Line(message);
  out.Line("");
}

}  // namespace orvik
