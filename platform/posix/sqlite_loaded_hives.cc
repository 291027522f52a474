// The SQLite store's records of the loaded hives: which key each hive file
// is loaded under, and what is needed to write it back when it is unloaded.
// The table is made by the first load, so a store that never loaded a hive
// keeps the schema it was made with.
#include <cstring>

#include "platform/posix/codepage.h"
#include "platform/posix/sqlite_tree.h"

namespace orvik::posix {

namespace {

constexpr const char* kLoadedHivesSchema = R"sql(
CREATE TABLE IF NOT EXISTS hives(
  key INTEGER PRIMARY KEY,               -- the key the hive is loaded under
  file BLOB NOT NULL,                    -- absolute path of the hive file
  device INTEGER NOT NULL,               -- the file's identity, so that it
  inode INTEGER NOT NULL,                -- is loaded once at most
  root_name BLOB NOT NULL,               -- the file's root key name, UTF-16LE
  digest BLOB NOT NULL);                 -- of the tree's hive form at load
CREATE INDEX IF NOT EXISTS hives_by_file ON hives(device, inode);
)sql";

}  // namespace

bool SqliteTree::NoHivesTable(int rc) const {
  return rc == SQLITE_ERROR && std::strstr(sqlite3_errmsg(db_), "no such table") != nullptr;
}

void SqliteTree::ReadHiveRecord(const Query& q, LoadedHive* hive) {
  hive->key = q.Int(0);
  hive->file = std::string(q.Blob(1));
  hive->device = q.Int(2);
  hive->inode = q.Int(3);
  hive->root_name = BytesToWide(q.Blob(4));
  hive->digest = std::string(q.Blob(5));
}

LONG SqliteTree::AddLoadedHive(const LoadedHive& hive) {
  if (LONG rc = Exec(kLoadedHivesSchema); rc != ERROR_SUCCESS) return rc;
  if (int rc =
          Use(add_hive_,
              "INSERT INTO hives(key, file, device, inode, root_name, digest) VALUES(?,?,?,?,?,?)");
      rc != SQLITE_OK) {
    return Fail(rc);
  }
  Query q(add_hive_);
  q.Bind(hive.key).BindBlob(hive.file).Bind(hive.device).Bind(hive.inode);
  q.BindBlob(WideToBytes(hive.root_name)).BindBlob(hive.digest);
  if (int rc = q.Step(); rc != SQLITE_DONE) return Fail(rc);
  return ERROR_SUCCESS;
}

LONG SqliteTree::FindLoadedHive(KeyId key, LoadedHive* hive) {
  if (int rc = Use(find_hive_,
                   "SELECT key, file, device, inode, root_name, digest FROM hives WHERE key=?");
      rc != SQLITE_OK) {
    return NoHivesTable(rc) ? ERROR_FILE_NOT_FOUND : Fail(rc);
  }
  Query q(find_hive_);
  const int rc = q.Bind(key).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc);
  ReadHiveRecord(q, hive);
  return ERROR_SUCCESS;
}

LONG SqliteTree::FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive) {
  if (int rc = Use(find_hive_file_,
                   "SELECT key, file, device, inode, root_name, digest FROM hives "
                   "WHERE device=? AND inode=?");
      rc != SQLITE_OK) {
    return NoHivesTable(rc) ? ERROR_FILE_NOT_FOUND : Fail(rc);
  }
  Query q(find_hive_file_);
  const int rc = q.Bind(device).Bind(inode).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return Fail(rc);
  ReadHiveRecord(q, hive);
  return ERROR_SUCCESS;
}

LONG SqliteTree::RemoveLoadedHive(KeyId key) {
  if (int rc = Use(remove_hive_, "DELETE FROM hives WHERE key=?"); rc != SQLITE_OK) {
    return NoHivesTable(rc) ? ERROR_FILE_NOT_FOUND : Fail(rc);
  }
  Query q(remove_hive_);
  if (int rc = q.Bind(key).Step(); rc != SQLITE_DONE) return Fail(rc);
  return sqlite3_changes(db_) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

}  // namespace orvik::posix
