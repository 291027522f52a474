// A store written in the first layout (values in a rowid table with two
// indexes), with or without the application id: a reader who may not write
// reads it as it is, and the first writer converts it once, keeping every
// key, value, order, id and time.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/store/store_location.h"
#include "platform/posix/testing/registry_fixture.h"

namespace orvik::posix {
namespace {

using orvik::test::ProcessResult;
using orvik::test::RunOptions;
using orvik::test::RunProgram;

constexpr const char* kFirstLayout = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, folded BLOB NOT NULL,
  name BLOB NOT NULL, name_ansi INTEGER NOT NULL, class BLOB, class_ansi INTEGER NOT NULL,
  security BLOB, last_write INTEGER NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, folded);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY, key INTEGER NOT NULL, folded BLOB NOT NULL, name BLOB NOT NULL,
  name_ansi INTEGER NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,
  fit_size INTEGER NOT NULL);
CREATE UNIQUE INDEX vals_by_name ON vals(key, folded);
CREATE INDEX vals_by_key ON vals(key);
PRAGMA user_version=1;
)sql";

constexpr int64_t kOldTime = 130000000000000000;

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

std::string FoldedBe(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {'\0', static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c)};
  return out;
}

// ASCII text as REG_SZ data stored: UTF-16LE with its terminator.
std::string StoredText(const std::string& ascii) { return Utf16Le(ascii) + std::string(2, '\0'); }

struct OldKey {
  int64_t id;
  int64_t parent;
  const char* name;
  const char* class_name;  // nullptr: none
};

struct OldValue {
  int64_t id;
  int64_t key;
  const char* name;
  DWORD type;
  std::string text;
};

const std::string kLongText(600, 'm');  // more than a listing carries along

// Ids and creation order differ from the order of the names, and one key's
// values lie between another's.
const std::vector<OldValue>& OldValues() {
  static const std::vector<OldValue> values = {
      {17, 12, "Zeta", REG_SZ, "last by name"},
      {40, 12, "alpha", REG_EXPAND_SZ, "%PATH%"},
      {50, 13, "x", REG_SZ, "other"},
      {95, 12, "Mid", REG_SZ, kLongText},
  };
  return values;
}

class SchemaUpgradeTest : public RegistryTest {
 protected:
  // Writes the first layout's store into the registry directory.
  void WriteFirstLayout(int64_t application_id) {
    std::filesystem::create_directory(RegistryDir());
    chmod(RegistryDir().c_str(), 0755);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(DatabasePath(RegistryDir()).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, kFirstLayout, nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string id = "PRAGMA application_id=" + std::to_string(application_id);
    ASSERT_EQ(sqlite3_exec(db, id.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    const OldKey keys[] = {
        {1, 0, "HKEY_CLASSES_ROOT", nullptr},
        {2, 0, "HKEY_CURRENT_USER", nullptr},
        {3, 0, "HKEY_LOCAL_MACHINE", nullptr},
        {4, 0, "HKEY_USERS", nullptr},
        {5, 0, "HKEY_CURRENT_CONFIG", nullptr},
        {6, 3, "SOFTWARE", nullptr},
        {7, 3, "SYSTEM", nullptr},
        {8, 2, "Software", nullptr},
        {9, 4, ".DEFAULT", nullptr},
        {12, 8, "Old", "cls"},
        {13, 8, "Other", nullptr},
    };
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO keys(id, parent, folded, name, name_ansi, class, "
                                 "class_ansi, security, last_write) VALUES(?,?,?,?,?,?,?,NULL,?)",
                                 -1, &insert, nullptr),
              SQLITE_OK);
    for (const OldKey& key : keys) {
      const std::string folded = FoldedBe(key.name);
      const std::string name = Utf16Le(key.name);
      const std::string class_name = key.class_name ? Utf16Le(key.class_name) : "";
      sqlite3_bind_int64(insert, 1, key.id);
      sqlite3_bind_int64(insert, 2, key.parent);
      sqlite3_bind_blob(insert, 3, folded.data(), static_cast<int>(folded.size()), nullptr);
      sqlite3_bind_blob(insert, 4, name.data(), static_cast<int>(name.size()), nullptr);
      sqlite3_bind_int64(insert, 5, static_cast<int64_t>(std::string(key.name).size()));
      if (key.class_name) {
        sqlite3_bind_blob(insert, 6, class_name.data(), static_cast<int>(class_name.size()),
                          nullptr);
      } else {
        sqlite3_bind_null(insert, 6);
      }
      sqlite3_bind_int64(insert, 7, key.class_name ? 3 : 0);
      sqlite3_bind_int64(insert, 8, kOldTime + key.id);
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO vals(id, key, folded, name, name_ansi, type, data, "
                                 "fit_size) VALUES(?,?,?,?,?,?,?,?)",
                                 -1, &insert, nullptr),
              SQLITE_OK);
    for (const OldValue& value : OldValues()) {
      const std::string folded = FoldedBe(value.name);
      const std::string name = Utf16Le(value.name);
      const std::string data = StoredText(value.text);
      sqlite3_bind_int64(insert, 1, value.id);
      sqlite3_bind_int64(insert, 2, value.key);
      sqlite3_bind_blob(insert, 3, folded.data(), static_cast<int>(folded.size()), nullptr);
      sqlite3_bind_blob(insert, 4, name.data(), static_cast<int>(name.size()), nullptr);
      sqlite3_bind_int64(insert, 5, static_cast<int64_t>(std::string(value.name).size()));
      sqlite3_bind_int64(insert, 6, value.type);
      sqlite3_bind_blob(insert, 7, data.data(), static_cast<int>(data.size()), nullptr);
      sqlite3_bind_int64(insert, 8, static_cast<int64_t>(data.size()));
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    // More values than the conversion moves in one batch, under "Other".
    ASSERT_EQ(
        sqlite3_exec(db,
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                     "WHERE i < 5000) INSERT INTO vals SELECT 1000 + i, 13, "
                     "CAST(printf('%08d', i) AS BLOB), CAST(printf('%08d', i) AS BLOB), 4, 3, "
                     "x'0100', 2 FROM n",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    // Keys up to 20 were made once, the last ones removed again.
    ASSERT_EQ(sqlite3_exec(db, "UPDATE sqlite_sequence SET seq=20 WHERE name='keys'", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    // As the store keeps them: the log and its index stay for readers who
    // may not create them.
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_close(db);
  }

  // The rows of one query, each as its columns joined by '|'.
  std::vector<std::string> Rows(const char* sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(DatabasePath(RegistryDir()).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_exec(
          db, sql,
          [](void* out, int columns, char** values, char**) {
            std::string row;
            for (int i = 0; i < columns; ++i) {
              row += (i > 0 ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
            }
            static_cast<std::vector<std::string>*>(out)->push_back(row);
            return 0;
          },
          &rows, nullptr);
    }
    sqlite3_close(db);
    return rows;
  }

  ProcessResult Tool(const std::vector<std::string>& args, bool as_nobody) {
    RunOptions options;
    options.env = {{"ORVIK_REGISTRY", RegistryDir()}};
    options.as_unprivileged_user = as_nobody;
    return RunProgram(orvik::test::BuildDir() + "/orvik-registry-tool", args, options);
  }
};

TEST_F(SchemaUpgradeTest, AStoreOfTheFirstLayoutIsConvertedOnceWithAllItHeld) {
  for (const int64_t application_id : {int64_t{0x4F52564B}, int64_t{0}}) {
    SCOPED_TRACE(application_id);
    CloseRegistryStore();
    std::filesystem::remove_all(RegistryDir());
    WriteFirstLayout(application_id);
    const std::string listing = "Zeta=last by name\nalpha=%PATH%\nMid=" + kLongText + "\n";
    if (orvik::test::CanRunUnprivileged()) {
      // A reader who may not write reads the store as it is.
      EXPECT_EQ(Tool({"list", "HKCU\\Software\\Old"}, true).out, listing);
      EXPECT_EQ(Rows("PRAGMA user_version"), std::vector<std::string>{"1"});
    }
    // The first writer converts it.
    EXPECT_EQ(Tool({"list", "HKCU\\Software\\Old"}, false).out, listing);
    EXPECT_EQ(Rows("PRAGMA user_version"), std::vector<std::string>{"2"});
    EXPECT_EQ(Rows("PRAGMA application_id"), std::vector<std::string>{"1330796107"});
    EXPECT_EQ(Rows("SELECT name, sql LIKE '%WITHOUT ROWID' FROM sqlite_schema WHERE tbl_name "
                   "LIKE 'vals%' ORDER BY name"),
              (std::vector<std::string>{"vals|1", "vals_by_id|0"}));
    EXPECT_EQ(Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_EQ(Rows("SELECT id, key, type, fit_size, length(data) FROM vals WHERE id < 1000 "
                   "ORDER BY id"),
              (std::vector<std::string>{"17|12|1|26|26", "40|12|2|14|14", "50|13|1|12|12",
                                        "95|12|1|1202|1202"}));
    EXPECT_EQ(Rows("SELECT count(*), sum(id), min(id), max(id) FROM vals WHERE key=13"),
              std::vector<std::string>{"5001|17502550|50|6000"});
    EXPECT_EQ(Rows("SELECT id, parent, class_ansi, last_write - 130000000000000000 FROM keys "
                   "WHERE id >= 12 ORDER BY id"),
              (std::vector<std::string>{"12|8|3|12", "13|8|0|13"}));

    // Through the calls: names, types, data, class name and time as they were.
    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Old", KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
    DWORD type = 0;
    EXPECT_EQ(Get(key, "ALPHA", &type), std::string("%PATH%\0", 7));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    char class_name[16] = {};
    DWORD class_length = sizeof(class_name);
    FILETIME time{};
    ASSERT_EQ(RegQueryInfoKeyA(key, class_name, &class_length, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, &time),
              ERROR_SUCCESS);
    EXPECT_STREQ(class_name, "cls");
    EXPECT_EQ((static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime,
              kOldTime + 12);
    // A new value comes last, with the next id; a new key's id is not one
    // that was used before.
    SetString(key, "New", "n");
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Zeta", "alpha", "Mid", "New"}));
    RegCloseKey(key);
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Fresh"));
    CloseRegistryStore();
    EXPECT_EQ(Rows("SELECT id, length(data) FROM vals WHERE key=12 ORDER BY id DESC LIMIT 1"),
              std::vector<std::string>{"6001|4"});
    EXPECT_EQ(Rows("SELECT max(id) FROM keys"), std::vector<std::string>{"21"});
  }
}

}  // namespace
}  // namespace orvik::posix
