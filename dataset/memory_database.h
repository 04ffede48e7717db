// An in-memory collection of tables that answers queries: the provider the application runs
// on until the table engine's files take over.
//
// Tables keep their rows in append order. Results are TMemoryResult cursors
// (memory_result.h, which also lists what the application relies on here that the engine
// will not give): a live result (RequestLive) walks the table's own rows, so edits, appends
// and deletes made through it change the table, and other live results notice them at their
// next step; a canned result holds copies.
//
// String values are kept as bytes, the problem tables' code page 932.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"
#include "dataset/query_provider.h"

namespace kura {

struct TMemoryRow {
  TRecord values;
  bool deleted = false;
  std::uint64_t id = 0;  // row number: unique in its table, growing in append order
};

struct TMemoryTable {
  std::string name;
  std::vector<TFieldDef> fields;
  std::vector<std::shared_ptr<TMemoryRow>> rows;  // append order
  std::uint64_t last_row_id = 0;
  std::int64_t last_auto_inc = 0;
  // Advances with every change made through a result; results compare it to notice changes
  // made through others.
  std::uint64_t changes = 0;
  // Locked row numbers and the result holding each lock.
  std::map<std::uint64_t, const void*> locks;

  // Position of a field by name (any case); -1 when there is none.
  int FieldIndex(std::string_view fieldName) const;
  // Appends a row with the next row number; auto-increment fields without a value take the
  // next counter value. Answers the row.
  std::shared_ptr<TMemoryRow> AddRow(TRecord values);
};

class TMemoryDatabase : public TQueryProvider {
 public:
  // Creates an empty table; raises engine error 13060 when the name is taken.
  void CreateTable(std::string_view name, std::vector<TFieldDef> fields);
  // The table of that name (any case), or nullptr.
  std::shared_ptr<TMemoryTable> FindTable(std::string_view name) const;
  // Appends a row (one value per field, in field order); raises 11010 for an unknown table
  // and 9985 for a row of the wrong width.
  void AppendRow(std::string_view table, TRecord values);
  // The table's rows as they stand, in table order.
  std::vector<TRecord> Rows(std::string_view table) const;

  std::unique_ptr<TPreparedQuery> Prepare(std::string_view processedText,
                                          const TQueryOptions& options) override;

 private:
  std::vector<std::shared_ptr<TMemoryTable>> tables_;
};

// The problem collection's two tables, empty:
//   mondai: MNB HNB (integer) KB1 KB2 MRK CMT HNT (string)
//   tejun:  TNB HNB TES COL PST BFR BTO (integer) CMT (string)
std::shared_ptr<TMemoryDatabase> CreateProblemCollection();

}  // namespace kura
