// Sorting and index building, Kura against SQLite on the same generated rows, in one run.
//
// The table R (ID integer, V integer, S string of 20, G integer of 1 000 values), without
// indexes, is made on both sides in a temporary folder; then each round times:
//   1. ORDER BY V        SQLite steps every row of SELECT ID, V, S, G FROM R ORDER BY V;
//                        Kura sorts the table as a result table (SortTable) and walks it.
//   2. ORDER BY S        the same on the string column.
//   3. SELECT DISTINCT G SQLite steps SELECT DISTINCT G FROM R ORDER BY G (the order makes
//                        the answers comparable); Kura fills a result table of
//                        G from every row, sorts it removing duplicates and walks it.
//   4. CREATE INDEX V    SQLite CREATE INDEX on V; Kura AddIndex on V and the close that
//                        writes it.
// Kura's table is put back from a pristine copy before each workload (not timed). Both sides
// have the same cache: SQLite's default page cache of 2 000 KiB, and for Kura a record cache
// and index caches of that many bytes. The median of the rounds is printed per workload, and
// both sides must answer the same checksum of the IDs in output order (else exit code 2).
// Then the peak resident memory of a Kura sort is measured at the row counts given with
// --memory (VmHWM of a fresh process each, started from this program: a sort and its walk,
// against only opening the table).
//
// Usage: sort_vs_sqlite [--rows N] [--rounds N] [--memory N,N,...]
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "storage/field_types.h"
#include "storage/file_list.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kCacheBytes = 2'048'000;
constexpr int kGroups = 1000;
constexpr int kWalkBatch = 256;
constexpr int kId = 1, kV = 2, kS = 3, kG = 4;

struct TRow {
  std::int32_t Id;
  std::int32_t V;
  std::string S;
  std::int32_t G;
};

// Distinct V and S (so that both sides agree on the order without a tie-break), G in 1000.
std::vector<TRow> MakeRows(int count) {
  std::mt19937 random(20261211);
  std::vector<std::int32_t> values(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) values[static_cast<std::size_t>(i)] = i * 7 + 3;
  std::shuffle(values.begin(), values.end(), random);
  std::vector<TRow> rows;
  rows.reserve(values.size());
  for (int i = 0; i < count; ++i) {
    std::string s(20, ' ');
    for (int k = 0; k < 13; ++k)
      s[static_cast<std::size_t>(k)] = static_cast<char>('A' + random() % 26);
    // A unique tail after the random head: equal heads (rare) still order the same way.
    std::string tail = std::to_string(i);
    s.replace(13, tail.size(), tail);
    s.resize(13 + tail.size());
    rows.push_back({i + 1, values[static_cast<std::size_t>(i)], s,
                    static_cast<std::int32_t>(random() % kGroups)});
  }
  return rows;
}

// The order of the output, as one number.
struct TChecksum {
  std::uint64_t Value = 1469598103934665603ull;
  void Add(std::int64_t id) { Value = (Value ^ static_cast<std::uint64_t>(id)) * 1099511628211ull; }
};

double Milliseconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// --- SQLite -----------------------------------------------------------------------------------

class TSqlite {
 public:
  explicit TSqlite(const std::string& path) {
    if (sqlite3_open(path.c_str(), &FDb) != SQLITE_OK) throw std::runtime_error("SQLite open");
    Execute("PRAGMA synchronous=OFF");
  }
  ~TSqlite() { sqlite3_close(FDb); }
  TSqlite(const TSqlite&) = delete;
  TSqlite& operator=(const TSqlite&) = delete;

  void Execute(const std::string& sql) {
    if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(FDb));
  }

  void Fill(const std::vector<TRow>& rows) {
    Execute("CREATE TABLE R (ID INTEGER, V INTEGER, S CHAR(20), G INTEGER)");
    Execute("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO R VALUES (?, ?, ?, ?)");
    for (const TRow& row : rows) {
      sqlite3_bind_int(insert, 1, row.Id);
      sqlite3_bind_int(insert, 2, row.V);
      sqlite3_bind_text(insert, 3, row.S.data(), static_cast<int>(row.S.size()), SQLITE_STATIC);
      sqlite3_bind_int(insert, 4, row.G);
      if (sqlite3_step(insert) != SQLITE_DONE) throw std::runtime_error("SQLite insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Execute("COMMIT");
  }

  // Steps every row of the query, adding its first column to the checksum.
  std::uint64_t Walk(const char* sql) {
    sqlite3_stmt* query = Prepare(sql);
    TChecksum checksum;
    int step = 0;
    while ((step = sqlite3_step(query)) == SQLITE_ROW) checksum.Add(sqlite3_column_int64(query, 0));
    sqlite3_finalize(query);
    if (step != SQLITE_DONE) throw std::runtime_error("SQLite step");
    return checksum.Value;
  }

 private:
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(FDb, sql, -1, &statement, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(FDb));
    return statement;
  }

  sqlite3* FDb = nullptr;
};

// --- Kura -------------------------------------------------------------------------------------

TTableDefinition RowsTable() {
  TTableDefinition definition;
  definition.Fields = {
      MakeFieldDescriptor("ID", kFieldTypeInteger), MakeFieldDescriptor("V", kFieldTypeInteger),
      MakeFieldDescriptor("S", kFieldTypeString, 20), MakeFieldDescriptor("G", kFieldTypeInteger)};
  return definition;  // no primary index: a result table
}

std::int32_t IntegerOf(std::span<const std::uint8_t> record, const TFieldDescriptor& field) {
  std::uint8_t bytes[4] = {};
  GetField(record, field, bytes);
  return GetI32LE(bytes);
}

class TKura {
 public:
  explicit TKura(const std::string& folder) : FFolder(folder), FSession(false, FFiles) {
    FSession.SetForceBufferFlush(false);
    FSession.SetRecordBufferBytes(kCacheBytes / 2);
    FSession.SetIndexBufferBytes(kCacheBytes / 2);
    FSession.SetPrivateDir(folder);
    FDirectory = &FSession.OpenDirectory("Sort", folder);
  }
  ~TKura() { FSession.CloseAllDirectories(); }
  TKura(const TKura&) = delete;
  TKura& operator=(const TKura&) = delete;

  void Fill(const std::string& table, const std::vector<TRow>& rows) {
    auto cursor = Cursor(table);
    cursor->CreateTable(RowsTable(), true);
    cursor->Open();
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    std::uint8_t bytes[4];
    for (const TRow& row : rows) {
      cursor->InitNewRecord(buffer);
      for (const auto& [field, value] : {std::pair{kId, row.Id}, {kV, row.V}, {kG, row.G}}) {
        PutI32LE(bytes, value);
        cursor->SetField(field, buffer, bytes);
      }
      cursor->SetField(kS, buffer, row.S.c_str());
      cursor->PostInsert(buffer, false);
    }
  }

  std::unique_ptr<TDataCursor> Cursor(const std::string& table) {
    auto cursor = std::make_unique<TDataCursor>(*FDirectory);
    cursor->SetTableName(table);
    cursor->SetExclusive(true);
    return cursor;
  }

  // The table's files again as the pristine copy has them.
  void Restore(const std::string& from, const std::string& to) {
    for (const char* extension : {".DAT", ".IDX"}) {
      fs::copy_file(FFolder + "/" + from + extension, FFolder + "/" + to + extension,
                    fs::copy_options::overwrite_existing);
    }
  }

  // Sorts the table on one field (removing duplicates when asked) and walks it.
  std::uint64_t SortAndWalk(const std::string& table, int fieldNo, bool distinct) {
    auto cursor = Cursor(table);
    cursor->Open();
    TSortSpec spec;
    spec.Fields = {TSortField{cursor->GetFieldDesc(fieldNo).Descriptor, false}};
    if (distinct) spec.Duplicates = TDuplicateMode::Remove;
    cursor->SortTable(spec);
    return Walk(*cursor, 1);
  }

  // SELECT DISTINCT G: a result table of G from every row, sorted without duplicates.
  // fillMs receives the time spent filling the result table.
  std::uint64_t Distinct(const std::string& table, double& fillMs) {
    const auto start = std::chrono::steady_clock::now();
    auto result = Cursor("DISTINCT_G");
    TTableDefinition definition;
    definition.Fields = {MakeFieldDescriptor("G", kFieldTypeInteger)};
    result->SetTemporary(true);
    result->CreateTable(definition, true);
    result->Open();
    auto source = Cursor(table);
    source->Open();
    const TFieldDescriptor g = source->GetFieldDesc(kG).Descriptor;
    std::vector<std::uint8_t> buffers(static_cast<std::size_t>(source->RecordSize()) * kWalkBatch);
    std::vector<std::uint8_t> row(result->RecordSize());
    std::uint8_t bytes[4];
    source->First();
    for (std::uint16_t answer = 0; answer == 0;) {
      int count = kWalkBatch;
      answer = source->GetNextRecords(count, buffers);
      for (int i = 0; i < count; ++i) {
        result->InitNewRecord(row);
        PutI32LE(bytes, IntegerOf(Record(buffers, source->RecordSize(), i), g));
        result->SetField(1, row, bytes);
        result->PostInsert(row, false);
      }
    }
    fillMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    TSortSpec spec;
    spec.Fields = {TSortField{result->GetFieldDesc(1).Descriptor, false}};
    spec.Duplicates = TDuplicateMode::Remove;
    result->SortTable(spec);
    return Walk(*result, 1);
  }

  void AddIndex(const std::string& table, int fieldNo) {
    auto cursor = Cursor(table);
    cursor->Open();
    TIndexDefinition index;
    index.Name = "BY_" + cursor->GetFieldDesc(fieldNo).Descriptor.FieldName;
    index.Fields = {static_cast<std::uint16_t>(fieldNo)};
    cursor->AddIndex(index);
    cursor->Close();
  }

 private:
  static std::span<const std::uint8_t> Record(const std::vector<std::uint8_t>& buffers,
                                              std::size_t size, int i) {
    return std::span(buffers).subspan(static_cast<std::size_t>(i) * size, size);
  }

  // Every record in the cursor's order, adding one integer field to the checksum.
  static std::uint64_t Walk(TDataCursor& cursor, int fieldNo) {
    const TFieldDescriptor field = cursor.GetFieldDesc(fieldNo).Descriptor;
    const std::size_t size = cursor.RecordSize();
    std::vector<std::uint8_t> buffers(size * kWalkBatch);
    TChecksum checksum;
    cursor.First();
    for (std::uint16_t answer = 0; answer == 0;) {
      int count = kWalkBatch;
      answer = cursor.GetNextRecords(count, buffers);
      for (int i = 0; i < count; ++i) checksum.Add(IntegerOf(Record(buffers, size, i), field));
    }
    return checksum.Value;
  }

  std::string FFolder;
  TFileList FFiles;
  TDataSession FSession;
  TDataDirectory* FDirectory = nullptr;
};

// --- The run ----------------------------------------------------------------------------------

struct TWorkload {
  const char* Name;
  std::vector<double> Kura;
  std::vector<double> Sqlite;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Agree(std::uint64_t kura, std::uint64_t sqlite, const char* workload) {
  if (kura == sqlite) return;
  std::cerr << workload << ": Kura and SQLite answered different rows\n";
  std::exit(2);
}

void RunRounds(const std::string& folder, int rowCount, int rounds) {
  const std::vector<TRow> rows = MakeRows(rowCount);
  TSqlite sqlite(folder + "/rows.db");
  sqlite.Fill(rows);
  TKura kura(folder);
  kura.Fill("PRISTINE", rows);
  std::vector<double> distinctFill;
  std::vector<TWorkload> workloads = {{"ORDER BY integer", {}, {}},
                                      {"ORDER BY string", {}, {}},
                                      {"SELECT DISTINCT (1000 values)", {}, {}},
                                      {"CREATE INDEX integer", {}, {}}};
  for (int round = 0; round < rounds; ++round) {
    std::uint64_t k = 0, s = 0;
    const std::pair<int, const char*> orders[] = {{kV, "SELECT ID, V, S, G FROM R ORDER BY V"},
                                                  {kS, "SELECT ID, V, S, G FROM R ORDER BY S"}};
    for (std::size_t w = 0; w < 2; ++w) {
      kura.Restore("PRISTINE", "R");
      workloads[w].Kura.push_back(
          Milliseconds([&] { k = kura.SortAndWalk("R", orders[w].first, false); }));
      workloads[w].Sqlite.push_back(Milliseconds([&] { s = sqlite.Walk(orders[w].second); }));
      Agree(k, s, workloads[w].Name);
    }
    kura.Restore("PRISTINE", "R");
    workloads[2].Kura.push_back(
        Milliseconds([&] { k = kura.Distinct("R", distinctFill.emplace_back()); }));
    workloads[2].Sqlite.push_back(
        Milliseconds([&] { s = sqlite.Walk("SELECT DISTINCT G FROM R ORDER BY G"); }));
    Agree(k, s, workloads[2].Name);
    kura.Restore("PRISTINE", "R");
    workloads[3].Kura.push_back(Milliseconds([&] { kura.AddIndex("R", kV); }));
    workloads[3].Sqlite.push_back(
        Milliseconds([&] { sqlite.Execute("CREATE INDEX BY_V ON R (V)"); }));
    sqlite.Execute("DROP INDEX BY_V");
  }
  std::printf("%d rows, median of %d rounds, cache %d bytes each side\n", rowCount, rounds,
              kCacheBytes);
  std::printf("| workload | Kura ms | SQLite ms | Kura/SQLite |\n|---|---|---|---|\n");
  for (const TWorkload& w : workloads) {
    const double kuraMs = Median(w.Kura), sqliteMs = Median(w.Sqlite);
    std::printf("| %s | %.1f | %.1f | %.2f |\n", w.Name, kuraMs, sqliteMs, kuraMs / sqliteMs);
  }
  std::printf("(Kura's SELECT DISTINCT: %.1f ms of it filling the result table row by row)\n",
              Median(distinctFill));
}

// --- Peak memory of a sort, each in a fresh process ----------------------------------------

// The peak resident set of this process so far, in KiB (VmHWM belongs to the process's own
// memory map, which exec makes afresh: unlike getrusage it owes nothing to the parent).
long PeakOfThisProcess() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long peak = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld", &peak) == 1) break;
  }
  std::fclose(status);
  return peak;
}

// Child mode: open the table (and with sort, sort it on S and walk it), print the peak.
int RunMemoryChild(const std::string& folder, bool sort) {
  {
    TKura kura(folder);
    if (sort) {
      kura.SortAndWalk("R", kS, false);
    } else {
      auto cursor = kura.Cursor("R");
      cursor->Open();
    }
  }
  std::printf("%ld\n", PeakOfThisProcess());
  return 0;
}

// The peak resident set of a fresh run of this program in child mode, in KiB.
long PeakKilobytes(const char* self, const std::string& folder, bool sort) {
  const std::string command = std::string("'") + self + "' " +
                              (sort ? "--sort-child" : "--open-child") + " '" + folder + "'";
  std::FILE* child = popen(command.c_str(), "r");
  long peak = -1;
  if (child == nullptr || std::fscanf(child, "%ld", &peak) != 1 || pclose(child) != 0)
    throw std::runtime_error("the memory child failed");
  return peak;
}

void MeasureMemory(const char* self, const std::string& folder, const std::vector<int>& counts) {
  std::printf("\npeak resident memory of a process that opens R / sorts R on S and walks it\n");
  std::printf("| rows | open only KiB | sort KiB | sort - open KiB |\n|---|---|---|---|\n");
  for (const int count : counts) {
    {
      TKura kura(folder);
      kura.Fill("R", MakeRows(count));
    }
    const long open = PeakKilobytes(self, folder, false);
    const long sorted = PeakKilobytes(self, folder, true);
    std::printf("| %d | %ld | %ld | %ld |\n", count, open, sorted, sorted - open);
  }
}

std::vector<int> NumberList(const std::string& text) {
  std::vector<int> numbers;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    numbers.push_back(std::stoi(text.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return numbers;
}

int Run(int argc, char** argv) {
  if (argc == 3 &&
      (std::string(argv[1]) == "--sort-child" || std::string(argv[1]) == "--open-child"))
    return RunMemoryChild(argv[2], std::string(argv[1]) == "--sort-child");
  int rows = 1'000'000, rounds = 5;
  std::vector<int> memory = {100'000, 1'000'000};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--rows")
      rows = std::stoi(value);
    else if (name == "--rounds")
      rounds = std::stoi(value);
    else if (name == "--memory")
      memory = NumberList(value);
    else
      throw std::invalid_argument("usage: sort_vs_sqlite [--rows N] [--rounds N] [--memory N,N]");
  }
  char pattern[] = "/tmp/kura-sort-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
  const std::string folder = pattern;
  RunRounds(folder, rows, rounds);
  MeasureMemory(argv[0], folder, memory);
  fs::remove_all(folder);
  return 0;
}

}  // namespace
}  // namespace kura::bench

int main(int argc, char** argv) {
  try {
    return kura::bench::Run(argc, argv);
  } catch (const kura::EKuraEngineError& error) {
    std::cerr << "engine error " << error.ErrorCode << ": " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
  }
  return 1;
}
