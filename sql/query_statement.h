// TQueryStatement: one SQL text prepared for one database. It parses the text into one or
// more TDataQuery objects (the master query, plus one per sub-select, per UNIONed SELECT and
// per INSERT ... SELECT) and collects the `?` parameters in order of appearance.
//
// A text may hold several statements separated by `;`. Prepare parses the first; the rest
// are parsed one at a time with PrepareNext, each replacing the queries of the one before
// (parameter values apply to the first statement only). A `;` followed by nothing but
// blanks ends the last statement.
//
// Parsing knows no storage: tables stay names and columns unresolved nodes. After parsing,
// the statement's database prepares every query, the last created first (sub-selects and
// UNION parts before the queries that read them): it opens the source tables and binds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql/exp_token.h"
#include "sql/expression_parser.h"
#include "sql/query_model.h"
#include "storage/field_descriptor.h"

namespace kura {

class TQueryStatement;
class TDataCursor;

// The database a statement runs in, as far as the statement needs it: it keeps a list of
// its statements, has a name for messages, and prepares parsed queries against its tables.
class TStatementDatabase {
 public:
  virtual ~TStatementDatabase() = default;
  virtual void RegisterStatement(TQueryStatement* statement) = 0;
  virtual void UnregisterStatement(TQueryStatement* statement) = 0;
  virtual std::string DatabaseName() const = 0;
  // Opens the query's source tables and binds its expressions. A database that has no
  // tables (one that only parses) leaves the parsed model as it is.
  virtual void PrepareQuery(TDataQuery& query) { (void)query; }
  // Runs a prepared query and answers its result cursor (none for a statement without
  // rows). A database that only parses refuses with engine error 11949.
  virtual TDataCursor* ExecuteQuery(TDataQuery& query);
  // Whether the executed sub-select's result holds a row whose one column equals value.
  virtual bool SubSelectContains(TDataQuery& subSelect, const TExpToken& value);
};

// Called with the statement, the percentage done (0..100) and its user pointer while a
// canned result is built; answers nonzero to abort (the rows appended so far stay).
using TStatementProgress = int (*)(TQueryStatement* statement, int percent, void* data);

// Sub-selects nest at most this deep (each level recurses through the whole grammar).
inline constexpr int kMaxSubSelectNesting = 32;

class TQueryStatement : public TExpressionOwner {
 public:
  // Registers with the database (which may be null for a statement that is only parsed).
  explicit TQueryStatement(TStatementDatabase* database);
  ~TQueryStatement() override;
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  // Parses and prepares the first statement of the text. Raises engine error 11949 for a
  // syntax or preparation error (or the error of opening a table); the statement is then
  // unprepared, its tables closed.
  void Prepare(std::string_view text);
  // True when the text holds a further statement after the one last parsed.
  bool HasMoreStatements() const;
  // Parses the next statement of the text in place of the current one.
  void PrepareNext();
  // Frees all queries and their trees.
  void Unprepare();

  // Binds parameter values: for parameter i (0-based, in text order) descriptors[i] gives
  // type, subtype, size, scale and slot offset in the record buffer; the slot holds a
  // null-indicator byte (1 when a value is present) followed by the value. A BLOB value is a
  // 32-bit length followed by a pointer to the bytes. The parameter nodes inside the trees
  // change in place, so re-executing with new values needs no new parse. Raises 11949 when
  // count differs from the number of parameters or a slot lies outside the buffer.
  void SetParams(int count, const TFieldDescriptor* descriptors, const std::uint8_t* buffer,
                 std::size_t bufferSize);

  // Binds the parameters (when count is not negative) and executes the prepared statement:
  // its queries run from the last created to the master, so that sub-selects and UNION
  // parts are ready before the queries that read them. When the text holds further
  // statements they are prepared and executed one after the other (parameters apply to the
  // first only). Answers the result cursor of the last SELECT, owned by the statement and
  // valid until it is unprepared or executed again; nullptr for other statements.
  // FExecutionTime and FRowsAffected are summed over the statements.
  TDataCursor* Execute(int count = -1, const TFieldDescriptor* descriptors = nullptr,
                       const std::uint8_t* buffer = nullptr, std::size_t bufferSize = 0);

  // A new query of this statement, appended to FQueries.
  TDataQuery* NewQuery();
  TExpressionParser& Parser() { return FParser; }

  // TExpressionOwner.
  void AddParameter(TExpToken* parameter) override;
  TSubQuery* ParseSubSelect(TExpressionParser& parser) override;

  TStatementDatabase* FDatabase;
  TExpressionParser FParser;
  TDataQuery* FMasterQuery = nullptr;
  std::vector<std::unique_ptr<TDataQuery>> FQueries;
  std::vector<TExpToken*> FParams;  // nodes inside the trees, in text order
  bool FRequestLive = false;
  std::int32_t FMaxRowCount = -1;
  std::uint8_t FStatementKind = qkNone;
  bool FResultIsLive = false;
  bool FSelectStar = false;
  int FParamCount = 0;
  double FExecutionTime = 0;
  std::int32_t FRowsAffected = 0;
  TStatementProgress FProgress = nullptr;
  void* FProgressData = nullptr;

 private:
  void ParseCurrentStatement();
  void CopyMasterFlags();
  TDataCursor* ExecuteCurrentStatement();

  int FSubSelectNesting = 0;
};

}  // namespace kura
