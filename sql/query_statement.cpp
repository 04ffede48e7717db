#include "sql/query_statement.h"

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
  bool Contains(const TExpToken&) override {
    RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {},
                     "Sub-select query has not been prepared");
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

}  // namespace

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

}  // namespace kura
