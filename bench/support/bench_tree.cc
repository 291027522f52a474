// Builds the benchmarks' test trees in the registry through the platform
// calls, in this process or in a child process of their own.
#include "bench/support/bench_tree.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace orvik::bench {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Check(LONG result, const char* what) {
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "%s failed with %ld\n", what, static_cast<long>(result));
    std::exit(1);
  }
}

void SetValue(HKEY key, const std::string& name, DWORD type, const std::string& data) {
  Check(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size())),
        "RegSetValueExA");
}

void FillLeaf(HKEY key, Tree& tree, long serial) {
  for (int i = 0; i < tree.values_per_leaf; ++i) {
    const std::string name = "Value" + std::to_string(i);
    const std::string number = std::to_string(serial * 100 + i);
    switch (i % 5) {
      case 0:
        SetValue(key, name, REG_SZ, tree.text + number + std::string(1, '\0'));
        break;
      case 1: {
        const auto n = static_cast<uint32_t>(serial * 100 + i);
        SetValue(key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&n), 4));
        break;
      }
      case 2:
        SetValue(key, name, REG_BINARY,
                 std::string(tree.binary_bytes, static_cast<char>(i)) + number);
        break;
      case 3:
        SetValue(key, name, REG_MULTI_SZ,
                 "first" + std::string(1, '\0') + number + std::string(2, '\0'));
        break;
      default:
        SetValue(key, name, REG_EXPAND_SZ, "%SystemRoot%\\dir" + number + std::string(1, '\0'));
        break;
    }
    ++tree.values;
  }
}

namespace {

void Build(HKEY parent, Tree& tree, size_t level, long& serial) {
  for (int child = 0; child < tree.fanouts[level]; ++child) {
    HKEY key = nullptr;
    const std::string name = "Key" + std::to_string(child);
    Check(RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr),
          "RegCreateKeyExA");
    ++tree.keys;
    if (level + 1 == tree.fanouts.size()) {
      FillLeaf(key, tree, serial++);
    } else {
      Build(key, tree, level + 1, serial);
    }
    RegCloseKey(key);
  }
}

}  // namespace

double BuildTree(Tree& tree) {
  const Clock::time_point start = Clock::now();
  HKEY top = nullptr;
  Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tree.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &top, nullptr),
        "RegCreateKeyExA");
  ++tree.keys;
  long serial = 0;
  Build(top, tree, 0, serial);
  RegCloseKey(top);
  return Seconds(Clock::now() - start);
}

std::string DeepestKey(const Tree& tree) {
  std::string path = tree.key;
  for (const int fanout : tree.fanouts) path += "\\Key" + std::to_string(fanout - 1);
  return path;
}

bool BuildTreesApart(Tree& small, Tree& large, const std::function<void(Tree&, Tree&)>& build) {
  int report[2];
  if (pipe(report) != 0) return false;
  const pid_t builder = fork();
  if (builder == 0) {
    close(report[0]);
    build(small, large);
    std::fflush(stdout);
    const long counts[4] = {small.keys, small.values, large.keys, large.values};
    const bool sent =
        write(report[1], counts, sizeof counts) == static_cast<ssize_t>(sizeof counts);
    _exit(sent ? 0 : 1);
  }
  close(report[1]);
  long counts[4] = {};
  const ssize_t got = read(report[0], counts, sizeof counts);
  close(report[0]);
  int status = 0;
  waitpid(builder, &status, 0);
  if (got != static_cast<ssize_t>(sizeof counts)) return false;
  small.keys = counts[0];
  small.values = counts[1];
  large.keys = counts[2];
  large.values = counts[3];
  return true;
}

}  // namespace orvik::bench
