#include "bench/sqlite_bench_side.h"

#include <sys/stat.h>

#include <memory>
#include <stdexcept>

namespace kura::bench {
namespace {

struct TStatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TStatementDeleter>;

}  // namespace

TSqliteSide::TSqliteSide(std::string path) : FPath(std::move(path)) {
  Open();
  Execute(
      "CREATE TABLE T (ID INTEGER PRIMARY KEY, NAME CHAR(20), VALUE INTEGER);"
      "CREATE INDEX BY_NAME ON T (NAME);"
      "CREATE INDEX BY_VALUE ON T (VALUE);");
}

TSqliteSide::~TSqliteSide() {
  sqlite3_close(FDb);
}

void TSqliteSide::Open() {
  Check(sqlite3_open(FPath.c_str(), &FDb));
  Execute("PRAGMA synchronous=OFF");
}

void TSqliteSide::Reopen() {
  Check(sqlite3_close(FDb));
  FDb = nullptr;
  Open();
}

void TSqliteSide::Check(int result, int expected) {
  if (result != expected) throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(FDb));
}

void TSqliteSide::Execute(const char* sql) {
  Check(sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr));
}

sqlite3_stmt* TSqliteSide::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  Check(sqlite3_prepare_v2(FDb, sql, -1, &statement, nullptr));
  return statement;
}

void TSqliteSide::InsertRows(const std::vector<TBenchRow>& rows) {
  TStatement insert(Prepare("INSERT INTO T (ID, NAME, VALUE) VALUES (?, ?, ?)"));
  for (const TBenchRow& row : rows) {
    sqlite3_bind_int(insert.get(), 1, row.Id);
    sqlite3_bind_text(insert.get(), 2, row.Name.data(), static_cast<int>(row.Name.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int(insert.get(), 3, row.Value);
    Check(sqlite3_step(insert.get()), SQLITE_DONE);
    sqlite3_reset(insert.get());
  }
}

void TSqliteSide::BulkInsert(const std::vector<TBenchRow>& rows) {
  Execute("BEGIN");
  InsertRows(rows);
  Execute("COMMIT");
}

std::int64_t TSqliteSide::PointLookups(const std::vector<std::int32_t>& keys) {
  TStatement select(Prepare("SELECT NAME, VALUE FROM T WHERE ID = ?"));
  std::int64_t checksum = 0;
  for (std::int32_t key : keys) {
    sqlite3_bind_int(select.get(), 1, key);
    if (sqlite3_step(select.get()) == SQLITE_ROW) {
      checksum += 1 + sqlite3_column_int(select.get(), 1);
    }
    sqlite3_reset(select.get());
  }
  return checksum;
}

std::int64_t TSqliteSide::RangeCounts(const std::vector<TValueRange>& ranges) {
  TStatement count(Prepare("SELECT COUNT(*) FROM T WHERE VALUE BETWEEN ? AND ?"));
  std::int64_t total = 0;
  for (const TValueRange& range : ranges) {
    sqlite3_bind_int(count.get(), 1, range.Low);
    sqlite3_bind_int(count.get(), 2, range.High);
    Check(sqlite3_step(count.get()), SQLITE_ROW);
    total += sqlite3_column_int64(count.get(), 0);
    sqlite3_reset(count.get());
  }
  return total;
}

std::int64_t TSqliteSide::FilteredCounts(const std::vector<std::string>& conditions) {
  std::int64_t total = 0;
  for (const std::string& condition : conditions) {
    TStatement count(Prepare(("SELECT COUNT(*) FROM T WHERE " + condition).c_str()));
    Check(sqlite3_step(count.get()), SQLITE_ROW);
    total += sqlite3_column_int64(count.get(), 0);
  }
  return total;
}

std::int64_t TSqliteSide::ScanSum() {
  TStatement scan(Prepare("SELECT VALUE FROM T"));
  std::int64_t sum = 0;
  while (sqlite3_step(scan.get()) == SQLITE_ROW) sum += sqlite3_column_int(scan.get(), 0);
  return sum;
}

void TSqliteSide::DeleteAndInsert(const std::vector<std::int32_t>& keys,
                                  const std::vector<TBenchRow>& rows) {
  Execute("BEGIN");
  TStatement remove(Prepare("DELETE FROM T WHERE ID = ?"));
  for (std::int32_t key : keys) {
    sqlite3_bind_int(remove.get(), 1, key);
    Check(sqlite3_step(remove.get()), SQLITE_DONE);
    sqlite3_reset(remove.get());
  }
  InsertRows(rows);
  Execute("COMMIT");
}

std::int64_t TSqliteSide::RowCount() {
  TStatement count(Prepare("SELECT COUNT(*) FROM T"));
  Check(sqlite3_step(count.get()), SQLITE_ROW);
  return sqlite3_column_int64(count.get(), 0);
}

std::int64_t TSqliteSide::FileSize() const {
  struct stat info {};
  return stat(FPath.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
}

}  // namespace kura::bench
