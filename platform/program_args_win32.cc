// Command-line arguments, standard output and standard error on Windows.
// GetCommandLineA would hand over the command line after a best-fit
// conversion, which maps characters outside the ANSI code page to
// look-alikes (a fullwidth quote to a quote, and so to another split). The
// wide command line is split first and each argument converted on its own,
// refusing what the code page cannot hold.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "platform/command_line_split.h"
#include "platform/platform.h"
#include "platform/program_args.h"

namespace orvik {

namespace {

// The argument in the ANSI code page; false when a character has no exact
// form there.
bool ToAnsi(const std::wstring& wide, std::string& ansi) {
  ansi.clear();
  if (wide.empty()) return true;
  // A UTF-8 ANSI code page takes neither the best-fit flag nor the question
  // whether the default character was used; it refuses lone surrogates.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* const ask_default = utf8 ? nullptr : &used_default;
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, ask_default);
  if (size <= 0 || used_default) return false;
  ansi.resize(static_cast<size_t>(size));
  if (WideCharToMultiByte(CP_ACP, flags, wide.data(), length, ansi.data(), size, nullptr,
                          ask_default) != size ||
      used_default) {
    return false;
  }
  // Exact means that the way back gives the same characters.
  const int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, nullptr, 0);
  if (back != length) return false;
  std::wstring again(static_cast<size_t>(back), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, again.data(), back);
  return again == wide;
}

}  // namespace

ProgramArgs ProgramArguments(int, char**) {
  ProgramArgs args;
  std::vector<std::wstring> wide = SplitCommandLine(std::wstring_view(GetCommandLineW()));
  if (!wide.empty()) wide.erase(wide.begin());  // the program's own name
  args.arguments.resize(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    if (!ToAnsi(wide[i], args.arguments[i]) && args.unrepresentable == 0) {
      args.unrepresentable = static_cast<int>(i + 1);
    }
  }
  return args;
}

void PrepareStandardOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace orvik
