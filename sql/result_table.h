// The result table of a canned SELECT: its field list, where it is created, and the cursor
// that fills it and is handed to the caller.
//
// FIELDS, in this order (numbered 1..n):
//   one per result column   name: the alias, else the column name, else the expression
//                           text, cut to 30 characters, made unique with "_<n>"; a plain
//                           column copies its source field's type, size and decimals, any
//                           other column takes the type binding gave it (an auto-increment
//                           source becomes a plain integer: result rows keep the values)
//   one per AVG column      "Sys__Avg__Count<n>", 32-bit integer: the rows counted into the
//                           average of result column n while groups are combined
//
// WHERE: INTO MEMORY in the in-memory database; INTO name in the statement's database (or
// the directory part of the name), kept after the statement ends; otherwise under a unique
// name in the session's private directory as a temporary table, whose files go when it
// closes. A statement over the in-memory database keeps its temporary results in memory
// too. The table is opened exclusively and encrypted with the ENCRYPTED WITH password.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "sql/query_model.h"
#include "storage/field_descriptor.h"

namespace kura {

class TDataDirectory;

// Longest result field name.
inline constexpr std::size_t kMaxResultFieldName = 30;

struct TResultLayout {
  std::vector<TFieldDescriptor> Fields;
  // Per result column: the 1-based field number of its AVG count field, 0 for none.
  std::vector<int> AvgCountFields;
  std::size_t ColumnCount = 0;
};

// The field names of the result columns, in order (the first rule above).
std::vector<std::string> ResultFieldNames(const TDataQuery& query);
TResultLayout MakeResultLayout(const TDataQuery& query);

// Owns the result table's cursor (and the directory opened for it); freeing it closes both.
class TResultTable : public TOpenedSource {
 public:
  // Creates and opens the table; raises the errors of creating it.
  TResultTable(const TDataQuery& query, TDataDirectory& statementDirectory,
               const TResultLayout& layout);
  ~TResultTable() override;
  TResultTable(const TResultTable&) = delete;
  TResultTable& operator=(const TResultTable&) = delete;

  TDataCursor& Cursor() { return *FCursor; }

 private:
  TDataDirectory* FOpenedDirectory = nullptr;
  std::unique_ptr<TDataCursor> FCursor;
};

}  // namespace kura
