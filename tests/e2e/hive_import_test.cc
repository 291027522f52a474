// Files no one here wrote: each real hive exported by hivexregedit (a version
// 5 file) is imported with orvik-regedit, and every value stored must equal
// what hivex reads from the hive, type and bytes. Skipped when the hives or
// the tool are absent.
#include <gtest/gtest.h>
#include <hivex.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/posix/handles/registry_session.h"
#include "platform/posix/windows_api.h"
#include "tests/support/process_runner.h"

namespace orvik::test {
namespace {

constexpr char kExporter[] = "/usr/bin/hivexregedit";
constexpr char kPrefix[] = "Software\\Imported";

// The folder of the real hives: ORVIK_REAL_HIVES, else the first usual place
// that exists; empty when none does.
std::string HivesDir() {
  if (const char* env = std::getenv("ORVIK_REAL_HIVES"); env != nullptr) return env;
  std::string places = ORVIK_REAL_HIVES_DIRS;
  size_t start = 0;
  while (start <= places.size()) {
    const size_t end = std::min(places.find(':', start), places.size());
    const std::string dir = places.substr(start, end - start);
    if (!dir.empty() && std::filesystem::is_directory(dir)) return dir;
    start = end + 1;
  }
  return "";
}

std::u16string Wide(const std::string& ansi) {
  const int size =
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), size);
  return wide;
}

// Compares every value below `node` with the registry key `path` of HKCU.
class HiveComparer {
 public:
  explicit HiveComparer(hive_h* hive) : hive_(hive) {}

  void Compare(hive_node_h node, const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS)
        << path;
    hive_value_h* values = hivex_node_values(hive_, node);
    ASSERT_NE(values, nullptr) << path;
    for (size_t i = 0; values[i] != 0; ++i) {
      char* name = hivex_value_key(hive_, values[i]);
      // Hives hold type codes beyond the enumeration's, so the code is read
      // as the number it is.
      std::underlying_type_t<hive_type> type = 0;
      size_t length = 0;
      char* data =
          hivex_value_value(hive_, values[i], reinterpret_cast<hive_type*>(&type), &length);
      ASSERT_NE(data, nullptr);
      const std::u16string wide_name = Wide(name);
      DWORD stored_type = 0;
      DWORD size = 0;
      EXPECT_EQ(RegQueryValueExW(key, wide_name.c_str(), nullptr, &stored_type, nullptr, &size),
                ERROR_SUCCESS)
          << path << " " << name;
      std::string stored(size, '\0');
      RegQueryValueExW(key, wide_name.c_str(), nullptr, &stored_type,
                       reinterpret_cast<BYTE*>(stored.data()), &size);
      EXPECT_EQ(stored_type, static_cast<DWORD>(type)) << path << " " << name;
      EXPECT_EQ(stored, std::string(data, length)) << path << " " << name;
      ++compared_;
      std::free(name);
      std::free(data);
    }
    std::free(values);
    RegCloseKey(key);
    hive_node_h* children = hivex_node_children(hive_, node);
    ASSERT_NE(children, nullptr) << path;
    for (size_t i = 0; children[i] != 0; ++i) {
      char* name = hivex_node_name(hive_, children[i]);
      Compare(children[i], path + "\\" + name);
      std::free(name);
    }
    std::free(children);
  }

  size_t compared() const { return compared_; }

 private:
  hive_h* hive_;
  size_t compared_ = 0;
};

TEST(HiveImportTest, ImportsTheExportOfEveryRealHiveValueForValue) {
  const std::string hives = HivesDir();
  if (hives.empty() || access(kExporter, X_OK) != 0) {
    GTEST_SKIP() << "no real hives or no hivexregedit";
  }
  for (const char* name : {"NTUSER.DAT", "UsrClass.dat", "SYSTEM", "SAM", "BCD", "amcache.hve"}) {
    SCOPED_TRACE(name);
    const std::string packed = hives + "/" + name + ".xz";
    if (!std::filesystem::exists(packed)) continue;
    TempDir dir;
    const ProcessResult unpacked = RunProgram("/usr/bin/xz", {"-dc", packed});
    ASSERT_EQ(unpacked.exit_code, 0);
    WriteFileBytes(dir.File("hive"), unpacked.out);
    const ProcessResult exported =
        RunProgram(kExporter, {"--export", "--prefix", std::string("HKEY_CURRENT_USER\\") + kPrefix,
                               dir.File("hive"), "\\"});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    WriteFileBytes(dir.File("hive.reg"), exported.out);

    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", dir.File("registry")}};
    const ProcessResult imported = RunProgram(RegeditPath(), {dir.File("hive.reg")}, options);
    ASSERT_EQ(imported.exit_code, 0) << imported.err;

    orvik::posix::CloseRegistryStore();
    setenv("ORVIK_REGISTRY", dir.File("registry").c_str(), 1);
    hive_h* hive = hivex_open(dir.File("hive").c_str(), 0);
    ASSERT_NE(hive, nullptr);
    HiveComparer comparer(hive);
    comparer.Compare(hivex_root(hive), kPrefix);
    EXPECT_GT(comparer.compared(), 0u);
    hivex_close(hive);
    orvik::posix::CloseRegistryStore();
  }
}

}  // namespace
}  // namespace orvik::test
