// The seam between a query dataset and whatever answers its SQL.
//
// A provider is an open database directory: it prepares the processed text (parameters
// already replaced by "?" markers) into a statement; executing the statement with one value
// per marker answers a result cursor (result_cursor.h), which the dataset walks, reads and
// changes. Today the provider is the in-memory collection; the table engine's binding
// implements the same interfaces, so nothing above changes. Databases are found through the
// session (session.h).
//
// Providers report failures as EKuraEngineError: 11949 for text they cannot run, 11010 for a
// table that does not exist, 8708 for a row deleted underneath a result.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"
#include "dataset/result_cursor.h"

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

class TPreparedQuery {
 public:
  virtual ~TPreparedQuery() = default;
  // Runs the statement with one value per "?" marker, in marker order. The result may refer to
  // the statement: it is released before the statement is (result_cursor.h, Lifetimes).
  virtual std::unique_ptr<TResultCursor> Execute(const std::vector<TMarkerValue>& markers) = 0;
};

class TQueryProvider {
 public:
  virtual ~TQueryProvider() = default;
  // Parses and checks the processed text; raises engine error 11949 for text it cannot run.
  virtual std::unique_ptr<TPreparedQuery> Prepare(std::string_view processedText,
                                                  const TQueryOptions& options) = 0;
};

}  // namespace kura
