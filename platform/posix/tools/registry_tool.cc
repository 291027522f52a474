// A small program over the registry calls, for tests that need another
// process or another user, and for the benchmark. One command per run:
//
//   open <key> <access>            prints the result code of RegOpenKeyExA
//   create <key> <access>          prints the result code of RegCreateKeyExA
//   set <key> <name> <text>        prints the result code of RegSetValueExA (REG_SZ)
//   delete-key <key>               prints the result code of RegDeleteKeyA
//   list <key>                     prints subkey names, then "name=data" per value
//   read <key> <name>              prints the value's data
//   write-many <key> <prefix> <n>  sets values <prefix><i> = "<prefix>:<i>", one call each
//   crash-writer <key> <n> <ms>    sets values v<i>, printing i after each, killed after <ms>
//   create-many <key> <prefix> <n> <ms>
//                                  creates subkeys <prefix><i>, one call each, <ms> apart
//
// <key> is ROOT\path with ROOT one of HKCR, HKCU, HKLM, HKU, HKCC. A first
// argument --per-run commits the run's changes as one transaction at its end.
// With no command it does nothing (the benchmark's reference run).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/posix/handles/registry_session.h"
#include "platform/posix/windows_api.h"

namespace {

bool SplitKey(const std::string& full, HKEY* root, std::string* path) {
  const size_t slash = full.find('\\');
  const std::string name = full.substr(0, slash);
  *path = slash == std::string::npos ? "" : full.substr(slash + 1);
  if (name == "HKCR")
    *root = HKEY_CLASSES_ROOT;
  else if (name == "HKCU")
    *root = HKEY_CURRENT_USER;
  else if (name == "HKLM")
    *root = HKEY_LOCAL_MACHINE;
  else if (name == "HKU")
    *root = HKEY_USERS;
  else if (name == "HKCC")
    *root = HKEY_CURRENT_CONFIG;
  else
    return false;
  return true;
}

int PrintCode(LONG rc) {
  std::printf("%ld\n", static_cast<long>(rc));
  return rc == ERROR_SUCCESS ? 0 : 1;
}

LONG OpenKey(const std::string& full, REGSAM access, HKEY* key) {
  HKEY root = nullptr;
  std::string path;
  if (!SplitKey(full, &root, &path)) return ERROR_BAD_PATHNAME;
  return RegOpenKeyExA(root, path.c_str(), 0, access, key);
}

LONG CreateKey(const std::string& full, REGSAM access, HKEY* key) {
  HKEY root = nullptr;
  std::string path;
  if (!SplitKey(full, &root, &path)) return ERROR_BAD_PATHNAME;
  return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, key, nullptr);
}

LONG SetText(HKEY key, const std::string& name, const std::string& text) {
  return RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

REGSAM Access(const char* text) { return static_cast<REGSAM>(std::strtoul(text, nullptr, 0)); }

int List(const std::string& full) {
  HKEY key = nullptr;
  if (LONG rc = OpenKey(full, KEY_READ, &key); rc != ERROR_SUCCESS) return PrintCode(rc);
  DWORD subkeys = 0, values = 0, max_subkey = 0, max_name = 0, max_data = 0;
  if (LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr,
                                 &values, &max_name, &max_data, nullptr, nullptr);
      rc != ERROR_SUCCESS) {
    return PrintCode(rc);
  }
  std::string name(std::max(max_subkey, max_name) + 1, '\0');
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    if (LONG rc = RegEnumKeyExA(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        rc != ERROR_SUCCESS) {
      return PrintCode(rc);
    }
    std::printf("%s\n", name.c_str());
  }
  std::string data(max_data, '\0');
  for (DWORD i = 0; i < values; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    DWORD size = max_data;
    if (LONG rc = RegEnumValueA(key, i, name.data(), &length, nullptr, nullptr,
                                reinterpret_cast<BYTE*>(data.data()), &size);
        rc != ERROR_SUCCESS) {
      return PrintCode(rc);
    }
    std::printf("%s=%s\n", name.c_str(), std::string(data.data(), size).c_str());
  }
  return RegCloseKey(key) == ERROR_SUCCESS ? 0 : 1;
}

int Read(const std::string& full, const std::string& name) {
  HKEY key = nullptr;
  if (LONG rc = OpenKey(full, KEY_READ, &key); rc != ERROR_SUCCESS) return PrintCode(rc);
  char data[4096];
  DWORD size = sizeof(data);
  if (LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                                 &size);
      rc != ERROR_SUCCESS) {
    return PrintCode(rc);
  }
  std::fwrite(data, 1, size, stdout);
  std::printf("\n");
  RegCloseKey(key);
  return 0;
}

int WriteMany(const std::string& full, const std::string& prefix, int count) {
  HKEY key = nullptr;
  if (LONG rc = CreateKey(full, KEY_ALL_ACCESS, &key); rc != ERROR_SUCCESS) return PrintCode(rc);
  for (int i = 0; i < count; ++i) {
    const std::string index = std::to_string(i);
    if (LONG rc = SetText(key, prefix + index, prefix + ":" + index); rc != ERROR_SUCCESS) {
      return PrintCode(rc);
    }
  }
  RegCloseKey(key);
  return PrintCode(ERROR_SUCCESS);
}

int CreateMany(const std::string& full, const std::string& prefix, int count, int pause_ms) {
  HKEY key = nullptr;
  if (LONG rc = CreateKey(full, KEY_ALL_ACCESS, &key); rc != ERROR_SUCCESS) return PrintCode(rc);
  for (int i = 0; i < count; ++i) {
    if (i > 0 && pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    HKEY child = nullptr;
    const std::string name = prefix + std::to_string(i);
    if (LONG rc = RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                                  nullptr);
        rc != ERROR_SUCCESS) {
      return PrintCode(rc);
    }
    RegCloseKey(child);
  }
  RegCloseKey(key);
  return PrintCode(ERROR_SUCCESS);
}

int CrashWriter(const std::string& full, int count, int kill_after_ms) {
  HKEY key = nullptr;
  if (LONG rc = CreateKey(full, KEY_ALL_ACCESS, &key); rc != ERROR_SUCCESS) return PrintCode(rc);
  std::thread([kill_after_ms] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms));
    kill(getpid(), SIGKILL);
  }).detach();
  for (int i = 0; i < count; ++i) {
    const std::string index = std::to_string(i);
    if (LONG rc =
            SetText(key, "v" + index, std::string(static_cast<size_t>(100 + i % 200), 'x') + index);
        rc != ERROR_SUCCESS) {
      return PrintCode(rc);
    }
    // Reported only once the call returned: everything reported is committed.
    const std::string line = index + "\n";
    if (write(1, line.data(), line.size()) < 0) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--per-run") {
    orvik::posix::SetCommitPolicy(orvik::posix::CommitPolicy::kPerRun);
    --argc;
    ++argv;
  }
  if (argc < 2) return 0;
  const std::string command = argv[1];
  auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
  HKEY key = nullptr;
  if (command == "open" && argc == 4) {
    const LONG rc = OpenKey(arg(2), Access(argv[3]), &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return PrintCode(rc);
  }
  if (command == "create" && argc == 4) {
    const LONG rc = CreateKey(arg(2), Access(argv[3]), &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return PrintCode(rc);
  }
  if (command == "set" && argc == 5) {
    LONG rc = OpenKey(arg(2), KEY_SET_VALUE, &key);
    if (rc == ERROR_SUCCESS) rc = SetText(key, arg(3), arg(4));
    return PrintCode(rc);
  }
  if (command == "delete-key" && argc == 3) {
    HKEY root = nullptr;
    std::string path;
    if (!SplitKey(arg(2), &root, &path)) return PrintCode(ERROR_BAD_PATHNAME);
    return PrintCode(RegDeleteKeyA(root, path.c_str()));
  }
  if (command == "list" && argc == 3) return List(arg(2));
  if (command == "read" && argc == 4) return Read(arg(2), arg(3));
  if (command == "write-many" && argc == 5) return WriteMany(arg(2), arg(3), std::atoi(argv[4]));
  if (command == "create-many" && argc == 6) {
    return CreateMany(arg(2), arg(3), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  if (command == "crash-writer" && argc == 5) {
    return CrashWriter(arg(2), std::atoi(argv[3]), std::atoi(argv[4]));
  }
  std::fprintf(stderr, "unknown command\n");
  return 2;
}
