// The SQLite store's part in loaded hives: the records of which hive file is
// loaded under which key, and the rows that keep the changes made under a
// hive served in place.
//
// Hives loaded by an earlier version were copied into ordinary rows; their
// records stay in the table `hives` and are still found and unloaded.
#include <cstring>

#include "platform/posix/codepage.h"
#include "platform/posix/store/sqlite_schema.h"
#include "platform/posix/store/sqlite_store.h"
#include "platform/posix/store/store_location.h"

namespace orvik::posix {

namespace {

constexpr const char* kHiveColumns =
    "key, file, device, inode, root_name, generation, copy, '', "
    "file_size, file_changed, copy_pages";
// A table made before the columns of the load's state.
constexpr const char* kHiveColumnsBefore =
    "key, file, device, inode, root_name, generation, copy, '', NULL, NULL, NULL";
constexpr const char* kLegacyColumns =
    "key, file, device, inode, root_name, 0, '', digest, NULL, NULL, NULL";

std::string PageBytes(const std::vector<uint32_t>& pages) {
  std::string bytes(pages.size() * 4, '\0');
  for (size_t i = 0; i < pages.size(); ++i) {
    for (size_t b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<char>(pages[i] >> (8 * b));
  }
  return bytes;
}

std::vector<uint32_t> PagesOf(std::string_view bytes) {
  std::vector<uint32_t> pages(bytes.size() / 4);
  for (size_t i = 0; i < pages.size(); ++i) {
    uint32_t page = 0;
    for (size_t b = 0; b < 4; ++b)
      page |= uint32_t{static_cast<uint8_t>(bytes[4 * i + b])} << (8 * b);
    pages[i] = page;
  }
  return pages;
}

}  // namespace

LONG SqliteStore::HiveTables(bool served, bool* there) {
  *there = served ? hive_tables_ : legacy_hives_;
  if (*there || !served) return ERROR_SUCCESS;
  // Another process may have made them since the store was opened.
  if (int rc = Use(hive_tables_probe_,
                   "SELECT count(*) FROM sqlite_schema WHERE type='table' AND "
                   "name IN ('loaded_hives', 'removed_hive_keys')");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(hive_tables_probe_);
    if (int rc = q.Step(); rc != SQLITE_ROW) return SqliteError(rc);
    hive_tables_ = *there = q.Int(0) == 2;
  }
  return *there ? ProbeLoadState() : ERROR_SUCCESS;
}

LONG SqliteStore::ProbeLoadState() {
  // A table made before the columns of the load's state has none until a
  // load adds them.
  Statement columns;
  if (int rc =
          Use(columns,
              "SELECT count(*) FROM pragma_table_info('loaded_hives') WHERE name='copy_pages'");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(columns);
  if (int rc = q.Step(); rc != SQLITE_ROW) return SqliteError(rc);
  load_state_ = q.Int(0) == 1;
  return ERROR_SUCCESS;
}

const char* SqliteStore::HiveColumns() const {
  return load_state_ ? kHiveColumns : kHiveColumnsBefore;
}

void SqliteStore::ReadHiveRecord(const Query& q, LoadedHive* hive) {
  hive->key = q.Int(0);
  hive->file = std::string(q.Blob(1));
  hive->device = q.Int(2);
  hive->inode = q.Int(3);
  hive->root_name = BytesToWide(q.Blob(4));
  hive->generation = q.Int(5);
  // The copy's name follows from the generation; the name recorded beside it
  // is not taken, since whoever may write the database (any member of a
  // shared registry) could name any file there.
  hive->copy = hive->generation > 0 ? PrivateCopyPath(directory_, hive->generation) : "";
  hive->digest = std::string(q.Blob(7));
  hive->file_size = q.IsNull(8) ? -1 : q.Int(8);
  hive->file_changed = q.Int(9);
  hive->copy_pages = PagesOf(q.Blob(10));
}

LONG SqliteStore::NextHiveGeneration(int64_t* generation) {
  // The first load in a store made before hives could be loaded.
  bool there = false;
  if (LONG rc = HiveTables(true, &there); rc != ERROR_SUCCESS) return rc;
  if (!there) {
    if (LONG rc = Exec(kLoadedHivesSchema); rc != ERROR_SUCCESS) return rc;
    hive_tables_ = true;
    load_state_ = true;
  }
  // Another process may have added them since this one looked.
  if (!load_state_) {
    if (LONG rc = ProbeLoadState(); rc != ERROR_SUCCESS) return rc;
  }
  if (!load_state_) {
    if (LONG rc = Exec(kLoadStateColumns); rc != ERROR_SUCCESS) return rc;
    load_state_ = true;
    // Prepared for the table as it was.
    for (Statement* statement : {&find_hive_, &find_hive_file_, &find_generation_}) {
      statement->Finalize();
    }
  }
  Statement next;
  if (int rc = Use(next,
                   "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE "
                   "name='loaded_hives'), 0) + 1");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(next);
  if (int rc = q.Step(); rc != SQLITE_ROW) return SqliteError(rc);
  *generation = q.Int(0);
  return ERROR_SUCCESS;
}

LONG SqliteStore::AddLoadedHive(const LoadedHive& hive) {
  if (hive.generation == 0) return ERROR_INVALID_PARAMETER;
  if (int rc =
          Use(add_hive_,
              "INSERT INTO loaded_hives(generation, key, file, device, inode, root_name, copy, "
              "file_size, file_changed, copy_pages) VALUES(?,?,?,?,?,?,?,?,?,?)");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(add_hive_);
  q.Bind(hive.generation).Bind(hive.key).BindBlob(hive.file).Bind(hive.device).Bind(hive.inode);
  q.BindBlob(WideToBytes(hive.root_name)).BindBlob(hive.copy);
  if (hive.file_size >= 0) {
    q.Bind(hive.file_size).Bind(hive.file_changed);
  } else {
    q.BindNull().BindNull();
  }
  q.BindBlob(PageBytes(hive.copy_pages));
  if (int rc = q.Step(); rc != SQLITE_DONE) return SqliteError(rc);
  return ERROR_SUCCESS;
}

LONG SqliteStore::FindLoadedHive(KeyId key, LoadedHive* hive) {
  // Hives served in place are loaded under keys with ids below zero; copied
  // ones under ordinary keys.
  const bool served = key < 0;
  bool there = false;
  if (LONG rc = HiveTables(served, &there); rc != ERROR_SUCCESS) return rc;
  if (!there) return ERROR_FILE_NOT_FOUND;
  Statement& statement = served ? find_hive_ : find_legacy_hive_;
  const std::string sql = std::string("SELECT ") + (served ? HiveColumns() : kLegacyColumns) +
                          (served ? " FROM loaded_hives WHERE key=?" : " FROM hives WHERE key=?");
  if (int rc = Use(statement, sql.c_str()); rc != SQLITE_OK) return SqliteError(rc);
  Query q(statement);
  const int rc = q.Bind(key).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  ReadHiveRecord(q, hive);
  return ERROR_SUCCESS;
}

LONG SqliteStore::FindLoadedHiveGeneration(int64_t generation, LoadedHive* hive) {
  bool there = false;
  if (LONG rc = HiveTables(true, &there); rc != ERROR_SUCCESS) return rc;
  if (!there) return ERROR_FILE_NOT_FOUND;
  const std::string sql =
      std::string("SELECT ") + HiveColumns() + " FROM loaded_hives WHERE generation=?";
  if (int rc = Use(find_generation_, sql.c_str()); rc != SQLITE_OK) return SqliteError(rc);
  Query q(find_generation_);
  const int rc = q.Bind(generation).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  ReadHiveRecord(q, hive);
  return ERROR_SUCCESS;
}

LONG SqliteStore::FindLoadedHiveFile(int64_t device, int64_t inode, LoadedHive* hive) {
  bool served_there = false;
  if (LONG rc = HiveTables(true, &served_there); rc != ERROR_SUCCESS) return rc;
  const struct {
    bool served;
    Statement* statement;
    std::string sql;
  } tables[] = {
      {true, &find_hive_file_,
       std::string("SELECT ") + HiveColumns() + " FROM loaded_hives WHERE device=? AND inode=?"},
      {false, &find_legacy_hive_file_,
       std::string("SELECT ") + kLegacyColumns + " FROM hives WHERE device=? AND inode=?"},
  };
  for (const auto& table : tables) {
    bool there = false;
    if (LONG rc = HiveTables(table.served, &there); rc != ERROR_SUCCESS) return rc;
    if (!there) continue;
    if (int rc = Use(*table.statement, table.sql.c_str()); rc != SQLITE_OK) return SqliteError(rc);
    Query q(*table.statement);
    const int rc = q.Bind(device).Bind(inode).Step();
    if (rc == SQLITE_ROW) {
      ReadHiveRecord(q, hive);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return SqliteError(rc);
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG SqliteStore::RemoveLoadedHive(KeyId key) {
  const bool served = key < 0;
  bool there = false;
  if (LONG rc = HiveTables(served, &there); rc != ERROR_SUCCESS) return rc;
  if (!there) return ERROR_FILE_NOT_FOUND;
  Statement& statement = served ? remove_hive_ : remove_legacy_hive_;
  if (int rc = Use(statement, served ? "DELETE FROM loaded_hives WHERE key=?"
                                     : "DELETE FROM hives WHERE key=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(statement);
  if (int rc = q.Bind(key).Step(); rc != SQLITE_DONE) return SqliteError(rc);
  return sqlite3_changes(db()) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

LONG SqliteStore::InsertKeyRow(KeyId id, KeyId parent, const KeyData& data) {
  if (int rc = Use(insert_key_row_,
                   "INSERT INTO keys(id, parent, folded, name, name_ansi, class, class_ansi, "
                   "security, last_write) VALUES(?,?,?,?,?,?,?,?,?)");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(insert_key_row_);
  q.Bind(id).Bind(parent).BindBlob(FoldedBytes(data.name)).BindBlob(WideToBytes(data.name));
  q.Bind(static_cast<int64_t>(AnsiLength(data.name)));
  if (data.class_name) {
    q.BindBlob(WideToBytes(*data.class_name))
        .Bind(static_cast<int64_t>(AnsiLength(*data.class_name)));
  } else {
    q.BindNull().Bind(0);
  }
  q.BindBlob(data.security).Bind(data.last_write);
  if (int rc = q.Step(); rc != SQLITE_DONE) return SqliteError(rc);
  steps_.ForgetPresent();
  return ERROR_SUCCESS;
}

LONG SqliteStore::MarkKeyRemoved(KeyId id, KeyId parent) {
  if (int rc =
          Use(mark_removed_, "INSERT OR IGNORE INTO removed_hive_keys(id, parent) VALUES(?,?)");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(mark_removed_);
  if (int rc = q.Bind(id).Bind(parent).Step(); rc != SQLITE_DONE) return SqliteError(rc);
  return ERROR_SUCCESS;
}

LONG SqliteStore::KeyRemoved(KeyId id, bool* removed) {
  *removed = false;
  bool there = false;
  if (LONG rc = HiveTables(true, &there); rc != ERROR_SUCCESS || !there) return rc;
  if (int rc = Use(key_removed_, "SELECT 1 FROM removed_hive_keys WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(key_removed_);
  const int rc = q.Bind(id).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return SqliteError(rc);
  *removed = rc == SQLITE_ROW;
  return ERROR_SUCCESS;
}

LONG SqliteStore::RemovedChildren(KeyId parent, std::vector<KeyId>* ids) {
  ids->clear();
  bool there = false;
  if (LONG rc = HiveTables(true, &there); rc != ERROR_SUCCESS || !there) return rc;
  if (int rc = Use(removed_children_, "SELECT id FROM removed_hive_keys WHERE parent=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(removed_children_);
  q.Bind(parent);
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) ids->push_back(q.Int(0));
  return rc == SQLITE_DONE ? ERROR_SUCCESS : SqliteError(rc);
}

LONG SqliteStore::KeyDepthInRows(KeyId key, int* depth, KeyId* top) {
  // Up the parents while they have rows, one lookup by id per level: a
  // recursive query would build and drop a temporary table on every call,
  // which costs more than the whole climb. The bound keeps a damaged store
  // from looping.
  if (int rc = Use(parent_of_, "SELECT parent FROM keys WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  constexpr int kMaxLevels = 100000;
  KeyId at = key;
  for (int level = -1; level < kMaxLevels; ++level) {
    Query q(parent_of_);
    const int rc = q.Bind(at).Step();
    if (rc == SQLITE_DONE) {
      if (level < 0) return ERROR_KEY_DELETED;
      *top = at;
      *depth = level;
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_ROW) return SqliteError(rc);
    at = q.Int(0);
  }
  return ERROR_REGISTRY_CORRUPT;
}

LONG SqliteStore::RangeHasRows(KeyId low, KeyId high, KeyId except, bool children_of_except,
                               bool* any) {
  Statement probe;
  if (int rc =
          Use(probe,
              "SELECT EXISTS(SELECT 1 FROM keys WHERE id BETWEEN ?1 AND ?2 AND id<>?3) "
              "OR EXISTS(SELECT 1 FROM keys WHERE parent BETWEEN ?1 AND ?2 AND (?4 OR parent<>?3)) "
              "OR EXISTS(SELECT 1 FROM removed_hive_keys WHERE id BETWEEN ?1 AND ?2)");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(probe);
  q.Bind(low).Bind(high).Bind(except).Bind(children_of_except ? 1 : 0);
  if (int rc = q.Step(); rc != SQLITE_ROW) return SqliteError(rc);
  *any = q.Int(0) != 0;
  return ERROR_SUCCESS;
}

LONG SqliteStore::IdsInRange(const char* sql, KeyId low, KeyId high, std::vector<KeyId>* ids) {
  ids->clear();
  Statement list;
  if (int rc = Use(list, sql); rc != SQLITE_OK) return SqliteError(rc);
  Query q(list);
  q.Bind(low).Bind(high);
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) ids->push_back(q.Int(0));
  return rc == SQLITE_DONE ? ERROR_SUCCESS : SqliteError(rc);
}

LONG SqliteStore::ChangedInRange(KeyId low, KeyId high, std::vector<KeyId>* ids) {
  return IdsInRange(
      "SELECT id FROM keys WHERE id BETWEEN ?1 AND ?2 "
      "UNION SELECT parent FROM keys WHERE parent BETWEEN ?1 AND ?2 "
      "UNION SELECT parent FROM removed_hive_keys WHERE id BETWEEN ?1 AND ?2",
      low, high, ids);
}

LONG SqliteStore::PairsInRange(const char* sql, KeyId low, KeyId high,
                               std::vector<std::pair<KeyId, KeyId>>* pairs) {
  pairs->clear();
  Statement list;
  if (int rc = Use(list, sql); rc != SQLITE_OK) return SqliteError(rc);
  Query q(list);
  q.Bind(low).Bind(high);
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) pairs->emplace_back(q.Int(0), q.Int(1));
  return rc == SQLITE_DONE ? ERROR_SUCCESS : SqliteError(rc);
}

LONG SqliteStore::RowsInRange(KeyId low, KeyId high, std::vector<KeyId>* ids) {
  return IdsInRange("SELECT id FROM keys WHERE id BETWEEN ?1 AND ?2", low, high, ids);
}

LONG SqliteStore::RemovedInRange(KeyId low, KeyId high,
                                 std::vector<std::pair<KeyId, KeyId>>* removed) {
  return PairsInRange("SELECT id, parent FROM removed_hive_keys WHERE id BETWEEN ?1 AND ?2", low,
                      high, removed);
}

LONG SqliteStore::AddedToRange(KeyId low, KeyId high, std::vector<std::pair<KeyId, KeyId>>* added) {
  return PairsInRange(
      "SELECT id, parent FROM keys WHERE parent BETWEEN ?1 AND ?2 AND id NOT BETWEEN ?1 AND ?2",
      low, high, added);
}

LONG SqliteStore::ChildrenOfRange(KeyId low, KeyId high, std::vector<KeyId>* ids) {
  return IdsInRange(
      "SELECT id FROM keys WHERE parent BETWEEN ?1 AND ?2 AND id NOT BETWEEN ?1 AND ?2", low, high,
      ids);
}

LONG SqliteStore::DeleteRange(KeyId low, KeyId high, KeyId except) {
  for (const char* sql : {"DELETE FROM vals WHERE key BETWEEN ?1 AND ?2 AND key<>?3",
                          "DELETE FROM keys WHERE id BETWEEN ?1 AND ?2 AND id<>?3",
                          "DELETE FROM removed_hive_keys WHERE id BETWEEN ?1 AND ?2"}) {
    Statement statement;
    if (int rc = Use(statement, sql); rc != SQLITE_OK) return SqliteError(rc);
    Query q(statement);
    q.Bind(low).Bind(high);
    if (std::strstr(sql, "?3") != nullptr) q.Bind(except);
    if (int rc = q.Step(); rc != SQLITE_DONE) return SqliteError(rc);
  }
  steps_.ForgetPresent();
  return ERROR_SUCCESS;
}

}  // namespace orvik::posix
