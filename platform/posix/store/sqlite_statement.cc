// SQLite's result codes as Windows errors.
#include "platform/posix/store/sqlite_statement.h"

namespace orvik::posix {

LONG SqliteError(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA:
      return ERROR_REGISTRY_CORRUPT;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

}  // namespace orvik::posix
