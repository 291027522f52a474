// FormatMessageA: the standard texts, buffer handling and unknown codes.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/windows_api.h"

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string Text(DWORD code) {
  char buffer[512];
  const DWORD length = FormatMessageA(kFlags, nullptr, code, 0, buffer, sizeof(buffer), nullptr);
  return std::string(buffer, length);
}

TEST(ErrorTextTest, StandardTexts) {
  EXPECT_EQ(Text(ERROR_SUCCESS), "The operation completed successfully.\r\n");
  EXPECT_EQ(Text(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(Text(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
  EXPECT_EQ(Text(ERROR_INVALID_HANDLE), "The handle is invalid.\r\n");
  EXPECT_EQ(Text(ERROR_INVALID_PARAMETER), "The parameter is incorrect.\r\n");
  EXPECT_EQ(Text(ERROR_BAD_PATHNAME), "The specified path is invalid.\r\n");
  EXPECT_EQ(Text(ERROR_MORE_DATA), "More data is available.\r\n");
  EXPECT_EQ(Text(ERROR_NO_MORE_ITEMS), "No more data is available.\r\n");
  EXPECT_EQ(Text(ERROR_KEY_DELETED),
            "Illegal operation attempted on a registry key that has been marked for "
            "deletion.\r\n");
}

TEST(ErrorTextTest, EveryCodeTheRegistryCallsReturnHasAText) {
  for (long code :
       {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
        ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_PARAMETER, ERROR_DISK_FULL, ERROR_BAD_PATHNAME,
        ERROR_BUSY, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_NOACCESS, ERROR_REGISTRY_CORRUPT,
        ERROR_REGISTRY_IO_FAILED, ERROR_KEY_DELETED, ERROR_FUNCTION_FAILED,
        ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION}) {
    const std::string text = Text(static_cast<DWORD>(code));
    EXPECT_GT(text.size(), 4u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
  }
}

TEST(ErrorTextTest, BufferHandling) {
  char small[10];
  EXPECT_EQ(FormatMessageA(kFlags, nullptr, ERROR_ACCESS_DENIED, 0, small, sizeof(small), nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char exact[20];  // 17 characters, CR LF and the zero
  EXPECT_EQ(FormatMessageA(kFlags, nullptr, ERROR_ACCESS_DENIED, 0, exact, sizeof(exact), nullptr),
            19u);

  char* allocated = nullptr;
  const DWORD length =
      FormatMessageA(kFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_ACCESS_DENIED, 0,
                     reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(std::string(allocated, length), "Access is denied.\r\n");
  EXPECT_EQ(LocalFree(allocated), nullptr);

  char buffer[64];
  EXPECT_EQ(FormatMessageA(kFlags, nullptr, 0xE0001234, 0, buffer, sizeof(buffer), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

}  // namespace
