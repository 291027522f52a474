// The store's helpers over SQLite: the connection, a prepared statement kept
// for the life of the connection, a scope that binds, steps and resets it,
// and the Windows error of a failed SQLite call.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/windows_api.h"

namespace orvik::posix {

// The Windows error code for a failed SQLite call's result code.
LONG SqliteError(int rc);

// An open database connection, closed when it goes. Statements still
// prepared then keep it until the last of them is finalized.
class Connection {
 public:
  explicit Connection(sqlite3* db) : db_(db) {}
  ~Connection() { sqlite3_close_v2(db_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_;
};

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Prepares on first use; returns the SQLite result code.
  int Prepare(sqlite3* db, const char* sql) {
    if (stmt_ != nullptr) return SQLITE_OK;
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  void Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Binds parameters in order, steps, and resets the statement when it goes.
class Query {
 public:
  explicit Query(Statement& statement) : stmt_(statement.get()) {}
  ~Query() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& Bind(int64_t value) {
    sqlite3_bind_int64(stmt_, ++index_, value);
    return *this;
  }
  Query& BindBlob(std::string_view bytes) {
    // A zero-length blob stays a blob, never NULL.
    sqlite3_bind_blob(stmt_, ++index_, bytes.empty() ? "" : bytes.data(),
                      static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // The same without a copy: SQLite reads the bytes where they are, so they
  // must outlive the query. For data that may be large.
  Query& BindBlobInPlace(std::string_view bytes) {
    sqlite3_bind_blob(stmt_, ++index_, bytes.empty() ? "" : bytes.data(),
                      static_cast<int>(bytes.size()), SQLITE_STATIC);
    return *this;
  }
  Query& BindNull() {
    sqlite3_bind_null(stmt_, ++index_);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }

  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  int Type(int column) const { return sqlite3_column_type(stmt_, column); }
  std::string_view Blob(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (data == nullptr) return {};
    return {static_cast<const char*>(data), static_cast<size_t>(size)};
  }

 private:
  sqlite3_stmt* stmt_;
  int index_ = 0;
};

}  // namespace orvik::posix
