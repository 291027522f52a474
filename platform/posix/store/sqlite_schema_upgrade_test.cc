// Stores of earlier versions: the first layout (values in a rowid table with
// two indexes), with or without the application id, and the second, whose
// names were folded by the C library's upper-casing. A reader who may not
// write reads them as they are, and the first writer converts them once,
// keeping every key, value, order, id and time.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/codepage.h"
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
    EXPECT_EQ(Rows("PRAGMA user_version"), std::vector<std::string>{"3"});
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

// The second layout, as version 2 made it.
constexpr const char* kSecondLayout = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, folded BLOB NOT NULL,
  name BLOB NOT NULL, name_ansi INTEGER NOT NULL, class BLOB, class_ansi INTEGER NOT NULL,
  security BLOB, last_write INTEGER NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, folded);
CREATE TABLE vals(
  key INTEGER NOT NULL, folded BLOB NOT NULL, id INTEGER NOT NULL, name BLOB NOT NULL,
  name_ansi INTEGER NOT NULL, type INTEGER NOT NULL, fit_size INTEGER NOT NULL,
  data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;
CREATE UNIQUE INDEX vals_by_id ON vals(id);
PRAGMA user_version=2;
PRAGMA application_id=1330796107;
)sql";

std::string Le(std::u16string_view text) { return WideToBytes(text); }

std::string Be(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) out += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
  return out;
}

// A key or value of version 2 with the folded form that version stored.
struct SecondKey {
  int64_t id;
  int64_t parent;
  std::u16string name;
  std::u16string folded;
};

struct SecondValue {
  int64_t id;
  int64_t key;
  std::u16string name;
  std::u16string folded;
  std::string text;
};

class SecondLayoutTest : public SchemaUpgradeTest {
 protected:
  void WriteSecondLayout() {
    std::filesystem::create_directory(RegistryDir());
    chmod(RegistryDir().c_str(), 0755);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(DatabasePath(RegistryDir()).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, kSecondLayout, nullptr, nullptr, nullptr), SQLITE_OK);
    const SecondKey keys[] = {
        {1, 0, u"HKEY_CLASSES_ROOT", u"HKEY_CLASSES_ROOT"},
        {2, 0, u"HKEY_CURRENT_USER", u"HKEY_CURRENT_USER"},
        {3, 0, u"HKEY_LOCAL_MACHINE", u"HKEY_LOCAL_MACHINE"},
        {4, 0, u"HKEY_USERS", u"HKEY_USERS"},
        {5, 0, u"HKEY_CURRENT_CONFIG", u"HKEY_CURRENT_CONFIG"},
        {6, 3, u"SOFTWARE", u"SOFTWARE"},
        {7, 3, u"SYSTEM", u"SYSTEM"},
        {8, 2, u"Software", u"SOFTWARE"},
        {9, 4, u".DEFAULT", u".DEFAULT"},
        {12, 8, u"\u0131x", u"IX"},               // dotless i, folded as I
        {13, 8, u"Stra\u00DFe", u"STRA\u00DFE"},  // the same either way
        {14, 8, u"\U00010428", u"\U00010400"},    // Deseret, folded beyond U+FFFF
        {15, 8, u"Twins", u"TWINS"},
        // Made where only ASCII letters folded: two names that are one now.
        {16, 15, u"\u00E9a", u"\u00E9A"},
        {17, 15, u"\u00C9A", u"\u00C9A"},
    };
    const SecondValue values[] = {
        {20, 12, u"\u00B5", u"\u039C", "micro"},  // micro sign, folded as capital mu
        {21, 12, u"\u017F", u"S", "long s"},     {22, 13, u"Wert", u"WERT", "w"},
        {23, 16, u"v", u"V", "small"},           {24, 17, u"v", u"V", "capital"},
    };
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db,
                           "INSERT INTO keys(id, parent, folded, name, name_ansi, class, "
                           "class_ansi, security, last_write) VALUES(?,?,?,?,?,NULL,0,NULL,?)",
                           -1, &insert, nullptr),
        SQLITE_OK);
    for (const SecondKey& key : keys) {
      const std::string folded = Be(key.folded);
      const std::string name = Le(key.name);
      sqlite3_bind_int64(insert, 1, key.id);
      sqlite3_bind_int64(insert, 2, key.parent);
      sqlite3_bind_blob(insert, 3, folded.data(), static_cast<int>(folded.size()), nullptr);
      sqlite3_bind_blob(insert, 4, name.data(), static_cast<int>(name.size()), nullptr);
      sqlite3_bind_int64(insert, 5, static_cast<int64_t>(WideToAnsi(key.name).size()));
      sqlite3_bind_int64(insert, 6, kOldTime + key.id);
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "INSERT INTO vals(key, folded, id, name, name_ansi, type, "
                                 "fit_size, data) VALUES(?,?,?,?,?,1,?,?)",
                                 -1, &insert, nullptr),
              SQLITE_OK);
    for (const SecondValue& value : values) {
      const std::string folded = Be(value.folded);
      const std::string name = Le(value.name);
      const std::string data = StoredText(value.text);
      sqlite3_bind_int64(insert, 1, value.key);
      sqlite3_bind_blob(insert, 2, folded.data(), static_cast<int>(folded.size()), nullptr);
      sqlite3_bind_int64(insert, 3, value.id);
      sqlite3_bind_blob(insert, 4, name.data(), static_cast<int>(name.size()), nullptr);
      sqlite3_bind_int64(insert, 5, static_cast<int64_t>(WideToAnsi(value.name).size()));
      sqlite3_bind_int64(insert, 6, static_cast<int64_t>(data.size()));
      sqlite3_bind_blob(insert, 7, data.data(), static_cast<int>(data.size()), nullptr);
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE sqlite_sequence SET seq=20 WHERE name='keys'", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    int persist = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_close(db);
  }
};

std::string Utf8(std::u16string_view text) { return WideToAnsi(text); }

TEST_F(SecondLayoutTest, NamesAreFoldedAnewAsWindowsFoldsThem) {
  WriteSecondLayout();
  const std::string listing = "\xC2\xB5=micro\n\xC5\xBF=long s\n";
  const std::string dotless = "HKCU\\Software\\" + Utf8(u"\u0131x");
  if (orvik::test::CanRunUnprivileged()) {
    // A reader who may not write reads the store as it is, and finds the
    // names whose folded form it may not renew by their names.
    EXPECT_EQ(Tool({"list", dotless}, true).out, listing);
    EXPECT_EQ(Tool({"read", dotless, "\xC2\xB5"}, true).out, std::string("micro\0\n", 7));
    EXPECT_EQ(Tool({"read", dotless, "S"}, true).out, "2\n");  // long s is no S
    EXPECT_EQ(Rows("PRAGMA user_version"), std::vector<std::string>{"2"});
  }
  // The first writer converts it.
  EXPECT_EQ(Tool({"list", dotless}, false).out, listing);
  EXPECT_EQ(Rows("PRAGMA user_version"), std::vector<std::string>{"3"});
  EXPECT_EQ(Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(Rows("SELECT id, parent, last_write - 130000000000000000 FROM keys WHERE id >= 12 "
                 "ORDER BY id"),
            (std::vector<std::string>{"12|8|12", "13|8|13", "14|8|14", "15|8|15", "16|15|16",
                                      "17|15|17"}));
  EXPECT_EQ(Rows("SELECT id, key FROM vals ORDER BY id"),
            (std::vector<std::string>{"20|12", "21|12", "22|13", "23|16", "24|17"}));

  // Keys: found by the names Windows takes as theirs, and no longer by the
  // names it keeps apart.
  const struct {
    std::u16string path;
    LONG expected;
  } opens[] = {
      {u"Software\\\u0131X", ERROR_SUCCESS},           {u"Software\\IX", ERROR_FILE_NOT_FOUND},
      {u"Software\\STRA\u00DFE", ERROR_SUCCESS},       {u"Software\\\U00010428", ERROR_SUCCESS},
      {u"Software\\\U00010400", ERROR_FILE_NOT_FOUND}, {u"Software\\Twins\\\u00C9a", ERROR_SUCCESS},
  };
  for (const auto& o : opens) {
    HKEY key = nullptr;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, Utf8(o.path), KEY_READ, &key), o.expected) << Utf8(o.path);
    if (key != nullptr) RegCloseKey(key);
  }
  // Values likewise; a name that was one with an old one is a value of its own.
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\" + Utf8(u"\u0131x"));
  EXPECT_EQ(Get(key, Utf8(u"\u00B5")), std::string("micro\0", 6));
  EXPECT_EQ(Get(key, Utf8(u"\u039C")), "<error 2>");
  EXPECT_EQ(Get(key, Utf8(u"\u017F")), std::string("long s\0", 7));
  EXPECT_EQ(Get(key, "S"), "<error 2>");
  SetString(key, Utf8(u"\u03BC"), "mu");
  EXPECT_EQ(ValueNames(key),
            (std::vector<std::string>{Utf8(u"\u00B5"), Utf8(u"\u017F"), Utf8(u"\u03BC")}));
  RegCloseKey(key);
  // Beside the dotless i, I is a key of its own.
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Ix"));
  HKEY software = Create(HKEY_CURRENT_USER, "Software");
  EXPECT_EQ(SubKeys(software),
            (std::vector<std::string>{"Ix",
                                      "Stra\xC3\x9F"
                                      "e",
                                      "Twins", Utf8(u"\u0131x"), Utf8(u"\U00010428")}));
  RegCloseKey(software);
  // Twins keep their rows, values and order; the name finds the one that
  // was folded anew.
  HKEY twins = Create(HKEY_CURRENT_USER, "Software\\Twins");
  EXPECT_EQ(SubKeys(twins), (std::vector<std::string>{Utf8(u"\u00C9A"), Utf8(u"\u00E9a")}));
  RegCloseKey(twins);
  HKEY capital = nullptr;
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "Software\\Twins\\" + Utf8(u"\u00E9a"), KEY_READ, &capital),
            ERROR_SUCCESS);
  EXPECT_EQ(Get(capital, "v"), std::string("capital\0", 8));
  RegCloseKey(capital);
  CloseRegistryStore();
  EXPECT_EQ(Rows("SELECT count(*) FROM vals WHERE key IN (16, 17)"), std::vector<std::string>{"2"});
}

}  // namespace
}  // namespace orvik::posix
