// Test fixture: every test gets a fresh registry in a temporary directory,
// and helpers that keep the tests short.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/handles/registry_session.h"
#include "platform/posix/windows_api.h"
#include "tests/support/process_runner.h"

namespace orvik::posix {

// Enables or disables a privilege the way the engines do.
inline BOOL SetPrivilege(const char* name, bool enable, DWORD* last_error = nullptr) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return FALSE;
  }
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  BOOL ok = LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (ok) ok = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  if (last_error != nullptr) *last_error = GetLastError();
  CloseHandle(token);
  return ok;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseRegistryStore();
    setenv("ORVIK_REGISTRY", RegistryDir().c_str(), 1);
  }
  void TearDown() override {
    CloseRegistryStore();
    SetCommitPolicy(CommitPolicy::kPerCall);
  }

  std::string RegistryDir() const { return temp_.File("registry"); }

  // Creates (or opens) a key with full access; fails the test otherwise.
  HKEY Create(HKEY base, const std::string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(base, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS)
        << path;
    return key;
  }
  LONG Open(HKEY base, const std::string& path, REGSAM access, HKEY* key) {
    return RegOpenKeyExA(base, path.c_str(), 0, access, key);
  }
  void SetString(HKEY key, const std::string& name, const std::string& text, DWORD type = REG_SZ) {
    ASSERT_EQ(
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)),
        ERROR_SUCCESS);
  }
  void SetBytes(HKEY key, const std::string& name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
  }
  // The value's bytes as RegQueryValueExA returns them ("<error N>" on failure).
  std::string Get(HKEY key, const std::string& name, DWORD* type = nullptr) {
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
    std::string data(size, '\0');
    rc = RegQueryValueExA(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(data.data()),
                          &size);
    if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
    data.resize(size);
    return data;
  }
  std::vector<std::string> SubKeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[1024];
      DWORD length = sizeof(name);
      const LONG rc = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }
  std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[20000];
      DWORD length = sizeof(name);
      const LONG rc = RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }

 private:
  orvik::test::TempDir temp_;
};

}  // namespace orvik::posix
