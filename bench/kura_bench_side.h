// The Kura side of kura_vs_sqlite: the table T (ID integer, NAME string 20, VALUE integer;
// primary index on ID, secondary indexes BY_NAME and BY_VALUE) on real files in a folder,
// reached through a shared cursor of a session of its own whose record and index buffers
// are raised to SQLite's page cache size.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bench/workload_data.h"
#include "engine/data_cursor.h"
#include "engine/data_session.h"
#include "storage/file_list.h"

namespace kura::bench {

struct TFileSizes {
  std::int64_t Data = 0;
  std::int64_t Index = 0;
  std::int64_t Blob = 0;
  std::int64_t Total() const { return Data + Index + Blob; }
};

// SQLite's default page cache (2 000 KiB), split between records and index pages.
inline constexpr std::int32_t kCacheBytes = 2'048'000;
inline constexpr std::int32_t kRecordCacheBytes = 65'536;

class TKuraSide : public TBenchSide {
 public:
  explicit TKuraSide(const std::string& folder);
  ~TKuraSide() override;
  TKuraSide(const TKuraSide&) = delete;
  TKuraSide& operator=(const TKuraSide&) = delete;

  void BulkInsert(const std::vector<TBenchRow>& rows) override;
  std::int64_t PointLookups(const std::vector<std::int32_t>& keys) override;
  std::int64_t RangeCounts(const std::vector<TValueRange>& ranges) override;
  std::int64_t ScanSum() override;
  void DeleteAndInsert(const std::vector<std::int32_t>& keys,
                       const std::vector<TBenchRow>& rows) override;
  std::int64_t RowCount() override;
  std::int64_t FilteredCounts(const std::vector<std::string>& conditions) override;
  void Reopen() override;
  TFileSizes FileSizes() const;

 private:
  std::unique_ptr<TDataCursor> OpenCursor();
  void InsertRows(const std::vector<TBenchRow>& rows);
  // A record image with only the field set (the other fields NULL), for keys and limits.
  std::vector<std::uint8_t> ImageWith(int fieldNo, std::int32_t value) const;
  std::int32_t ValueOf(std::span<const std::uint8_t> record) const;

  std::string FFolder;
  TFileList FFiles;
  TDataSession FSession;
  TDataDirectory* FDirectory = nullptr;
  std::unique_ptr<TDataCursor> FCursor;
};

}  // namespace kura::bench
