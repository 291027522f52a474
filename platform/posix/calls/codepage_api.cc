// MultiByteToWideChar and WideCharToMultiByte over the code page of codepage.h:
// CP_ACP and CP_OEMCP carry every byte losslessly, CP_UTF8 is strict UTF-8.
#include <cstring>
#include <string>

#include "platform/posix/codepage.h"
#include "platform/posix/windows_api.h"

namespace {

using orvik::posix::AnsiToWide;
using orvik::posix::Utf8ToWide;
using orvik::posix::WideToAnsi;
using orvik::posix::WideToUtf8;

constexpr UINT kThreadAnsiCodePage = 3;  // CP_THREAD_ACP

bool IsAnsiCodePage(UINT code_page) {
  return code_page == CP_ACP || code_page == CP_OEMCP || code_page == kThreadAnsiCodePage;
}

int Fail(DWORD code) {
  SetLastError(code);
  return 0;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!IsAnsiCodePage(CodePage) && CodePage != CP_UTF8) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const std::string_view input(lpMultiByteStr, length);
  std::u16string wide;
  if (CodePage == CP_UTF8) {
    bool invalid = false;
    wide = Utf8ToWide(input, &invalid);
    if (invalid && (dwFlags & MB_ERR_INVALID_CHARS) != 0) {
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
  } else {
    wide = AnsiToWide(input);
  }
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
  return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  (void)dwFlags;
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  size_t length = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(cchWideChar);
  }
  const std::u16string_view input(lpWideCharStr, length);
  std::string bytes;
  if (CodePage == CP_UTF8) {
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    bytes = WideToUtf8(input);
  } else if (IsAnsiCodePage(CodePage)) {
    bool used_default = false;
    bytes = WideToAnsi(input, lpDefaultChar != nullptr ? *lpDefaultChar : '?', &used_default);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
  } else {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (cbMultiByte == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(cbMultiByte)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}
