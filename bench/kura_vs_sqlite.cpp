// Kura against SQLite on the same generated data, in the same run.
//
// Each round builds a fresh table on both sides in a temporary folder and runs five
// workloads on it, timing each: 1. a bulk insert of 100 000 rows (INTEGER key, CHAR(20)
// name, INTEGER value; a unique primary index and secondary indexes on name and value), in
// one transaction; 2. 100 000 point lookups by the key in random order; 3. 1 000 range
// counts on the value index, ranges of 1 000 to 50 000 rows; 4. a full scan summing the
// value column; 5. every second row deleted and as many new rows inserted, in one
// transaction, with the files' sizes before and after. Five rounds are run and the median
// of each workload reported, as a table on stdout and as JSON. Then (before the churn) five
// workloads of filtered counts, Kura's cursor filters against SELECT COUNT(*) ... WHERE:
// equalities on the name index, ranges on the value index, a value range and-ed with a
// condition no index serves, an OR of two indexed conditions, and a word inside the name.
// Last (after the churn when it runs), workloads 2-4 once more, each right after both sides
// closed and opened the table again: the same cache memory on both sides (2c-4c).
//
// Both sides answer the same checksums (found rows, counted rows, sums); a difference stops
// the program with exit code 2, since a figure from a wrong answer means nothing.
//
// Usage: kura_vs_sqlite [--json PATH] [--rows N] [--rounds N] [--churn 0|1] [--filters L]
// (--churn 0 leaves out workload 5, whose time otherwise dominates a profile of the others.)
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "bench/kura_bench_side.h"
#include "bench/sqlite_bench_side.h"
#include "bench/workload_data.h"

namespace kura::bench {
namespace {

struct TOptions {
  std::string JsonPath = GORAMINA_BENCH_JSON_DEFAULT;
  int Rows = 100'000;
  int Rounds = 5;
  bool Churn = true;
  // Filter workloads (6-10) to run; empty: all of them.
  std::vector<int> Filters;
};

constexpr const char* kUsage =
    "usage: kura_vs_sqlite [--json PATH] [--rows N] [--rounds N] [--churn 0|1]\n"
    "                      [--filters L]\n"
    "  --json PATH   where the JSON report goes\n"
    "  --rows N      rows of the generated table (at least 1000; default 100000)\n"
    "  --rounds N    rounds whose median is reported (default 5)\n"
    "  --churn 0|1   0 leaves out workload 5 (delete half, insert as many)\n"
    "  --filters L   only these filter workloads, numbers 6-10 separated by commas\n";

// A whole number option value, refused with a message when it is not one.
int NumberOption(const std::string& name, const std::string& value) {
  std::size_t used = 0;
  int number = 0;
  try {
    number = std::stoi(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != value.size())
    throw std::invalid_argument(name + " needs a whole number, not \"" + value + "\"");
  return number;
}

// Answers false for --help (the usage has been printed); throws for anything it cannot use.
bool ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      std::cout << kUsage;
      return false;
    }
    if (i + 1 >= argc) throw std::invalid_argument(name + " needs a value\n" + kUsage);
    const std::string value = argv[i + 1];
    if (name == "--json") {
      options.JsonPath = value;
    } else if (name == "--rows") {
      options.Rows = std::max(1000, NumberOption(name, value));
    } else if (name == "--churn") {
      options.Churn = value != "0";
    } else if (name == "--filters") {
      for (std::size_t at = 0; at < value.size();) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        options.Filters.push_back(NumberOption(name, value.substr(at, comma - at)));
        at = comma + 1;
      }
    } else if (name == "--rounds") {
      options.Rounds = std::max(1, NumberOption(name, value));
    } else {
      throw std::invalid_argument("unknown option " + name + "\n" + kUsage);
    }
  }
  return true;
}

// One workload's times over the rounds, both sides.
struct TWorkloadTimes {
  std::string Name;
  std::vector<double> Kura;
  std::vector<double> Sqlite;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double SecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A folder under the system's temporary folder, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kura_vs_sqlite.XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

void Check(const char* what, std::int64_t kura, std::int64_t sqlite) {
  if (kura == sqlite) return;
  std::cerr << "kura_vs_sqlite: " << what << " differ: Kura " << kura << ", SQLite " << sqlite
            << "\n";
  std::exit(2);
}

// One workload of filtered counts: the same WHERE conditions on both sides.
struct TFilterWorkload {
  std::string Name;
  std::vector<std::string> Conditions;
};

std::vector<TFilterWorkload> FilterWorkloads(const TWorkloadData& data) {
  std::mt19937 random(31);
  const auto name = [&] { return data.Rows[random() % data.Rows.size()].Name; };
  const auto rows = static_cast<std::int32_t>(data.Rows.size());
  std::vector<TFilterWorkload> workloads(5);
  workloads[0].Name = "6. 200 counts NAME = 'X' (indexed string)";
  for (int i = 0; i < 200; ++i) workloads[0].Conditions.push_back("NAME = '" + name() + "'");
  workloads[1].Name = "7. 100 counts VALUE BETWEEN a AND b (indexed)";
  for (std::size_t i = 0; i < 100 && i < data.Ranges.size(); ++i) {
    workloads[1].Conditions.push_back("VALUE BETWEEN " + std::to_string(data.Ranges[i].Low) +
                                      " AND " + std::to_string(data.Ranges[i].High));
  }
  workloads[2].Name = "8. 20 counts indexed range AND unindexed";
  for (std::size_t i = 0; i < 20 && i < data.Ranges.size(); ++i) {
    workloads[2].Conditions.push_back("VALUE BETWEEN " + std::to_string(data.Ranges[i].Low) +
                                      " AND " + std::to_string(data.Ranges[i].High) +
                                      " AND ID + 0 > " + std::to_string(rows / 2));
  }
  workloads[3].Name = "9. 20 counts indexed OR indexed";
  for (int i = 0; i < 20; ++i) {
    workloads[3].Conditions.push_back("VALUE < " + std::to_string(random() % (rows / 10)) +
                                      " OR ID < " + std::to_string(random() % (rows / 10)));
  }
  workloads[4].Name = "10. 5 counts word in NAME (LIKE '%..%')";
  for (int i = 0; i < 5; ++i) {
    workloads[4].Conditions.push_back("NAME LIKE '%" + name().substr(2, 3) + "%'");
  }
  return workloads;
}

struct TSizes {
  TFileSizes KuraBefore, KuraAfter;
  std::int64_t SqliteBefore = 0, SqliteAfter = 0;
};

void RunChurn(const TWorkloadData& data, std::vector<TWorkloadTimes>& times, TSizes& sizes,
              TKuraSide& kura, TSqliteSide& sqlite);
void RunCold(const TWorkloadData& data, std::vector<TWorkloadTimes>& times, TKuraSide& kura,
             TSqliteSide& sqlite);

// One round: both sides on fresh files, each workload timed; the sizes of the last round
// are kept.
void RunRound(const TOptions& options, const TWorkloadData& data,
              const std::vector<TFilterWorkload>& filters, std::vector<TWorkloadTimes>& times,
              TSizes& sizes) {
  TTempFolder folder;
  TKuraSide kura(folder.Path());
  TSqliteSide sqlite(folder.Path() + "/bench.sqlite");
  std::int64_t k = 0, s = 0;
  times[0].Kura.push_back(SecondsOf([&] { kura.BulkInsert(data.Rows); }));
  times[0].Sqlite.push_back(SecondsOf([&] { sqlite.BulkInsert(data.Rows); }));
  Check("row counts after the load", kura.RowCount(), sqlite.RowCount());
  times[1].Kura.push_back(SecondsOf([&] { k = kura.PointLookups(data.LookupKeys); }));
  times[1].Sqlite.push_back(SecondsOf([&] { s = sqlite.PointLookups(data.LookupKeys); }));
  Check("point lookup checksums", k, s);
  times[2].Kura.push_back(SecondsOf([&] { k = kura.RangeCounts(data.Ranges); }));
  times[2].Sqlite.push_back(SecondsOf([&] { s = sqlite.RangeCounts(data.Ranges); }));
  Check("range count totals", k, s);
  times[3].Kura.push_back(SecondsOf([&] { k = kura.ScanSum(); }));
  times[3].Sqlite.push_back(SecondsOf([&] { s = sqlite.ScanSum(); }));
  Check("scan sums", k, s);
  for (std::size_t i = 0; i < filters.size(); ++i) {
    const int number = static_cast<int>(6 + i);
    if (!options.Filters.empty() &&
        std::find(options.Filters.begin(), options.Filters.end(), number) == options.Filters.end())
      continue;
    times[5 + i].Kura.push_back(SecondsOf([&] { k = kura.FilteredCounts(filters[i].Conditions); }));
    times[5 + i].Sqlite.push_back(
        SecondsOf([&] { s = sqlite.FilteredCounts(filters[i].Conditions); }));
    Check(filters[i].Name.c_str(), k, s);
  }
  sizes.KuraBefore = kura.FileSizes();
  sizes.SqliteBefore = sqlite.FileSize();
  if (options.Churn) RunChurn(data, times, sizes, kura, sqlite);
  RunCold(data, times, kura, sqlite);
}

// Workload 5, whose sizes are kept.
void RunChurn(const TWorkloadData& data, std::vector<TWorkloadTimes>& times, TSizes& sizes,
              TKuraSide& kura, TSqliteSide& sqlite) {
  times[4].Kura.push_back(SecondsOf([&] { kura.DeleteAndInsert(data.DeletedKeys, data.NewRows); }));
  times[4].Sqlite.push_back(
      SecondsOf([&] { sqlite.DeleteAndInsert(data.DeletedKeys, data.NewRows); }));
  Check("row counts after the churn", kura.RowCount(), sqlite.RowCount());
  Check("scan sums after the churn", kura.ScanSum(), sqlite.ScanSum());
  sizes.KuraAfter = kura.FileSizes();
  sizes.SqliteAfter = sqlite.FileSize();
}

// Workloads 2-4 again, each on a table both sides have just closed and opened again, so that
// both start from their caches' budgets rather than from what the load left cached.
void RunCold(const TWorkloadData& data, std::vector<TWorkloadTimes>& times, TKuraSide& kura,
             TSqliteSide& sqlite) {
  const auto cold = [&](std::size_t row, const char* what, const auto& kuraWork,
                        const auto& sqliteWork) {
    std::int64_t k = 0, s = 0;
    kura.Reopen();
    times[row].Kura.push_back(SecondsOf([&] { k = kuraWork(); }));
    sqlite.Reopen();
    times[row].Sqlite.push_back(SecondsOf([&] { s = sqliteWork(); }));
    Check(what, k, s);
  };
  const std::size_t first = times.size() - 3;
  cold(
      first, "cold point lookup checksums", [&] { return kura.PointLookups(data.LookupKeys); },
      [&] { return sqlite.PointLookups(data.LookupKeys); });
  cold(
      first + 1, "cold range count totals", [&] { return kura.RangeCounts(data.Ranges); },
      [&] { return sqlite.RangeCounts(data.Ranges); });
  cold(
      first + 2, "cold scan sums", [&] { return kura.ScanSum(); },
      [&] { return sqlite.ScanSum(); });
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Percent(std::int64_t before, std::int64_t after) {
  if (before == 0) return "-";
  return Fixed(100.0 * static_cast<double>(after - before) / static_cast<double>(before), 1) + " %";
}

const char* kFairTerms[] = {
    "same cache memory to start with: SQLite's default page cache (2 000 KiB); Kura's session "
    "buffers raised to the same total (records 64 KiB, each of the 4 index caches in use 484 "
    "KiB)",
    "caches during a transaction: Kura's grow to hold every change and keep that size after "
    "the commit (so after the load the whole table stays cached: more memory than SQLite's "
    "2 000 KiB); SQLite spills beyond its cache",
    "no forced flushing: SQLite synchronous=OFF (journal_mode DELETE), Kura ForceBufferFlush off",
    "bulk loads and the delete/insert churn inside one transaction on both sides",
    "Kura through a shared (not exclusive) cursor on real files; SQLite prepared statements, "
    "one connection",
    "Kura's full scan walks record-number order, SQLite's its rowid table",
    "filtered counts (6-10): Kura compiles each condition into a filter of a cursor in "
    "record-number order (complement scans and estimates on, as the SQL layer installs a WHERE "
    "condition on a source table) and reads RecordCount; SQLite prepares "
    "SELECT COUNT(*) FROM T WHERE <the same condition> and steps it once; both on the table "
    "as loaded, before the churn",
    "2c-4c: each side closes and reopens its table (Kura: the directory and cursor; SQLite: "
    "the connection) just before the workload, so both start from empty caches of their "
    "budgets; they run last, after the churn when it runs",
    "ID + 0 keeps both engines from using an index for that part (8); the word match (10) is "
    "LIKE '%word%' on both sides, evaluated row by row by both: the table has no text index, so "
    "Kura's TEXTSEARCH served from one is not measured here",
};

void PrintTable(const TOptions& options, const std::vector<TWorkloadTimes>& times,
                const TSizes& sizes) {
  std::cout << "Kura vs SQLite " << sqlite3_libversion() << ", " << options.Rows
            << " rows, median of " << options.Rounds << " rounds\n";
  for (const char* term : kFairTerms) std::cout << "  - " << term << "\n";
  std::printf("\n%-44s %12s %12s %10s\n", "workload", "Kura ms", "SQLite ms", "Kura/SQLite");
  for (const TWorkloadTimes& row : times) {
    const double kura = Median(row.Kura) * 1000, sqlite = Median(row.Sqlite) * 1000;
    std::printf("%-44s %12.2f %12.2f %10.3f\n", row.Name.c_str(), kura, sqlite, kura / sqlite);
  }
  if (!options.Churn) return;  // the sizes compare before and after the churn
  std::printf("\n%-22s %14s %14s %9s\n", "file sizes (bytes)", "before churn", "after churn",
              "change");
  const auto line = [](const char* name, std::int64_t before, std::int64_t after) {
    std::printf("%-22s %14lld %14lld %9s\n", name, static_cast<long long>(before),
                static_cast<long long>(after), Percent(before, after).c_str());
  };
  line("Kura data (.DAT)", sizes.KuraBefore.Data, sizes.KuraAfter.Data);
  line("Kura index (.IDX)", sizes.KuraBefore.Index, sizes.KuraAfter.Index);
  line("Kura BLOB (.BLB)", sizes.KuraBefore.Blob, sizes.KuraAfter.Blob);
  line("Kura total", sizes.KuraBefore.Total(), sizes.KuraAfter.Total());
  line("SQLite file", sizes.SqliteBefore, sizes.SqliteAfter);
}

std::string JsonText(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonList(const std::vector<double>& values) {
  std::string list = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    list += (i ? ", " : "") + Fixed(values[i] * 1000, 3);
  }
  return list + "]";
}

std::string JsonSizes(const TFileSizes& sizes) {
  return "{\"data\": " + std::to_string(sizes.Data) +
         ", \"index\": " + std::to_string(sizes.Index) +
         ", \"blob\": " + std::to_string(sizes.Blob) +
         ", \"total\": " + std::to_string(sizes.Total()) + "}";
}

void WriteJson(const TOptions& options, const std::vector<TWorkloadTimes>& times,
               const TSizes& sizes) {
  std::ofstream out(options.JsonPath);
  out << "{\n  \"sqlite_version\": " << JsonText(sqlite3_libversion())
      << ",\n  \"rows\": " << options.Rows << ",\n  \"rounds\": " << options.Rounds
      << ",\n  \"fair_terms\": [";
  for (std::size_t i = 0; i < std::size(kFairTerms); ++i) {
    out << (i ? ", " : "") << JsonText(kFairTerms[i]);
  }
  out << "],\n  \"workloads\": [\n";
  for (std::size_t i = 0; i < times.size(); ++i) {
    const TWorkloadTimes& row = times[i];
    const double kura = Median(row.Kura) * 1000, sqlite = Median(row.Sqlite) * 1000;
    out << "    {\"name\": " << JsonText(row.Name) << ", \"kura_ms\": " << Fixed(kura, 3)
        << ", \"sqlite_ms\": " << Fixed(sqlite, 3) << ", \"ratio\": " << Fixed(kura / sqlite, 4)
        << ", \"kura_runs_ms\": " << JsonList(row.Kura)
        << ", \"sqlite_runs_ms\": " << JsonList(row.Sqlite) << "}"
        << (i + 1 < times.size() ? "," : "") << "\n";
  }
  if (!options.Churn) {
    out << "  ]\n}\n";
    return;
  }
  out << "  ],\n  \"file_sizes\": {\"kura_before\": " << JsonSizes(sizes.KuraBefore)
      << ", \"kura_after\": " << JsonSizes(sizes.KuraAfter)
      << ", \"sqlite_before\": " << sizes.SqliteBefore
      << ", \"sqlite_after\": " << sizes.SqliteAfter << "}\n}\n";
  if (!out) throw std::runtime_error("cannot write " + options.JsonPath);
}

int Run(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) return 0;
  const TWorkloadData data = MakeWorkloadData(options.Rows);
  std::vector<TWorkloadTimes> times = {
      {"1. bulk insert, " + std::to_string(options.Rows) + " rows", {}, {}},
      {"2. point lookups by key, random order", {}, {}},
      {"3. " + std::to_string(data.Ranges.size()) + " range counts on the value index", {}, {}},
      {"4. full scan summing value", {}, {}},
      {"5. delete every 2nd row, insert as many", {}, {}},
  };
  const std::vector<TFilterWorkload> filters = FilterWorkloads(data);
  for (const TFilterWorkload& filter : filters) times.push_back({filter.Name, {}, {}});
  times.push_back({"2c. point lookups, table reopened", {}, {}});
  times.push_back({"3c. range counts, table reopened", {}, {}});
  times.push_back({"4c. full scan, table reopened", {}, {}});
  TSizes sizes;
  for (int round = 0; round < options.Rounds; ++round) {
    RunRound(options, data, filters, times, sizes);
    std::cerr << "round " << round + 1 << " of " << options.Rounds << " done\n";
  }
  std::erase_if(times, [](const TWorkloadTimes& row) { return row.Kura.empty(); });
  PrintTable(options, times, sizes);
  WriteJson(options, times, sizes);
  std::cout << "\nJSON written to " << options.JsonPath << "\n";
  return 0;
}

}  // namespace
}  // namespace kura::bench

int main(int argc, char** argv) {
  try {
    return kura::bench::Run(argc, argv);
  } catch (const kura::EKuraEngineError& error) {
    std::cerr << "kura_vs_sqlite: engine error " << error.ErrorCode << ": " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "kura_vs_sqlite: " << error.what() << "\n";
  }
  return 1;
}
