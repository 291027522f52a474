// Commits written through the gathering layer: another connection sees each
// one at once, and a copy of the files taken while the writer is still open
// (what a killed process leaves) recovers every committed transaction and
// none that was rolled back, also for transactions that outgrow the page
// cache, rewrite their own frames or outgrow the gathering buffer.
#include "platform/posix/store/wal_batching_vfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace orvik::posix {
namespace {

namespace fs = std::filesystem;

class Db {
 public:
  Db(const fs::path& path, const char* vfs) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs),
              SQLITE_OK);
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error != nullptr ? error : "");
    sqlite3_free(error);
  }
  std::string Text(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(stmt, 0);
      out = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(stmt);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

struct Case {
  const char* label;
  int cache_pages;  // small: the transaction spills frames before it commits
  int rows;         // rows inserted per transaction
  int row_bytes;
  int updates;  // times each transaction rewrites its own rows
};

class WalBatchingTest : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("orvik-wal-batching-" + std::to_string(getpid()) + "-" + GetParam().label);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "copy");
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_P(WalBatchingTest, CommitsAreVisibleAtOnceAndSurviveTheWriter) {
  const Case& c = GetParam();
  ASSERT_NE(WalBatchingVfsName(), nullptr);
  Db writer(dir_ / "store.db", WalBatchingVfsName());
  writer.Exec(
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0; "
      "PRAGMA cache_size=" +
      std::to_string(c.cache_pages) +
      "; CREATE TABLE t(id INTEGER PRIMARY KEY, round INTEGER, data BLOB)");
  Db reader(dir_ / "store.db", nullptr);
  long committed = 0;
  for (int round = 1; round <= 4; ++round) {
    const bool keep = round != 3;  // the third round is rolled back
    writer.Exec("BEGIN");
    writer.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                std::to_string(c.rows) + ") INSERT INTO t(round, data) SELECT " +
                std::to_string(round) + ", randomblob(" + std::to_string(c.row_bytes) + ") FROM n");
    for (int u = 0; u < c.updates; ++u) {
      writer.Exec("UPDATE t SET data=randomblob(" + std::to_string(c.row_bytes) +
                  ") WHERE round=" + std::to_string(round));
    }
    writer.Exec(keep ? "COMMIT" : "ROLLBACK");
    if (keep) committed += c.rows;
    EXPECT_EQ(reader.Text("SELECT count(*) FROM t"), std::to_string(committed)) << round;
  }
  // The writer is still open: copy what it left in the files.
  for (const char* name : {"store.db", "store.db-wal"}) {
    fs::copy_file(dir_ / name, dir_ / "copy" / name);
  }
  Db recovered(dir_ / "copy" / "store.db", nullptr);
  EXPECT_EQ(recovered.Text("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(recovered.Text("SELECT count(*) FROM t"), std::to_string(committed));
  EXPECT_EQ(recovered.Text("SELECT count(*) FROM t WHERE round=3"), "0");
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, WalBatchingTest,
    testing::Values(Case{"one_row", 2000, 1, 10, 0}, Case{"few_pages", 2000, 40, 300, 0},
                    Case{"spills", 5, 400, 300, 0}, Case{"spills_and_rewrites", 5, 400, 300, 3},
                    Case{"beyond_the_buffer", 2000, 600, 3000, 1}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.label); });

// Two writers through the layer on one store, as two processes are: one
// begins the log anew under the other, or rolls back a transaction whose
// frames it had gathered while the other then commits at the same place.
TEST(WalBatchingWritersTest, WritersSharingALogLoseNothing) {
  const fs::path dir =
      fs::temp_directory_path() / ("orvik-wal-batching-writers-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "copy");
  {
    Db first(dir / "store.db", WalBatchingVfsName());
    first.Exec(
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0; "
        "PRAGMA cache_size=5; CREATE TABLE t(id INTEGER PRIMARY KEY, data BLOB)");
    Db second(dir / "store.db", WalBatchingVfsName());
    second.Exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0");
    Db reader(dir / "store.db", nullptr);
    auto insert = [](int count) {
      return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
             std::to_string(count) + ") INSERT INTO t(data) SELECT randomblob(300) FROM n";
    };
    // Enough to spill a few pages, few enough that they are all still
    // gathered when the transaction rolls back.
    const int rolled_back = 40;
    long rows = 0;
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(round);
      // The first writer's log reaches far; the second begins it anew.
      first.Exec(insert(400));
      rows += 400;
      second.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
      second.Exec("INSERT INTO t(data) VALUES(randomblob(10))");
      first.Exec("INSERT INTO t(data) VALUES(randomblob(10))");
      rows += 2;
      EXPECT_EQ(reader.Text("SELECT count(*) FROM t"), std::to_string(rows));
      // Frames gathered for a transaction that rolls back, then a commit of
      // the other writer where they would have gone, then a read.
      first.Exec("BEGIN");
      first.Exec(insert(rolled_back));
      first.Exec("ROLLBACK");
      second.Exec("INSERT INTO t(data) VALUES(randomblob(10))");
      rows += 1;
      EXPECT_EQ(first.Text("SELECT count(*) FROM t"), std::to_string(rows));
      EXPECT_EQ(reader.Text("SELECT count(*) FROM t"), std::to_string(rows));
      EXPECT_EQ(reader.Text("PRAGMA integrity_check"), "ok");
    }
    for (const char* name : {"store.db", "store.db-wal"}) {
      fs::copy_file(dir / name, dir / "copy" / name);
    }
    Db recovered(dir / "copy" / "store.db", nullptr);
    EXPECT_EQ(recovered.Text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(recovered.Text("SELECT count(*) FROM t"), std::to_string(rows));
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orvik::posix
