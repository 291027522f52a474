// orvik-rawreg: a test tool that writes and reads registry values byte for
// byte through the platform calls, for the values the command line cannot
// make or show (any type code, data of any length, strings without NUL).
//
//   orvik-rawreg set  KEY NAME TYPE HEX   stored form (strings as UTF-16LE)
//   orvik-rawreg seta KEY NAME TYPE HEX   ANSI form, converted by the platform
//   orvik-rawreg get  KEY NAME            prints "TYPE HEX" of the stored form
//   orvik-rawreg geta KEY NAME            prints "TYPE HEX" of the ANSI form
//
// KEY is a full key name such as HKCU\Software\Test (created when missing);
// an empty NAME is the unnamed value; TYPE is decimal. The exit code is 0 or
// the platform's error code.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

struct RootName {
  const char* name;
  HKEY key;
};

HKEY SplitRoot(const std::string& full, std::string& path) {
  const RootName roots[] = {
      {"HKCR", HKEY_CLASSES_ROOT},   {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKCU", HKEY_CURRENT_USER},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKLM", HKEY_LOCAL_MACHINE},  {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKU", HKEY_USERS},           {"HKEY_USERS", HKEY_USERS},
      {"HKCC", HKEY_CURRENT_CONFIG}, {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
  };
  const size_t slash = full.find('\\');
  std::string root = full.substr(0, slash);
  path = slash == std::string::npos ? std::string() : full.substr(slash + 1);
  for (char& c : root) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (const RootName& r : roots) {
    if (root == r.name) return r.key;
  }
  return nullptr;
}

bool HexToBytes(const std::string& hex, std::vector<BYTE>& bytes) {
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1) return false;
    bytes.push_back(static_cast<BYTE>(value));
  }
  return true;
}

std::u16string Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<LPWSTR>(wide.data()), n);
  return wide;
}

void PrintValue(DWORD type, const std::vector<BYTE>& data) {
  std::printf("%lu ", static_cast<unsigned long>(type));
  for (BYTE b : data) std::printf("%02X", b);
  std::printf("\n");
}

int Usage() {
  std::fprintf(stderr, "usage: orvik-rawreg set|seta KEY NAME TYPE HEX | get|geta KEY NAME\n");
  return 87;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string command = argv[1];
  std::string path;
  const HKEY root = SplitRoot(argv[2], path);
  const std::string name = argv[3];
  if (root == nullptr) return Usage();
  const std::u16string wide_name = Widen(name);
  const bool ansi = command == "seta" || command == "geta";

  if (command == "set" || command == "seta") {
    std::vector<BYTE> data;
    if (argc != 6 || !HexToBytes(argv[5], data)) return Usage();
    const DWORD type = static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10));
    HKEY key = nullptr;
    LONG rc =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
    const BYTE* bytes = data.empty() ? nullptr : data.data();
    const DWORD size = static_cast<DWORD>(data.size());
    rc = ansi ? RegSetValueExA(key, name.c_str(), 0, type, bytes, size)
              : RegSetValueExW(key, reinterpret_cast<LPCWSTR>(wide_name.c_str()), 0, type, bytes,
                               size);
    RegCloseKey(key);
    return static_cast<int>(rc);
  }
  if (command == "get" || command == "geta") {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
    DWORD type = 0;
    DWORD size = 0;
    auto query = [&](BYTE* buffer) {
      return ansi ? RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer, &size)
                  : RegQueryValueExW(key, reinterpret_cast<LPCWSTR>(wide_name.c_str()), nullptr,
                                     &type, buffer, &size);
    };
    rc = query(nullptr);
    std::vector<BYTE> data(size);
    if (rc == ERROR_SUCCESS && size > 0) rc = query(data.data());
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return static_cast<int>(rc);
    data.resize(size);
    PrintValue(type, data);
    return 0;
  }
  return Usage();
}
