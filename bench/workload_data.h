// The generated data both sides of kura_vs_sqlite work on, the same for every round: rows
// with keys 1..n, names of 8 to 20 capital letters and values a shuffle of 0..n-1 (so that
// a value range [a, b] holds exactly b - a + 1 rows), the lookup order, the ranges, the keys
// the churn deletes and the rows it inserts. Drawn from a fixed seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kura::bench {

struct TBenchRow {
  std::int32_t Id = 0;
  std::string Name;
  std::int32_t Value = 0;
};

// A value range, both ends included.
struct TValueRange {
  std::int32_t Low = 0;
  std::int32_t High = 0;
};

struct TWorkloadData {
  std::vector<TBenchRow> Rows;
  std::vector<std::int32_t> LookupKeys;
  std::vector<TValueRange> Ranges;
  std::vector<std::int32_t> DeletedKeys;
  std::vector<TBenchRow> NewRows;
};

// rows of at least 1000; the ranges hold 1000 .. min(50 000, rows / 2) rows.
TWorkloadData MakeWorkloadData(int rows);

// One side of the comparison: the workloads on one engine's table of the rows.
class TBenchSide {
 public:
  virtual ~TBenchSide() = default;
  virtual void BulkInsert(const std::vector<TBenchRow>& rows) = 0;
  // The rows found plus the sum of their values.
  virtual std::int64_t PointLookups(const std::vector<std::int32_t>& keys) = 0;
  // The total of the counts.
  virtual std::int64_t RangeCounts(const std::vector<TValueRange>& ranges) = 0;
  virtual std::int64_t ScanSum() = 0;
  virtual void DeleteAndInsert(const std::vector<std::int32_t>& keys,
                               const std::vector<TBenchRow>& rows) = 0;
  virtual std::int64_t RowCount() = 0;
  // The total of the record counts of the conditions, each a WHERE condition (Kura: a cursor
  // filter) on the table.
  virtual std::int64_t FilteredCounts(const std::vector<std::string>& conditions) = 0;
  // Closes the table and opens it again: the next workload starts with empty caches (the
  // operating system's file cache stays as it is, on both sides alike).
  virtual void Reopen() = 0;
};

}  // namespace kura::bench
