// The rooms of the POSIX platform and what each may include, read from the
// #include lines of the source tree: the store knows nothing of handles,
// loaded hives, calls or the hive codec; the hive codec knows only the
// vocabulary; nothing outside platform/ includes platform/posix/ but the
// files named below. A file in a new folder of platform/posix/ has no room
// until the table names one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {
namespace {

enum class Room {
  kVocabulary,    // platform/posix/ itself
  kHive,          // platform/posix/hive/
  kHiveTesting,   // platform/posix/hive/testing/
  kStore,         // platform/posix/store/
  kLoaded,        // platform/posix/loaded/
  kHandles,       // platform/posix/handles/
  kCalls,         // platform/posix/calls/
  kTesting,       // platform/posix/testing/
  kTools,         // platform/posix/tools/
  kPlatform,      // platform/ itself
  kPosixVariant,  // platform/*_posix.cc
  kTests,         // tests of every unit, tests/, bench/
  kAbove,         // app/, manip/, export/, registry/, regedit/
  kUnknown,       // a folder of platform/posix/ that has no room yet
};

struct Rule {
  Room room;
  const char* name;
  std::initializer_list<Room> may_include;  // besides its own room
};

constexpr std::initializer_list<Room> kAnyRoom = {
    Room::kVocabulary, Room::kHive,     Room::kHiveTesting, Room::kStore,
    Room::kLoaded,     Room::kHandles,  Room::kCalls,       Room::kTesting,
    Room::kTools,      Room::kPlatform, Room::kTests,       Room::kAbove};

const Rule kRules[] = {
    {Room::kVocabulary, "the vocabulary (platform/posix/)", {}},
    {Room::kHive, "the hive codec (hive/)", {Room::kVocabulary}},
    {Room::kHiveTesting,
     "the hive views of tests (hive/testing/)",
     {Room::kVocabulary, Room::kHive, Room::kTests}},
    {Room::kStore, "the store (store/)", {Room::kVocabulary}},
    {Room::kLoaded, "the loaded hives (loaded/)", {Room::kVocabulary, Room::kHive, Room::kStore}},
    {Room::kHandles, "the handles (handles/)", {Room::kVocabulary, Room::kStore, Room::kLoaded}},
    {Room::kCalls,
     "the calls (calls/)",
     {Room::kVocabulary, Room::kHive, Room::kStore, Room::kLoaded, Room::kHandles,
      Room::kPlatform}},
    {Room::kTesting,
     "the test fixture (testing/)",
     {Room::kVocabulary, Room::kStore, Room::kLoaded, Room::kHandles, Room::kPlatform,
      Room::kTests}},
    {Room::kTools,
     "the test tools (tools/)",
     {Room::kVocabulary, Room::kHive, Room::kStore, Room::kLoaded, Room::kHandles, Room::kCalls,
      Room::kPlatform}},
    {Room::kPlatform, "the platform's own files (platform/)", {}},
    {Room::kPosixVariant,
     "a POSIX variant (platform/*_posix.cc)",
     {Room::kPlatform, Room::kVocabulary, Room::kHandles}},
    {Room::kTests, "a test or benchmark", kAnyRoom},
    {Room::kAbove, "the code above the platform", {Room::kPlatform, Room::kTests}},
    {Room::kUnknown, "a folder of platform/posix/ without a room", {}},
};

// Files that reach into the POSIX platform by need: platform.h, through
// which the rest of Orvik reaches the platform, declares the Windows API
// there; the registry editor, which exists on POSIX only, keeps a whole
// import in one transaction of the store and refuses data larger than the
// store holds.
struct Exception {
  const char* file;
  const char* header;
};
const Exception kExceptions[] = {
    {"platform/platform.h", "platform/posix/windows_api.h"},
    {"regedit/main.cc", "platform/posix/handles/registry_transaction.h"},
    {"regedit/reg_import.cc", "platform/posix/handles/registry_transaction.h"},
    {"regedit/reg_file_parser.h", "platform/posix/key_path.h"},
};

// The room of a file or header by its path from the source root.
Room RoomOf(std::string_view path) {
  const auto in = [&](std::string_view folder) { return path.starts_with(folder); };
  const auto name = path.substr(path.rfind('/') + 1);
  if (name.ends_with("_test.cc") || in("tests/") || in("bench/")) return Room::kTests;
  if (!in("platform/")) return Room::kAbove;
  if (!in("platform/posix/")) {
    return name.ends_with("_posix.cc") ? Room::kPosixVariant : Room::kPlatform;
  }
  const struct {
    std::string_view folder;
    Room room;
  } kFolders[] = {
      {"platform/posix/hive/testing/", Room::kHiveTesting},
      {"platform/posix/hive/", Room::kHive},
      {"platform/posix/store/", Room::kStore},
      {"platform/posix/loaded/", Room::kLoaded},
      {"platform/posix/handles/", Room::kHandles},
      {"platform/posix/calls/", Room::kCalls},
      {"platform/posix/testing/", Room::kTesting},
      {"platform/posix/tools/", Room::kTools},
  };
  for (const auto& folder : kFolders) {
    if (in(folder.folder)) return folder.room;
  }
  return path.find('/', std::string_view("platform/posix/").size()) == std::string_view::npos
             ? Room::kVocabulary
             : Room::kUnknown;
}

const Rule& RuleOf(Room room) {
  for (const Rule& rule : kRules) {
    if (rule.room == room) return rule;
  }
  return kRules[std::size(kRules) - 1];
}

// Why `file` may not include `header`, or empty when it may.
std::string Refusal(const std::string& file, const std::string& header) {
  for (const Exception& exception : kExceptions) {
    if (file == exception.file && header == exception.header) return "";
  }
  const Room from = RoomOf(file);
  const Room to = RoomOf(header);
  const Rule& rule = RuleOf(from);
  if (from == Room::kUnknown) return std::string(rule.name) + " may include nothing";
  if (to == Room::kUnknown) return header + " lies in " + RuleOf(to).name;
  if (to == from) return "";
  for (const Room allowed : rule.may_include) {
    if (allowed == to) return "";
  }
  return std::string(rule.name) + " may not include " + RuleOf(to).name;
}

// The quoted includes of a file.
std::vector<std::string> IncludesOf(const std::filesystem::path& file) {
  static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
  std::vector<std::string> includes;
  std::ifstream in(file);
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (std::regex_search(line, match, kInclude)) includes.push_back(match[1]);
  }
  return includes;
}

TEST(IncludeRulesTest, TheRoomsTellWhatTheirFilesMayInclude) {
  struct Case {
    const char* file;
    const char* header;
    bool allowed;
  };
  const Case cases[] = {
      {"platform/posix/store/sqlite_store.cc", "platform/posix/tree.h", true},
      {"platform/posix/store/sqlite_store.cc", "platform/posix/handles/key_step.h", false},
      {"platform/posix/store/sqlite_store.cc", "platform/posix/hive/hive_reader.h", false},
      {"platform/posix/store/sqlite_store.cc", "platform/posix/loaded/registry_tree.h", false},
      {"platform/posix/hive/hive_log.cc", "platform/posix/codepage.h", true},
      {"platform/posix/hive/hive_log.cc", "platform/posix/hive/hive_format.h", true},
      {"platform/posix/hive/hive_reader.cc", "platform/posix/store/sqlite_store.h", false},
      {"platform/posix/hive/hive_reader.cc", "platform/posix/hive/testing/hive_views.h", false},
      {"platform/posix/codepage.cc", "platform/posix/calls/token.h", false},
      {"platform/posix/loaded/registry_tree.cc", "platform/posix/handles/key_step.h", false},
      {"platform/posix/calls/reg_keys.cc", "platform/posix/handles/key_step.h", true},
      {"platform/posix/calls/reg_keys.cc", "platform/posix/testing/registry_fixture.h", false},
      {"platform/posix/newroom/thing.cc", "platform/posix/tree.h", false},
      {"platform/posix/calls/reg_keys.cc", "platform/posix/newroom/thing.h", false},
      {"platform/change_group_posix.cc", "platform/posix/handles/registry_session.h", true},
      {"platform/file_exists.cc", "platform/posix/file_sync.h", false},
      {"platform/platform.h", "platform/posix/windows_api.h", true},
      {"manip/load_engine.cc", "platform/file_exists.h", true},
      {"manip/load_engine.cc", "platform/posix/calls/token.h", false},
      {"regedit/reg_apply.cc", "platform/posix/handles/registry_transaction.h", false},
      {"regedit/reg_import.cc", "platform/posix/handles/registry_transaction.h", true},
      {"regedit/reg_import.cc", "platform/posix/handles/registry_session.h", false},
      {"manip/privilege_test.cc", "platform/posix/calls/token.h", true},
      {"bench/registry_bench.cc", "platform/posix/handles/registry_session.h", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Refusal(c.file, c.header).empty(), c.allowed) << c.file << " -> " << c.header;
  }
}

TEST(IncludeRulesTest, EveryIncludeOfTheSourceTreeKeepsToTheRooms) {
  const std::filesystem::path root = ORVIK_SOURCE_DIR;
  int files = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory()) {
      if (name.starts_with(".") || name.starts_with("build")) it.disable_recursion_pending();
      continue;
    }
    if (!name.ends_with(".cc") && !name.ends_with(".h")) continue;
    const std::string file = std::filesystem::relative(it->path(), root).generic_string();
    ++files;
    for (const std::string& header : IncludesOf(it->path())) {
      const std::string refusal = Refusal(file, header);
      if (!refusal.empty()) ADD_FAILURE() << file << " includes " << header << ": " << refusal;
    }
  }
  EXPECT_GT(files, 100) << "the source tree at " << root;
}

}  // namespace
}  // namespace orvik
