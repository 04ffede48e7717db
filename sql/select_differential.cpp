#include "sql/select_differential.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/table_test_support.h"
#include "sql/query_database.h"
#include "sql/select_test_support.h"
#include "storage/field_types.h"

namespace kura::testing {

namespace {

constexpr int kTables = 3;
constexpr int kMaxReports = 5;
const char* const kStrings[] = {"a", "b", "ab", "ba", "abc", "c", "B"};

// Both forms of a piece of SQL.
struct TPair {
  std::string Kura;
  std::string Sqlite;
};

// Numbers compared after printing with 9 significant digits.
std::string Normalised(const std::string& cell) {
  if (cell.empty() || cell == "NULL") return cell;
  char* end = nullptr;
  double value = std::strtod(cell.c_str(), &end);
  if (end == nullptr || *end != 0) return cell;
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

std::string NormalisedRow(const std::string& row) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    std::size_t bar = row.find(" | ", start);
    out +=
        Normalised(row.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    out += " | ";
    start = bar + 3;
  }
  return out;
}

class TSqliteDatabase {
 public:
  TSqliteDatabase() {
    if (sqlite3_open(":memory:", &FDb) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Run("PRAGMA case_sensitive_like = ON");
  }
  ~TSqliteDatabase() { sqlite3_close(FDb); }
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

  void Run(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error != nullptr ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error("sqlite: " + message + " in " + sql);
    }
  }

  std::vector<std::string> Rows(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(FDb) + " in " + sql);
    }
    std::vector<std::string> rows;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (i > 0) row += " | ";
        switch (sqlite3_column_type(statement, i)) {
          case SQLITE_NULL:
            row += "NULL";
            break;
          case SQLITE_INTEGER:
            row += std::to_string(sqlite3_column_int64(statement, i));
            break;
          default:
            row += reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            break;
        }
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
  }

 private:
  sqlite3* FDb = nullptr;
};

class TQueryGenerator {
 public:
  explicit TQueryGenerator(std::uint32_t seed) : FRandom(seed) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(FRandom); }
  bool Chance(int percent) { return Pick(100) < percent; }

  std::string IntegerValue() { return Chance(16) ? "NULL" : std::to_string(Pick(9) - 3); }
  std::string StringValue() {
    return Chance(16) ? "NULL" : kStrings[Pick(static_cast<int>(std::size(kStrings)))];
  }

  TDifferentialQuery Next() {
    FAliases.clear();
    TDifferentialQuery query;
    TPair from = From();
    TPair where;
    if (Chance(70)) where = Predicate(2);
    int shape = Pick(4);
    std::vector<TPair> columns;
    std::string groupBy;
    std::string having;
    bool distinct = shape == 1;
    if (shape == 2) {
      int groups = 1 + Pick(2);
      for (int i = 0; i < groups; ++i) columns.push_back(Same(Column(Pick(3))));
      groupBy = " GROUP BY ";
      for (int i = 0; i < groups; ++i) groupBy += (i ? ", " : "") + std::to_string(i + 1);
      columns.push_back(Same("COUNT(*)"));
      // Kura's HAVING takes no *: it tests a counted column of the select list.
      std::string counted = "COUNT(" + Column(Pick(3)) + ")";
      columns.push_back(Same(counted));
      if (Chance(30)) having = " HAVING " + counted + " > " + std::to_string(Pick(3));
      for (int i = Pick(3); i > 0; --i) columns.push_back(Aggregate());
    } else if (shape == 3) {
      for (int i = 1 + Pick(3); i > 0; --i) columns.push_back(Aggregate());
    } else {
      for (int i = 1 + Pick(3); i > 0; --i) columns.push_back(SelectItem());
    }
    std::string list;
    for (std::size_t i = 0; i < columns.size(); ++i) list += (i ? ", " : "") + columns[i].Kura;
    std::string sqliteList;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      sqliteList += (i ? ", " : "") + columns[i].Sqlite;
    }
    std::string head = distinct ? "SELECT DISTINCT " : "SELECT ";
    query.Kura = head + list + " FROM " + from.Kura;
    query.Sqlite = head + sqliteList + " FROM " + from.Sqlite;
    if (!where.Kura.empty()) {
      query.Kura += " WHERE " + where.Kura;
      query.Sqlite += " WHERE " + where.Sqlite;
    }
    // SQLite groups by column number too; HAVING names an aggregate the list holds.
    query.Kura += groupBy + having;
    query.Sqlite += groupBy + having;
    if (Chance(50)) OrderBy(query, columns.size());
    return query;
  }

 private:
  static TPair Same(const std::string& text) { return {text, text}; }

  std::string Alias() {
    return FAliases[static_cast<std::size_t>(Pick(static_cast<int>(FAliases.size())))];
  }
  std::string Column(int kind) {
    static const char* const names[] = {"A", "B", "S"};
    return Alias() + "." + names[kind];
  }
  std::string IntegerColumn() { return Column(Pick(2)); }

  TPair From() {
    int tables = Chance(50) ? 1 : (Chance(70) ? 2 : 3);
    TPair from;
    for (int i = 0; i < tables; ++i) {
      std::string alias(1, static_cast<char>('a' + i));
      std::string table = "T" + std::to_string(1 + Pick(kTables)) + " " + alias;
      if (i == 0) {
        from = Same(table);
        FAliases.push_back(alias);
        continue;
      }
      std::string kind = Chance(30) ? " LEFT JOIN " : " JOIN ";
      std::string left = IntegerColumn();
      std::string right = alias + (Chance(50) ? ".A" : ".B");
      from.Kura += kind + table + " ON " + left + " = " + right;
      from.Sqlite += kind + table + " ON " + left + " IS " + right;
      FAliases.push_back(alias);
    }
    return from;
  }

  TPair SelectItem() {
    switch (Pick(5)) {
      case 0:
        return Same(IntegerColumn() + " + " + IntegerColumn());
      case 1:
        return Same(IntegerColumn() + " * 3 - 1");
      default:
        return Same(Column(Pick(3)));
    }
  }

  TPair Aggregate() {
    static const char* const kinds[] = {"COUNT", "SUM", "MIN", "MAX"};
    const char* kind = kinds[Pick(4)];
    std::string argument = std::string(kind) == "COUNT" ? Column(Pick(3)) : IntegerColumn();
    return Same(std::string(kind) + "(" + argument + ")");
  }

  static TPair TwoValued(const std::string& kura, const std::string& sqlite) {
    return {kura, "COALESCE((" + sqlite + "), 0)"};
  }

  TPair Atom() {
    static const char* const operators[] = {"=", "<>", "<", ">", "<=", ">="};
    std::string op = operators[Pick(6)];
    bool equality = op == "=" || op == "<>";
    std::string is = op == "=" ? " IS " : " IS NOT ";
    switch (Pick(8)) {
      case 0: {
        std::string column = IntegerColumn();
        std::string value = std::to_string(Pick(9) - 3);
        return TwoValued(column + " " + op + " " + value,
                         equality ? column + is + value : column + " " + op + " " + value);
      }
      case 1: {
        std::string column = Column(2);
        std::string value =
            std::string("'") + kStrings[Pick(static_cast<int>(std::size(kStrings)))] + "'";
        return TwoValued(
            column + " " + op + " " + value,
            equality ? column + is + value : "COALESCE(" + column + ", '') " + op + " " + value);
      }
      case 2: {
        std::string column = Column(Pick(3));
        std::string test = Chance(50) ? " IS NULL" : " IS NOT NULL";
        return TwoValued(column + test, column + test);
      }
      case 3: {
        std::string column = IntegerColumn();
        std::string list =
            "(" + std::to_string(Pick(9) - 3) + ", " + std::to_string(Pick(9) - 3) + ")";
        if (Chance(50)) return TwoValued(column + " IN " + list, column + " IN " + list);
        return {column + " NOT IN " + list, "NOT COALESCE((" + column + " IN " + list + "), 0)"};
      }
      case 4: {
        std::string column = IntegerColumn();
        int low = Pick(6) - 3;
        std::string range =
            " BETWEEN " + std::to_string(low) + " AND " + std::to_string(low + Pick(4));
        return TwoValued(column + range, column + range);
      }
      case 5: {
        static const char* const patterns[] = {"'a%'", "'%b'", "'_b'", "'%a%'"};
        std::string like = Column(2) + " LIKE " + patterns[Pick(4)];
        return TwoValued(like, like);
      }
      default: {
        std::string left = IntegerColumn();
        std::string right = IntegerColumn();
        return TwoValued(left + " = " + right, left + " IS " + right);
      }
    }
  }

  TPair Predicate(int depth) {
    if (depth == 0 || Chance(40)) return Atom();
    switch (Pick(3)) {
      case 0: {
        TPair inner = Predicate(depth - 1);
        return {"NOT (" + inner.Kura + ")", "NOT (" + inner.Sqlite + ")"};
      }
      default: {
        std::string join = Chance(50) ? " AND " : " OR ";
        TPair left = Predicate(depth - 1);
        TPair right = Predicate(depth - 1);
        return {"(" + left.Kura + join + right.Kura + ")",
                "(" + left.Sqlite + join + right.Sqlite + ")"};
      }
    }
  }

  void OrderBy(TDifferentialQuery& query, std::size_t columns) {
    std::vector<int> order(columns);
    for (std::size_t i = 0; i < columns; ++i) order[i] = static_cast<int>(i) + 1;
    std::shuffle(order.begin(), order.end(), FRandom);
    std::string kura = " ORDER BY ";
    std::string sqlite = " ORDER BY ";
    for (std::size_t i = 0; i < order.size(); ++i) {
      bool descending = Chance(30);
      std::string number = std::to_string(order[i]);
      kura += (i ? ", " : "") + number + (descending ? " DESC" : "");
      sqlite += (i ? ", " : "") + number + (descending ? " DESC NULLS LAST" : " NULLS FIRST");
    }
    query.Kura += kura;
    query.Sqlite += sqlite;
    query.Ordered = true;
    if (Chance(40)) {
      std::string top = std::to_string(1 + Pick(5));
      query.Kura += " TOP " + top;
      query.Sqlite += " LIMIT " + top;
    }
  }

  std::mt19937 FRandom;
  std::vector<std::string> FAliases;
};

void CreateTables(TQueryGenerator& random, TDataDirectory& directory, TSqliteDatabase& sqlite) {
  for (int t = 1; t <= kTables; ++t) {
    std::string name = "T" + std::to_string(t);
    TTableDefinition definition;
    definition.Fields = {MakeFieldDescriptor("A", kFieldTypeInteger),
                         MakeFieldDescriptor("B", kFieldTypeInteger),
                         MakeFieldDescriptor("S", kFieldTypeString, 8)};
    if (random.Chance(50)) {
      TIndexDefinition index;
      index.Name = "ByA";
      index.Fields = {1};
      definition.SecondaryIndexes.push_back(index);
    }
    directory.CloseTable(directory.CreateTable(name, true, definition, true));
    sqlite.Run("CREATE TABLE " + name + " (A INTEGER, B INTEGER, S TEXT)");
    std::vector<std::string> lines;
    for (int rows = random.Pick(12); rows > 0; --rows) {
      std::string a = random.IntegerValue();
      std::string b = random.IntegerValue();
      std::string s = random.StringValue();
      lines.push_back(a + " | " + b + " | " + s);
      std::string quoted = s == "NULL" ? s : "'" + s + "'";
      sqlite.Run("INSERT INTO " + name + " VALUES (" + a + ", " + b + ", " + quoted + ")");
    }
    InsertRows(directory, name, lines);
  }
}

std::vector<std::string> KuraRows(TSqlDatabase& database, const TDifferentialQuery& query,
                                  bool live) {
  TQueryStatement statement(&database);
  statement.FRequestLive = live;
  statement.Prepare(query.Kura);
  TDataCursor* cursor = statement.Execute();
  return cursor == nullptr ? std::vector<std::string>() : ReadRows(*cursor);
}

std::string Joined(const std::vector<std::string>& rows) {
  std::string text;
  for (const std::string& row : rows) text += "    " + row + "\n";
  return text;
}

}  // namespace

TDifferentialOutcome RunDifferential(std::uint32_t seed, int count) {
  TDifferentialOutcome outcome;
  TQueryGenerator random(seed);
  TEngineSandbox sandbox("");
  TSqlDatabase database(sandbox.Directory());
  TSqliteDatabase sqlite;
  CreateTables(random, sandbox.Directory(), sqlite);
  for (int i = 0; i < count; ++i) {
    TDifferentialQuery query = random.Next();
    bool live = random.Chance(50);
    std::vector<std::string> expected = sqlite.Rows(query.Sqlite);
    std::vector<std::string> actual;
    try {
      actual = KuraRows(database, query, live);
    } catch (const EKuraEngineError& e) {
      actual = {"raised " + std::to_string(e.ErrorCode) + " " + e.what()};
    }
    for (auto* rows : {&expected, &actual}) {
      for (std::string& row : *rows) row = NormalisedRow(row);
      if (!query.Ordered) std::sort(rows->begin(), rows->end());
    }
    ++outcome.Queries;
    if (expected == actual) continue;
    ++outcome.Disagreements;
    if (static_cast<int>(outcome.Reports.size()) < kMaxReports) {
      outcome.Reports.push_back("seed " + std::to_string(seed) + ": " + query.Kura +
                                "\n  sqlite: " + query.Sqlite + "\n  expected:\n" +
                                Joined(expected) + "  kura:\n" + Joined(actual));
    }
  }
  return outcome;
}

}  // namespace kura::testing
