#include "sql/query_statement.h"

#include <chrono>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "sql/query_checks.h"

namespace kura {

namespace {

constexpr std::string_view kContext = "SQL statement";

// The sub-select node's link to its query, which the statement owns. Binding and execution
// of sub-selects come with the preparation step; until then a sub-select has no rows.
class TSubSelectLink : public TSubQuery {
 public:
  explicit TSubSelectLink(TDataQuery* query) : FQuery(query) {}

  int ColumnCount() const override { return static_cast<int>(FQuery->FResultFields.size()); }
  // The sub-select was prepared before the query around it: its one column has its type.
  bool BindColumn(TExpToken& node) override {
    if (FQuery->FResultFields.size() != 1) return false;
    const TExpToken& column = *FQuery->FResultFields.front().Expression;
    node.FDataType = column.FDataType;
    node.FSubType = column.FSubType;
    node.FDataSize = column.FDataSize;
    node.FScale = column.FScale;
    return true;
  }
  // The sub-select runs before the query around it (Execute goes from the last created
  // query to the first), so its result is there to be searched.
  bool Contains(const TExpToken& value) override {
    TStatementDatabase* database = FQuery->FStatement->FDatabase;
    if (database == nullptr) {
      RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {},
                       "Sub-select query has not been prepared");
    }
    return database->SubSelectContains(*FQuery, value);
  }

 private:
  TDataQuery* FQuery;
};

// Counts one level of sub-select for the duration of a scope.
class TSubSelectDepth {
 public:
  explicit TSubSelectDepth(int& depth) : FDepth(++depth) {}
  ~TSubSelectDepth() { --FDepth; }
  TSubSelectDepth(const TSubSelectDepth&) = delete;
  TSubSelectDepth& operator=(const TSubSelectDepth&) = delete;

 private:
  int& FDepth;
};

// Reads the tick count before and after a run; the seconds in between, 0 when the count
// wrapped.
class TTickTimer {
 public:
  TTickTimer() : FStart(std::chrono::steady_clock::now()) {}
  double Seconds() const {
    auto elapsed = std::chrono::steady_clock::now() - FStart;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return ms < 0 ? 0.0 : static_cast<double>(ms) / 1000.0;
  }

 private:
  std::chrono::steady_clock::time_point FStart;
};

}  // namespace

TDataCursor* TStatementDatabase::ExecuteQuery(TDataQuery&) {
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {},
                   "The statement's database cannot execute queries");
}

bool TStatementDatabase::SubSelectContains(TDataQuery&, const TExpToken&) {
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {},
                   "Sub-select query has not been prepared");
}

TQueryStatement::TQueryStatement(TStatementDatabase* database)
    : FDatabase(database), FParser(this) {
  FParser.SetErrorCode(codes::kSqlError);
  FParser.SetErrorTableName({});
  FParser.SetContextName(kContext);
  if (FDatabase != nullptr) FDatabase->RegisterStatement(this);
}

TQueryStatement::~TQueryStatement() {
  Unprepare();
  if (FDatabase != nullptr) FDatabase->UnregisterStatement(this);
}

TDataQuery* TQueryStatement::NewQuery() {
  FQueries.push_back(std::make_unique<TDataQuery>(this));
  return FQueries.back().get();
}

void TQueryStatement::Prepare(std::string_view text) {
  Unprepare();
  FParser.SetExpression(text);
  try {
    FParser.NextToken();
    ParseCurrentStatement();
  } catch (...) {
    Unprepare();
    throw;
  }
}

bool TQueryStatement::HasMoreStatements() const {
  return FMasterQuery != nullptr && !FParser.IsToken(kTokenEnd);
}

void TQueryStatement::PrepareNext() {
  if (!HasMoreStatements()) return;
  FParams.clear();
  FMasterQuery = nullptr;
  FQueries.clear();
  try {
    ParseCurrentStatement();
  } catch (...) {
    Unprepare();
    throw;
  }
}

void TQueryStatement::Unprepare() {
  // The parameter list points into the trees: it goes first.
  FParams.clear();
  FMasterQuery = nullptr;
  FQueries.clear();
  FStatementKind = qkNone;
  FResultIsLive = false;
  FSelectStar = false;
  FParamCount = 0;
}

void TQueryStatement::ParseCurrentStatement() {
  FSubSelectNesting = 0;
  FParser.SetContextName(kContext);
  FMasterQuery = NewQuery();
  FMasterQuery->ParseStatement(false, false, nullptr);
  // Sub-selects and UNION parts first, as the binding step prepares them.
  for (auto query = FQueries.rbegin(); query != FQueries.rend(); ++query) {
    CheckParsedQuery(**query);
  }
  CopyMasterFlags();
  if (FDatabase == nullptr) return;
  for (auto query = FQueries.rbegin(); query != FQueries.rend(); ++query) {
    FDatabase->PrepareQuery(**query);
  }
  FResultIsLive = FMasterQuery->FResultIsLive;
}

void TQueryStatement::CopyMasterFlags() {
  const TDataQuery& master = *FMasterQuery;
  FStatementKind = master.FKind;
  FSelectStar = false;
  if (master.FKind == qkSelect && master.FResultFields.size() == 1) {
    const TExpToken& item = *master.FResultFields.front().Expression;
    FSelectStar = item.FKind == kNodeColumn && item.FColumnName == "*" && item.FTableName.empty();
  }
  FParamCount = static_cast<int>(FParams.size());
}

void TQueryStatement::AddParameter(TExpToken* parameter) {
  FParams.push_back(parameter);
}

TSubQuery* TQueryStatement::ParseSubSelect(TExpressionParser& parser) {
  if (FSubSelectNesting >= kMaxSubSelectNesting) {
    parser.FailIn("Sub-select queries nested too deeply");
  }
  TSubSelectDepth depth(FSubSelectNesting);
  std::string context = parser.ContextName();
  TDataQuery* query = NewQuery();
  query->ParseStatement(true, false, nullptr);
  parser.SetContextName(context);
  return new TSubSelectLink(query);
}

TDataCursor* TQueryStatement::Execute(int count, const TFieldDescriptor* descriptors,
                                      const std::uint8_t* buffer, std::size_t bufferSize) {
  if (FMasterQuery == nullptr) {
    RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {}, "No SQL statement prepared");
  }
  if (count >= 0) SetParams(count, descriptors, buffer, bufferSize);
  FExecutionTime = 0;
  FRowsAffected = 0;
  TDataCursor* result = ExecuteCurrentStatement();
  while (HasMoreStatements()) {
    PrepareNext();
    result = ExecuteCurrentStatement();
  }
  return result;
}

TDataCursor* TQueryStatement::ExecuteCurrentStatement() {
  if (FDatabase == nullptr) {
    RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {},
                     "The statement's database cannot execute queries");
  }
  TTickTimer timer;
  TDataCursor* result = nullptr;
  for (auto query = FQueries.rbegin(); query != FQueries.rend(); ++query) {
    // A UNION part runs before the query it follows, which then appends its rows.
    TDataCursor* cursor = FDatabase->ExecuteQuery(**query);
    if (query->get() == FMasterQuery) result = cursor;
  }
  FExecutionTime += timer.Seconds();
  FRowsAffected += static_cast<std::int32_t>(FMasterQuery->FRecordCount);
  return result;
}

}  // namespace kura
