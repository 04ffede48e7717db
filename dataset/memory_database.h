// An in-memory collection of tables that answers queries: the provider the application runs
// on until the table engine's files take over.
//
// Tables keep their rows in append order. A live result (RequestLive) holds the table's own
// rows, so edits, appends and deletes made through it change the table; other results see
// the new values of rows they hold, but rows appended or deleted elsewhere only when they are
// opened again (a row deleted underneath a result refuses edits with engine error 8708). A
// result with ORDER BY keeps its order when a posted row's key changes or a row is appended;
// rows of equal key stay in table order.
//
// String values are kept as bytes, the problem tables' code page 932.
#pragma once

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
};

struct TMemoryTable {
  std::string name;
  std::vector<TFieldDef> fields;
  std::vector<std::shared_ptr<TMemoryRow>> rows;  // append order

  // Position of a field by name (any case); -1 when there is none.
  int FieldIndex(std::string_view fieldName) const;
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
