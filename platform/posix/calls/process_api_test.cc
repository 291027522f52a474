// Tests of starting programs and waiting for them.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/windows_api.h"
#include "tests/support/process_runner.h"

namespace {

// Starts `file` with `parameters` in `directory`; the process handle, or
// nullptr when ShellExecuteExA refused.
HANDLE Start(const char* file, const char* parameters, const char* directory = nullptr,
             const char* verb = "open") {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = verb;
  info.lpFile = file;
  info.lpParameters = parameters;
  info.lpDirectory = directory;
  info.nShow = SW_SHOWDEFAULT;
  if (!ShellExecuteExA(&info)) return nullptr;
  return info.hProcess;
}

DWORD WaitForExitCode(HANDLE process) {
  EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
  DWORD code = 12345;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_TRUE(CloseHandle(process));
  return code;
}

TEST(ProcessApiTest, ReportsTheExitCodeOfTheEndedProgram) {
  HANDLE ok = Start("true", "");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(WaitForExitCode(ok), 0u);
  HANDLE failed = Start("false", nullptr);
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(WaitForExitCode(failed), 1u);
  HANDLE killed = Start("sh", "-c \"kill -9 $$\"");
  ASSERT_NE(killed, nullptr);
  EXPECT_EQ(WaitForExitCode(killed), 128u + 9u);
}

TEST(ProcessApiTest, SplitsParametersByTheWindowsRuleAndStartsInTheDirectory) {
  orvik::test::TempDir dir;
  HANDLE process = Start("touch", "\"a b\" c\\ \"d\"\"e\" f\\\"g", dir.path().c_str());
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForExitCode(process), 0u);
  for (const char* name : {"a b", "c\\", "d\"e", "f\"g"}) {
    EXPECT_EQ(orvik::test::ReadFileBytes(dir.File(name)), "") << name;
  }
}

TEST(ProcessApiTest, WaitsWithATimeLimit) {
  HANDLE process = Start("sleep", "0.3");
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForExitCode(process), 0u);
}

TEST(ProcessApiTest, RefusesWhatItCannotStart) {
  EXPECT_EQ(Start("/nonexistent/program", ""), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Start("true", "", nullptr, "print"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x4), INFINITE), WAIT_FAILED);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeProcess(reinterpret_cast<HANDLE>(0x4), &code));
}

}  // namespace
