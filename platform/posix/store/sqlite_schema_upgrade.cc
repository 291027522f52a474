// Converting a store made by an earlier version to this version's layout,
// once, in the transaction of the first writer that opens it. Every key and
// value keeps its id, its order, its data and its time.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/codepage.h"
#include "platform/posix/store/sqlite_schema.h"
#include "platform/posix/store/sqlite_statement.h"
#include "platform/posix/store/sqlite_store.h"

namespace orvik::posix {

LONG SqliteStore::ConvertFromVersion1() {
  // Version 1 kept the values in a rowid table (the rowid was the id) with
  // two indexes. The rows move to the table of version 2 a few thousand at a
  // time in the order of their ids, each batch removed from the old table
  // once copied, so that the pages it frees take the next batches and the
  // file grows by little more than one batch, not by a second copy of every
  // value. The keys stay as they are.
  static constexpr const char* kMoveAside = "ALTER TABLE vals RENAME TO vals_version1";
  static constexpr const char* kBatchEnd =
      "SELECT max(id) FROM (SELECT id FROM vals_version1 ORDER BY id LIMIT 4096)";
  static constexpr const char* kCopy =
      "INSERT INTO vals(key, folded, id, name, name_ansi, type, fit_size, data) "
      "SELECT key, folded, id, name, name_ansi, type, fit_size, data FROM vals_version1 "
      "WHERE id <= ?";
  static constexpr const char* kRemoveCopied = "DELETE FROM vals_version1 WHERE id <= ?";
  static constexpr const char* kDropOld = "DROP TABLE vals_version1";  // with its indexes
  if (LONG rc = Exec(kMoveAside); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Exec(kValsSchema); rc != ERROR_SUCCESS) return rc;
  Statement batch_end;
  Statement copy;
  Statement remove;
  if (int rc = batch_end.Prepare(db(), kBatchEnd); rc != SQLITE_OK) return SqliteError(rc);
  if (int rc = copy.Prepare(db(), kCopy); rc != SQLITE_OK) return SqliteError(rc);
  if (int rc = remove.Prepare(db(), kRemoveCopied); rc != SQLITE_OK) return SqliteError(rc);
  for (;;) {
    int64_t last = 0;
    {
      Query q(batch_end);
      if (int rc = q.Step(); rc != SQLITE_ROW) return SqliteError(rc);
      if (q.IsNull(0)) break;  // every value copied
      last = q.Int(0);
    }
    for (Statement* step : {&copy, &remove}) {
      Query q(*step);
      if (int rc = q.Bind(last).Step(); rc != SQLITE_DONE) return SqliteError(rc);
    }
  }
  return Exec(kDropOld);
}

LONG SqliteStore::ConvertFromVersion2() {
  // Version 2 folded names by the C library's upper-casing, which differs
  // from Windows' for a few hundred code units: the folded form of a name
  // holding one of them is written anew, and with it the name's place in
  // the index. Windows' folding sets no two names of version 2 alike where
  // they differed, so a name can only meet a twin in a store made where
  // only ASCII letters folded (no C.UTF-8 locale): that row keeps its old
  // form (OR IGNORE), listed and removed with its key as before, never lost.
  static constexpr const char* kRefoldKeys =
      "UPDATE OR IGNORE keys SET folded = orvik_fold(name) WHERE folded <> orvik_fold(name)";
  static constexpr const char* kRefoldValues =
      "UPDATE OR IGNORE vals SET folded = orvik_fold(name) WHERE folded <> orvik_fold(name)";
  auto fold = [](sqlite3_context* context, int, sqlite3_value** args) {
    const auto* bytes = static_cast<const char*>(sqlite3_value_blob(args[0]));
    const auto size = static_cast<size_t>(sqlite3_value_bytes(args[0]));
    const std::string_view name = bytes != nullptr ? std::string_view(bytes, size) : "";
    const std::string folded = FoldedBytes(BytesToWide(name));
    sqlite3_result_blob(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
  };
  if (int rc = sqlite3_create_function(db(), "orvik_fold", 1,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
                                       nullptr, fold, nullptr, nullptr);
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  LONG rc = Exec(kRefoldKeys);
  if (rc == ERROR_SUCCESS) rc = Exec(kRefoldValues);
  sqlite3_create_function(db(), "orvik_fold", 1, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
  return rc;
}

}  // namespace orvik::posix
