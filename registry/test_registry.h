// Test helpers: a registry in a temporary directory for the whole test
// program, and a fresh key per test under HKEY_CURRENT_USER\Software.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/process_runner.h"

namespace orvik::test {

// Points the process at a registry in a temporary directory, once, before
// the first registry call. The directory goes away when the program ends.
inline void UseTemporaryRegistry() {
  static TempDir* const dir = [] {
    static TempDir temp;
    setenv("ORVIK_REGISTRY", temp.path().c_str(), 1);
    return &temp;
  }();
  (void)dir;
}

// A key of its own for each test: HKCU\Software\<suite>.<test>, created empty.
class ScratchKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTemporaryRegistry();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    key_path_ = std::string("Software\\") + info->test_suite_name() + "." + info->name();
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_path_.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
  }

  // Writes a value byte for byte (string types as ANSI bytes).
  void SetValue(const std::string& name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(
        RegSetValueExA(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS)
        << name;
  }

  // Creates a key below the scratch key (path relative to it).
  void CreateSubKey(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(key_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    RegCloseKey(key);
  }

  bool SubKeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(key_, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  // The scratch key's path under HKEY_CURRENT_USER.
  const std::string& KeyPath() const { return key_path_; }
  HKEY Key() const { return key_; }

 private:
  std::string key_path_;
  HKEY key_ = nullptr;
};

}  // namespace orvik::test
