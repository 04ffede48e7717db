// The SQLite side of kura_vs_sqlite: one connection to a database file, synchronous=OFF,
// the default page cache, prepared statements for every workload.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/workload_data.h"

namespace kura::bench {

class TSqliteSide : public TBenchSide {
 public:
  // Creates the table T (ID INTEGER PRIMARY KEY, NAME CHAR(20), VALUE INTEGER) with the
  // indexes BY_NAME and BY_VALUE in a new database file.
  explicit TSqliteSide(std::string path);
  ~TSqliteSide() override;
  TSqliteSide(const TSqliteSide&) = delete;
  TSqliteSide& operator=(const TSqliteSide&) = delete;

  void BulkInsert(const std::vector<TBenchRow>& rows) override;
  std::int64_t PointLookups(const std::vector<std::int32_t>& keys) override;
  std::int64_t RangeCounts(const std::vector<TValueRange>& ranges) override;
  std::int64_t ScanSum() override;
  void DeleteAndInsert(const std::vector<std::int32_t>& keys,
                       const std::vector<TBenchRow>& rows) override;
  std::int64_t RowCount() override;
  std::int64_t FilteredCounts(const std::vector<std::string>& conditions) override;
  void Reopen() override;
  std::int64_t FileSize() const;

 private:
  void Open();
  void Execute(const char* sql);
  sqlite3_stmt* Prepare(const char* sql);
  void Check(int result, int expected = SQLITE_OK);
  void InsertRows(const std::vector<TBenchRow>& rows);

  std::string FPath;
  sqlite3* FDb = nullptr;
};

}  // namespace kura::bench
