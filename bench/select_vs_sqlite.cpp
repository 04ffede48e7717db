// SELECT execution, Kura against SQLite on the same data in the same run.
//
// Tables (on files in a temporary folder, both sides): BIG (ID integer primary key, GRP
// integer with an index, VAL integer without one, NAME CHAR(20)) of --rows rows, GRP in
// 0..999; SMALL (GID integer primary key, LABEL CHAR(20)) of 1 000 rows. Workloads, each
// timed as the median of --rounds rounds:
//   1. live     SELECT * FROM BIG WHERE GRP = ? ORDER BY GRP, 100 values, opened and walked
//   2. count    SELECT COUNT(*) FROM BIG WHERE GRP BETWEEN ? AND ?, 100 ranges
//   3. group    SELECT GRP, SUM(VAL) FROM BIG GROUP BY GRP, walked
//   4. join     SELECT B.ID, S.LABEL FROM BIG B JOIN SMALL S ON S.GID = B.GRP, walked
//   5. top      SELECT ID, VAL FROM BIG ORDER BY VAL DESC TOP 10 (LIMIT 10), walked
// Both sides' answers are summed into checksums; a difference stops the program (exit 2).
// Kura's record and index buffers get SQLite's default page cache size. Times are processor
// time of the process (the machine is shared), in milliseconds.
//
// Usage: select_vs_sqlite [--rows N] [--rounds N] [--only W]  (W: 1-based workload to time alone)
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "sql/query_database.h"
#include "storage/field_types.h"
#include "storage/file_list.h"

namespace kura::bench {
namespace {

constexpr int kGroups = 1000;
constexpr int kLookups = 100;
constexpr std::int32_t kCacheBytes = 2'048'000;

struct TData {
  std::vector<std::int32_t> Grp, Val;
  std::vector<std::int32_t> Lookups;
};

TData MakeData(int rows) {
  std::mt19937 random(42);
  TData data;
  for (int i = 0; i < rows; ++i) {
    data.Grp.push_back(static_cast<std::int32_t>(random() % kGroups));
    data.Val.push_back(static_cast<std::int32_t>(random() % 100000));
  }
  for (int i = 0; i < kLookups; ++i)
    data.Lookups.push_back(static_cast<std::int32_t>(random() % kGroups));
  return data;
}

std::string Name(int i) {
  return "name" + std::to_string(i % 977);
}

// --- Kura -------------------------------------------------------------------------------------

class TKura {
 public:
  TKura(const std::string& folder, const TData& data)
      : FSession(false, FFiles),
        FDirectory(FSession.OpenDirectory("Bench", folder)),
        FDatabase(FDirectory) {
    FSession.SetRecordBufferBytes(kCacheBytes / 2);
    FSession.SetIndexBufferBytes(kCacheBytes / 2);
    FSession.SetPrivateDir(folder);
    TTableDefinition big;
    big.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger),
                  MakeFieldDescriptor("GRP", kFieldTypeInteger),
                  MakeFieldDescriptor("VAL", kFieldTypeInteger),
                  MakeFieldDescriptor("NAME", kFieldTypeString, 20)};
    big.PrimaryIndex.Fields = {1};
    big.PrimaryIndex.Unique = true;
    TIndexDefinition byGrp;
    byGrp.Name = "ByGrp";
    byGrp.Fields = {2};
    big.SecondaryIndexes.push_back(byGrp);
    Fill("BIG", big, static_cast<int>(data.Grp.size()),
         [&](TDataCursor& c, std::span<std::uint8_t> r, int i) {
           std::int32_t id = i + 1;
           c.SetField(1, r, &id);
           c.SetField(2, r, &data.Grp[static_cast<std::size_t>(i)]);
           c.SetField(3, r, &data.Val[static_cast<std::size_t>(i)]);
           c.SetField(4, r, Name(i).c_str());
         });
    TTableDefinition small;
    small.Fields = {MakeFieldDescriptor("GID", kFieldTypeInteger),
                    MakeFieldDescriptor("LABEL", kFieldTypeString, 20)};
    small.PrimaryIndex.Fields = {1};
    small.PrimaryIndex.Unique = true;
    Fill("SMALL", small, kGroups, [&](TDataCursor& c, std::span<std::uint8_t> r, int i) {
      c.SetField(1, r, &i);
      c.SetField(2, r, ("label" + std::to_string(i)).c_str());
    });
  }

  // Prepares (once per call), executes and walks; answers rows × first column sum.
  std::int64_t Run(const std::string& sql, bool live,
                   const std::vector<std::vector<std::int32_t>>& params) {
    TQueryStatement statement(&FDatabase);
    statement.FRequestLive = live;
    statement.Prepare(sql);
    std::int64_t checksum = 0;
    for (const auto& values : params) {
      std::vector<TFieldDescriptor> descriptors;
      std::vector<std::uint8_t> buffer;
      for (std::int32_t value : values) {
        TFieldDescriptor field = MakeFieldDescriptor("P", kFieldTypeInteger);
        field.FieldOffset = static_cast<std::uint16_t>(buffer.size());
        field.PhysicalSize = 4;
        descriptors.push_back(field);
        buffer.push_back(1);
        std::uint8_t bytes[4];
        std::memcpy(bytes, &value, 4);
        buffer.insert(buffer.end(), bytes, bytes + 4);
      }
      TDataCursor* cursor = statement.Execute(static_cast<int>(values.size()), descriptors.data(),
                                              buffer.data(), buffer.size());
      checksum += Walk(*cursor);
    }
    return checksum;
  }

 private:
  void Fill(const char* name, const TTableDefinition& definition, int rows,
            const std::function<void(TDataCursor&, std::span<std::uint8_t>, int)>& set) {
    FDirectory.CloseTable(FDirectory.CreateTable(name, false, definition, true));
    TDataCursor cursor(FDirectory);
    cursor.SetTableName(name);
    cursor.SetExclusive(true);
    cursor.Open();
    std::vector<std::uint8_t> record(cursor.RecordSize());
    for (int i = 0; i < rows; ++i) {
      cursor.InitNewRecord(record);
      set(cursor, record, i);
      cursor.PostInsert(record, false);
    }
    cursor.Close();
  }

  static std::int64_t Walk(TDataCursor& cursor) {
    std::vector<std::uint8_t> record(cursor.RecordSize());
    std::vector<std::uint8_t> value(8);
    std::int64_t rows = 0;
    std::int64_t sum = 0;
    cursor.First();
    while (cursor.GetNextRecord(record) == 0) {
      ++rows;
      std::int64_t first = 0;
      const TFieldDescriptor& field = cursor.GetFieldDesc(1).Descriptor;
      if (!GetField(record, field, value)) {
        if (field.FieldType == kFieldTypeLargeInt) {
          std::memcpy(&first, value.data(), 8);
        } else {
          std::int32_t small = 0;
          std::memcpy(&small, value.data(), 4);
          first = small;
        }
      }
      sum += first;
    }
    return rows * 1000003 + sum;
  }

  TFileList FFiles;
  TDataSession FSession;
  TDataDirectory& FDirectory;
  TSqlDatabase FDatabase;
};

// --- SQLite -----------------------------------------------------------------------------------

class TSqlite {
 public:
  TSqlite(const std::string& folder, const TData& data) {
    if (sqlite3_open((folder + "/bench.db").c_str(), &FDb) != SQLITE_OK)
      throw std::runtime_error("sqlite");
    Exec("CREATE TABLE BIG (ID INTEGER PRIMARY KEY, GRP INTEGER, VAL INTEGER, NAME CHAR(20))");
    Exec("CREATE INDEX ByGrp ON BIG (GRP)");
    Exec("CREATE TABLE SMALL (GID INTEGER PRIMARY KEY, LABEL CHAR(20))");
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(FDb, "INSERT INTO BIG VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (std::size_t i = 0; i < data.Grp.size(); ++i) {
      sqlite3_bind_int(insert, 1, static_cast<int>(i) + 1);
      sqlite3_bind_int(insert, 2, data.Grp[i]);
      sqlite3_bind_int(insert, 3, data.Val[i]);
      std::string name = Name(static_cast<int>(i));
      sqlite3_bind_text(insert, 4, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    for (int i = 0; i < kGroups; ++i) {
      Exec("INSERT INTO SMALL VALUES (" + std::to_string(i) + ", 'label" + std::to_string(i) +
           "')");
    }
    Exec("COMMIT");
  }
  ~TSqlite() { sqlite3_close(FDb); }

  std::int64_t Run(const std::string& sql, const std::vector<std::vector<std::int32_t>>& params) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(FDb));
    }
    std::int64_t checksum = 0;
    for (const auto& values : params) {
      for (std::size_t i = 0; i < values.size(); ++i)
        sqlite3_bind_int(statement, static_cast<int>(i) + 1, values[i]);
      std::int64_t rows = 0;
      std::int64_t sum = 0;
      while (sqlite3_step(statement) == SQLITE_ROW) {
        ++rows;
        sum += sqlite3_column_int64(statement, 0);
      }
      sqlite3_reset(statement);
      checksum += rows * 1000003 + sum;
    }
    sqlite3_finalize(statement);
    return checksum;
  }

 private:
  void Exec(const std::string& sql) {
    if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(FDb));
  }
  sqlite3* FDb = nullptr;
};

struct TWorkload {
  const char* Name;
  std::string Kura;
  std::string Sqlite;
  bool Live;
  std::vector<std::vector<std::int32_t>> Params;
};

// Processor time of the process: the machine the benchmarks run on is shared, and waiting
// for a processor is no cost of either engine.
double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Seconds(const std::function<void()>& work) {
  double start = ProcessSeconds();
  work();
  return ProcessSeconds() - start;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Main(int argc, char** argv) {
  int rows = 100'000;
  int rounds = 5;
  int only = 0;  // 1-based workload to time alone (for profiling), 0 for all
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--rows") rows = std::max(1000, std::atoi(argv[i + 1]));
    if (name == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    if (name == "--only") only = std::atoi(argv[i + 1]);
  }
  TData data = MakeData(rows);
  std::vector<std::vector<std::int32_t>> single(kLookups), ranges(kLookups);
  for (int i = 0; i < kLookups; ++i) {
    single[static_cast<std::size_t>(i)] = {data.Lookups[static_cast<std::size_t>(i)]};
    ranges[static_cast<std::size_t>(i)] = {data.Lookups[static_cast<std::size_t>(i)],
                                           data.Lookups[static_cast<std::size_t>(i)] + 50};
  }
  std::vector<TWorkload> workloads = {
      {"live WHERE GRP = ? ORDER BY GRP", "SELECT * FROM BIG WHERE GRP = ? ORDER BY GRP",
       "SELECT * FROM BIG WHERE GRP = ? ORDER BY GRP", true, single},
      {"COUNT(*) WHERE GRP BETWEEN", "SELECT COUNT(*) FROM BIG WHERE GRP BETWEEN ? AND ?",
       "SELECT COUNT(*) FROM BIG WHERE GRP BETWEEN ? AND ?", false, ranges},
      {"GROUP BY GRP, SUM(VAL)",
       "SELECT GRP, SUM(VAL) FROM BIG GROUP BY GRP",
       "SELECT GRP, SUM(VAL) FROM BIG GROUP BY GRP",
       false,
       {{}}},
      {"join BIG x SMALL on GRP",
       "SELECT B.ID, S.LABEL FROM BIG B JOIN SMALL S ON S.GID = B.GRP",
       "SELECT B.ID, S.LABEL FROM BIG B JOIN SMALL S ON S.GID = B.GRP",
       false,
       {{}}},
      {"ORDER BY VAL (no index) TOP 10",
       "SELECT ID, VAL FROM BIG ORDER BY VAL DESC TOP 10",
       "SELECT ID, VAL FROM BIG ORDER BY VAL DESC LIMIT 10",
       false,
       {{}}},
  };
  std::vector<std::vector<double>> kuraTimes(workloads.size()), sqliteTimes(workloads.size());
  for (int round = 0; round < rounds; ++round) {
    char pattern[] = "/tmp/select_vs_sqlite.XXXXXX";
    std::string folder = mkdtemp(pattern);
    {
      TKura kura(folder + "/", data);
      TSqlite sqlite(folder, data);
      for (std::size_t w = 0; w < workloads.size(); ++w) {
        const TWorkload& load = workloads[w];
        if (only > 0 && static_cast<std::size_t>(only) != w + 1) continue;
        std::int64_t mine = 0;
        std::int64_t theirs = 0;
        kuraTimes[w].push_back(
            Seconds([&] { mine = kura.Run(load.Kura, load.Live, load.Params); }));
        sqliteTimes[w].push_back(Seconds([&] { theirs = sqlite.Run(load.Sqlite, load.Params); }));
        if (mine != theirs) {
          std::fprintf(stderr, "%s: checksums differ (kura %lld, sqlite %lld)\n", load.Name,
                       static_cast<long long>(mine), static_cast<long long>(theirs));
          std::exit(2);
        }
      }
    }
    std::filesystem::remove_all(folder);
  }
  std::printf("%-34s %12s %12s %8s\n", "workload (median of rounds)", "kura cpu ms",
              "sqlite cpu ms", "ratio");
  for (std::size_t w = 0; w < workloads.size(); ++w) {
    if (kuraTimes[w].empty()) continue;
    double kura = Median(kuraTimes[w]) * 1000;
    double sqlite = Median(sqliteTimes[w]) * 1000;
    std::printf("%-34s %12.2f %12.2f %8.2f\n", workloads[w].Name, kura, sqlite, kura / sqlite);
  }
  return 0;
}

}  // namespace
}  // namespace kura::bench

int main(int argc, char** argv) {
  try {
    return kura::bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "select_vs_sqlite: %s\n", e.what());
    return 1;
  }
}
