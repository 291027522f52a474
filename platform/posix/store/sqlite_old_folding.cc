// Lookups by name in a store that an earlier version folded by the C
// library's upper-casing, for a process that may not fold it anew. The
// folded form of a name differs from Windows' only where the name holds a
// unit beyond ASCII (and none of those folds into ASCII), so a row found by
// its folded form is taken when its name is the one asked for; otherwise a
// name beyond ASCII is compared with each row of the key in turn.
#include <algorithm>
#include <string>

#include "platform/posix/codepage.h"
#include "platform/posix/store/sqlite_statement.h"
#include "platform/posix/store/sqlite_store.h"

namespace orvik::posix {

namespace {

bool IsAscii(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; });
}

// The first row of `statement` (bound, not yet stepped) whose column
// `name_column` is `name` without regard to case: SQLITE_ROW with the query
// on that row, SQLITE_DONE for none, or the error.
int StepToName(Query& q, int name_column, std::u16string_view name) {
  int rc = SQLITE_ROW;
  while ((rc = q.Step()) == SQLITE_ROW) {
    if (CompareFoldedNames(BytesToWide(q.Blob(name_column)), name) == 0) break;
  }
  return rc;
}

}  // namespace

LONG SqliteStore::FindChildByName(KeyId parent, std::u16string_view name, KeyId* child) {
  Statement rows;
  const char* sql = "SELECT id, name FROM keys WHERE parent=? AND folded=?";
  if (int rc = rows.Prepare(db(), sql); rc != SQLITE_OK) return SqliteError(rc);
  {
    Query q(rows);
    const int rc = StepToName(q.Bind(parent).BindBlob(FoldedBytes(name)), 1, name);
    if (rc == SQLITE_ROW) {
      *child = q.Int(0);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return SqliteError(rc);
  }
  if (IsAscii(name)) return ERROR_FILE_NOT_FOUND;
  Statement all;
  if (int rc = all.Prepare(db(), "SELECT id, name FROM keys WHERE parent=?"); rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(all);
  const int rc = StepToName(q.Bind(parent), 1, name);
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return SqliteError(rc);
  *child = q.Int(0);
  return ERROR_SUCCESS;
}

LONG SqliteStore::ReadValueByName(KeyId key, std::u16string_view name, StoredValue* value) {
  auto take = [&](Query& q, int rc) -> LONG {
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return SqliteError(rc);
    value->type = static_cast<DWORD>(q.Int(1));
    value->data = std::string(q.Blob(2));
    return ERROR_SUCCESS;
  };
  Statement rows;
  const char* sql = "SELECT name, type, data FROM vals WHERE key=? AND folded=?";
  if (int rc = rows.Prepare(db(), sql); rc != SQLITE_OK) return SqliteError(rc);
  {
    Query q(rows);
    const LONG found = take(q, StepToName(q.Bind(key).BindBlob(FoldedBytes(name)), 0, name));
    if (found != ERROR_FILE_NOT_FOUND || IsAscii(name)) return found;
  }
  Statement all;
  if (int rc = all.Prepare(db(), "SELECT name, type, data FROM vals WHERE key=?");
      rc != SQLITE_OK) {
    return SqliteError(rc);
  }
  Query q(all);
  return take(q, StepToName(q.Bind(key), 0, name));
}

}  // namespace orvik::posix
