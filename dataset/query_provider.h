// The seam between a query dataset and whatever answers its SQL.
//
// A provider prepares the processed text (parameters already replaced by "?" markers) into a
// statement; executing the statement with one value per marker answers a result set, which
// the dataset walks by 1-based row number. A live result passes edits, appends and deletes
// through to the stored table. Today the provider is the in-memory collection; the table
// engine's binding implements the same three interfaces, so nothing above changes.
//
// Providers report failures as EKuraEngineError: 11949 for text they cannot run, 11010 for a
// table that does not exist, 8708 for a row deleted underneath a result.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"

namespace kura {

struct TQueryOptions {
  bool RequestLive = false;  // ask for an updatable result
  int MaxRowCount = -1;      // at most this many rows; negative means no limit
};

// The value bound to one "?" marker. DataType ftUnknown never reaches a provider: the dataset
// refuses to run a parameter that was never given a value.
struct TMarkerValue {
  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  TFieldValue Value;
};

class TResultSet {
 public:
  virtual ~TResultSet() = default;

  virtual const std::vector<TFieldDef>& FieldDefs() const = 0;
  // A read-only result refuses Edit, Append and Delete at the dataset.
  virtual bool IsReadOnly() const = 0;
  virtual int RecordCount() const = 0;
  // Reads row `recNo` (1..RecordCount()); answers false for any other number.
  virtual bool ReadRecord(int recNo, TRecord& record) const = 0;
  // A fresh row with the table's defaults, for an append.
  virtual TRecord InitNewRecord() const = 0;
  // Called when the dataset starts editing row `recNo`: may raise when the row is gone.
  virtual void BeginEdit(int recNo) = 0;
  // Stores the edited row; answers its row number afterwards (an ordered result may move it).
  virtual int PostEdit(int recNo, const TRecord& record) = 0;
  // Stores a new row; answers its row number in the result.
  virtual int PostInsert(const TRecord& record) = 0;
  // Deletes row `recNo` from the result and from the table behind it.
  virtual void DeleteRecord(int recNo) = 0;
};

class TPreparedQuery {
 public:
  virtual ~TPreparedQuery() = default;
  // Runs the statement with one value per "?" marker, in marker order.
  virtual std::unique_ptr<TResultSet> Execute(const std::vector<TMarkerValue>& markers) = 0;
};

class TQueryProvider {
 public:
  virtual ~TQueryProvider() = default;
  // Parses and checks the processed text; raises engine error 11949 for text it cannot run.
  virtual std::unique_ptr<TPreparedQuery> Prepare(std::string_view processedText,
                                                  const TQueryOptions& options) = 0;
};

// Process-wide table of named databases: a query whose own provider is unset resolves its
// DatabaseName here (without regard to case) when it opens.
void RegisterDatabase(std::string_view name, std::shared_ptr<TQueryProvider> provider);
void UnregisterDatabase(std::string_view name);
std::shared_ptr<TQueryProvider> FindDatabase(std::string_view name);

}  // namespace kura
