// The SQLite store's tree calls: keys, values and their data over the
// tables of the schema, each inside a step of the caller (StoreSteps).
#include "platform/posix/store/sqlite_store.h"

#include <algorithm>
#include <utility>

#include "platform/posix/codepage.h"
#include "platform/posix/file_time.h"
#include "platform/posix/key_path.h"
#include "platform/posix/value_forms.h"

namespace orvik::posix {

namespace {

std::optional<std::u16string> OptionalWide(const Query& q, int column) {
  if (q.IsNull(column)) return std::nullopt;
  return BytesToWide(q.Blob(column));
}

DWORD ToDword(int64_t value) { return static_cast<DWORD>(value); }

}  // namespace

std::string FoldedBytes(std::u16string_view name) {
  const std::u16string folded = FoldName(name);
  std::string out(folded.size() * 2, '\0');
  for (size_t i = 0; i < folded.size(); ++i) {
    out[2 * i] = static_cast<char>(folded[i] >> 8);
    out[2 * i + 1] = static_cast<char>(folded[i] & 0xFF);
  }
  return out;
}

LONG SqliteStore::KeyExists(KeyId key, bool* exists) {
  if (steps_.KnownPresent(key)) {
    *exists = true;
    return ERROR_SUCCESS;
  }
  if (int rc = Use(key_exists_, "SELECT 1 FROM keys WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(key_exists_);
  const int rc = q.Bind(key).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return SqliteError(rc);
  *exists = rc == SQLITE_ROW;
  if (*exists) steps_.NotePresent(key);
  return ERROR_SUCCESS;
}

LONG SqliteStore::FindChild(KeyId parent, std::u16string_view name, KeyId* child) {
  if (old_folding_) return FindChildByName(parent, name, child);
  if (int rc = Use(find_child_, "SELECT id FROM keys WHERE parent=? AND folded=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(find_child_);
  const int rc = q.Bind(parent).BindBlob(FoldedBytes(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  *child = q.Int(0);
  return ERROR_SUCCESS;
}

LONG SqliteStore::CreateChild(KeyId parent, std::u16string_view name,
                              const std::optional<std::u16string>& class_name, KeyId* child) {
  if (int rc = Use(create_child_,
                   "INSERT INTO keys(parent, folded, name, name_ansi, class, class_ansi, security, "
                   "last_write) VALUES(?1,?2,?3,?4,?5,?6,"
                   "(SELECT security FROM keys WHERE id=?1),?7)");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(create_child_);
    q.Bind(parent).BindBlob(FoldedBytes(name)).BindBlob(WideToBytes(name));
    q.Bind(static_cast<int64_t>(AnsiLength(name)));
    if (class_name) {
      q.BindBlob(WideToBytes(*class_name)).Bind(static_cast<int64_t>(AnsiLength(*class_name)));
    } else {
      q.BindNull().Bind(0);
    }
    q.Bind(NowAsFileTime());
    if (int rc = q.Step(); rc != SQLITE_DONE) return SqliteError(rc);
  }
  *child = sqlite3_last_insert_rowid(db());
  return steps_.Touch(parent);
}

LONG SqliteStore::DeleteKey(KeyId key) {
  {
    // A loaded hive's key goes only with its unloading.
    LoadedHive hive;
    const LONG found = FindLoadedHive(key, &hive);
    if (found == ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
    if (found != ERROR_FILE_NOT_FOUND) return found;
  }
  steps_.ForgetPresent();
  if (int rc = Use(has_children_, "SELECT 1 FROM keys WHERE parent=? LIMIT 1"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(has_children_);
    const int rc = q.Bind(key).Step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    if (rc != SQLITE_DONE) return SqliteError(rc);
  }
  if (int rc = Use(delete_values_, "DELETE FROM vals WHERE key=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(delete_values_);
    if (int rc = q.Bind(key).Step(); rc != SQLITE_DONE) return SqliteError(rc);
  }
  if (int rc = Use(delete_key_, "DELETE FROM keys WHERE id=? RETURNING parent"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  KeyId parent = 0;
  {
    Query q(delete_key_);
    const int rc = q.Bind(key).Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return SqliteError(rc);
    parent = q.Int(0);
    if (int done = q.Step(); done != SQLITE_DONE) return SqliteError(done);
  }
  return steps_.Touch(parent);
}

LONG SqliteStore::KeyDepth(KeyId key, int* depth) {
  KeyId top = 0;
  if (LONG rc = KeyDepthInRows(key, depth, &top); rc != ERROR_SUCCESS) return rc;
  // Every key of the store leads up to a root.
  return top == 0 ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT;
}

LONG SqliteStore::GetKeyHeader(KeyId key, KeyInfo* info) {
  *info = KeyInfo{};
  if (LONG rc = steps_.FlushTouch(); rc != ERROR_SUCCESS) return rc;
  if (int rc = Use(key_row_, "SELECT class, security, last_write FROM keys WHERE id=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(key_row_);
    const int rc = q.Bind(key).Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return SqliteError(rc);
    info->class_name = OptionalWide(q, 0);
    info->security = std::string(q.Blob(1));
    info->last_write = q.Int(2);
  }
  return ERROR_SUCCESS;
}

LONG SqliteStore::GetKeyInfo(KeyId key, KeyInfo* info) {
  if (LONG rc = GetKeyHeader(key, info); rc != ERROR_SUCCESS) return rc;
  if (int rc = Use(child_stats_,
                   "SELECT count(*), max(name_ansi), max(class_ansi) FROM keys WHERE parent=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(child_stats_);
    if (int rc = q.Bind(key).Step(); rc != SQLITE_ROW) return SqliteError(rc);
    info->subkeys = ToDword(q.Int(0));
    info->max_subkey_name = ToDword(q.Int(1));
    info->max_subkey_class = ToDword(q.Int(2));
  }
  if (int rc =
          Use(value_stats_, "SELECT count(*), max(name_ansi), max(fit_size) FROM vals WHERE key=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(value_stats_);
  if (int rc = q.Bind(key).Step(); rc != SQLITE_ROW) return SqliteError(rc);
  info->values = ToDword(q.Int(0));
  info->max_value_name = ToDword(q.Int(1));
  info->max_value_data = ToDword(q.Int(2));
  return ERROR_SUCCESS;
}

LONG SqliteStore::SetKeySecurity(KeyId key, std::string_view security) {
  if (int rc = Use(set_security_, "UPDATE keys SET security=? WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(set_security_);
  if (int rc = q.BindBlob(security).Bind(key).Step(); rc != SQLITE_DONE) return SqliteError(rc);
  return sqlite3_changes(db()) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG SqliteStore::ListChildren(KeyId key, std::vector<ChildEntry>* children) {
  children->clear();
  if (LONG rc = steps_.FlushTouch(); rc != ERROR_SUCCESS) return rc;
  if (int rc = Use(list_children_,
                   "SELECT id, name, class, last_write FROM keys WHERE parent=? ORDER BY folded");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(list_children_);
  q.Bind(key);
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) {
    children->push_back(ChildEntry{q.Int(0), BytesToWide(q.Blob(1)), OptionalWide(q, 2), q.Int(3)});
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : SqliteError(rc);
}

LONG SqliteStore::ListValues(KeyId key, std::vector<ValueEntry>* values) {
  values->clear();
  // One range of the table, in order of name; the creation order is the
  // order of the ids. A datum of up to kCarriedDataSize bytes comes along (a
  // blob), a larger one only with its size (an integer).
  if (int rc = Use(list_values_,
                   "SELECT id, name, type, fit_size, "
                   "CASE WHEN length(data) <= ?2 THEN data ELSE length(data) END "
                   "FROM vals WHERE key=?1");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  // The rows gather in a vector kept for every listing; the handle's list
  // then takes exactly the room it needs (handles keep their lists).
  std::vector<ValueEntry>& rows = listing_rows_;
  rows.clear();
  Query q(list_values_);
  q.Bind(key).Bind(static_cast<int64_t>(kCarriedDataSize));
  int rc = SQLITE_OK;
  while ((rc = q.Step()) == SQLITE_ROW) {
    ValueEntry& entry = rows.emplace_back();
    entry.ref = q.Int(0);
    entry.name = BytesToWide(q.Blob(1));
    entry.type = ToDword(q.Int(2));
    entry.fit_size = static_cast<size_t>(q.Int(3));
    if (q.Type(4) == SQLITE_INTEGER) {
      entry.size = static_cast<size_t>(q.Int(4));
    } else {
      entry.data = std::string(q.Blob(4));
      entry.size = entry.data->size();
    }
  }
  if (rc != SQLITE_DONE) return SqliteError(rc);
  const auto by_id = [](const ValueEntry& a, const ValueEntry& b) { return a.ref < b.ref; };
  if (!std::is_sorted(rows.begin(), rows.end(), by_id)) std::sort(rows.begin(), rows.end(), by_id);
  values->assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  return ERROR_SUCCESS;
}

LONG SqliteStore::ReadValueData(int64_t ref, std::string* data) {
  if (int rc = Use(value_data_, "SELECT data FROM vals WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(value_data_);
  const int rc = q.Bind(ref).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  *data = std::string(q.Blob(0));
  return ERROR_SUCCESS;
}

LONG SqliteStore::ReadValue(KeyId key, std::u16string_view name, StoredValue* value) {
  if (old_folding_) return ReadValueByName(key, name, value);
  if (int rc = Use(read_value_, "SELECT type, data FROM vals WHERE key=? AND folded=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(read_value_);
  const int rc = q.Bind(key).BindBlob(FoldedBytes(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  value->type = ToDword(q.Int(0));
  value->data = std::string(q.Blob(1));
  return ERROR_SUCCESS;
}

LONG SqliteStore::WriteValue(KeyId key, std::u16string_view name, DWORD type,
                             std::string_view data) {
  if (data.size() > kMaxValueDataSize) return ERROR_INVALID_PARAMETER;
  const auto fit = static_cast<int64_t>(FittingSize(type, data));
  // One statement: a new value goes to the end of the order (the next id
  // after the largest, found at the end of the index of ids), an existing one
  // keeps its row (its place in the order) and its name's spelling.
  if (int rc = Use(write_value_,
                   "INSERT INTO vals(key, folded, id, name, name_ansi, type, data, fit_size) "
                   "VALUES(?,?,(SELECT ifnull(max(id), 0) + 1 FROM vals),?,?,?,?,?) "
                   "ON CONFLICT(key, folded) DO UPDATE SET "
                   "type=excluded.type, data=excluded.data, fit_size=excluded.fit_size");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(write_value_);
    q.Bind(key).BindBlob(FoldedBytes(name)).BindBlob(WideToBytes(name));
    q.Bind(static_cast<int64_t>(AnsiLength(name))).Bind(type).BindBlobInPlace(data).Bind(fit);
    if (int rc = q.Step(); rc != SQLITE_DONE) return SqliteError(rc);
  }
  return steps_.Touch(key);
}

LONG SqliteStore::DeleteValue(KeyId key, std::u16string_view name) {
  if (int rc = Use(delete_value_, "DELETE FROM vals WHERE key=? AND folded=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  {
    Query q(delete_value_);
    if (int rc = q.Bind(key).BindBlob(FoldedBytes(name)).Step(); rc != SQLITE_DONE) {
      return SqliteError(rc);
    }
  }
  if (sqlite3_changes(db()) == 0) return ERROR_FILE_NOT_FOUND;
  return steps_.Touch(key);
}

LONG SqliteStore::GetKeyData(KeyId key, KeyData* data) {
  if (int rc = Use(key_data_, "SELECT name, class, security, last_write FROM keys WHERE id=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(key_data_);
  const int rc = q.Bind(key).Step();
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  data->name = BytesToWide(q.Blob(0));
  data->class_name = OptionalWide(q, 1);
  data->security = std::string(q.Blob(2));
  data->last_write = q.Int(3);
  return ERROR_SUCCESS;
}

LONG SqliteStore::SetKeyClass(KeyId key, const std::optional<std::u16string>& class_name) {
  if (int rc = Use(set_class_, "UPDATE keys SET class=?, class_ansi=? WHERE id=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(set_class_);
  if (class_name) {
    q.BindBlob(WideToBytes(*class_name)).Bind(static_cast<int64_t>(AnsiLength(*class_name)));
  } else {
    q.BindNull().Bind(0);
  }
  if (int rc = q.Bind(key).Step(); rc != SQLITE_DONE) return SqliteError(rc);
  return sqlite3_changes(db()) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG SqliteStore::SetKeyLastWrite(KeyId key, int64_t last_write) {
  steps_.ForgetTouch(key);
  if (int rc = Use(set_last_write_, "UPDATE keys SET last_write=? WHERE id=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(set_last_write_);
  if (int rc = q.Bind(last_write).Bind(key).Step(); rc != SQLITE_DONE) return SqliteError(rc);
  return sqlite3_changes(db()) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

}  // namespace orvik::posix
