// Converting a store made by an earlier version to this version's layout,
// once, in the transaction of the first writer that opens it. Every key and
// value keeps its id, its order, its data and its time.
#include "platform/posix/sqlite_schema.h"
#include "platform/posix/sqlite_tree.h"

namespace orvik::posix {

LONG SqliteTree::ConvertFromVersion1() {
  // Version 1 kept the values in a rowid table (the rowid was the id) with
  // two indexes; the rows move to the table of version 2 in the order of its
  // key, so that its pages fill one after another. The keys stay as they are.
  static constexpr const char* kMoveAside = "ALTER TABLE vals RENAME TO vals_version1";
  static constexpr const char* kCopy =
      "INSERT INTO vals(key, folded, id, name, name_ansi, type, fit_size, data) "
      "SELECT key, folded, id, name, name_ansi, type, fit_size, data FROM vals_version1 "
      "ORDER BY key, folded";
  static constexpr const char* kDropOld = "DROP TABLE vals_version1";  // with its indexes
  if (LONG rc = Exec(kMoveAside); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Exec(kValsSchema); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = Exec(kCopy); rc != ERROR_SUCCESS) return rc;
  return Exec(kDropOld);
}

}  // namespace orvik::posix
