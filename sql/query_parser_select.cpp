// The SELECT grammar: select list, INTO, FROM with joins, WHERE, GROUP BY, HAVING, ORDER BY,
// the options after them and UNION.
//
//   SELECT [ALL] [DISTINCT] item {, item} [INTO ...] FROM source {, source}
//   [WHERE condition] [GROUP BY column {, column}] [HAVING condition]
//   [ORDER BY column [ASC|DESC] {, ...} [NOCASE]] [TOP n] [WITH LOCKS]
//   [LANGUAGE 'name' [SORT 'name']] [ENCRYPTED WITH password] [NOJOINOPTIMIZE]
//   [UNION [ALL] select ...]
#include <array>
#include <vector>

#include "sql/query_parser.h"
#include "sql/query_statement.h"
#include "storage/ascii_case.h"

namespace kura {

namespace {

bool IsAggregate(const TExpToken& node) {
  return node.FKind == kNodeFunction && node.FOperator >= opSum && node.FOperator <= opAvg;
}

std::uint8_t AggregateKindOf(std::uint8_t op) {
  switch (op) {
    case opSum:
      return akSum;
    case opRunSum:
      return akRunSum;
    case opMin:
      return akMin;
    case opMax:
      return akMax;
    case opAvg:
      return akAvg;
    default:
      return akCount;
  }
}

// Trees are at most kMaxTreeHeight high, so this recursion is bounded.
bool ContainsAggregate(const TExpToken* node) {
  if (node == nullptr) return false;
  if (IsAggregate(*node)) return true;
  if (ContainsAggregate(node->FLeft) || ContainsAggregate(node->FRight)) return true;
  for (const TExpToken* arg : node->FArgs) {
    if (ContainsAggregate(arg)) return true;
  }
  return false;
}

// Words that end a bare table alias: the clauses and options that may follow a source.
constexpr std::array<std::string_view, 21> kSourceAliasStops = {
    "LEFT",   "RIGHT",     "INNER",  "JOIN", "WHERE",     "ORDER",    "GROUP",
    "HAVING", "TOP",       "RANGE",  "WITH", "ENCRYPTED", "LANGUAGE", "NOJOINOPTIMIZE",
    "UNION",  "NOAUTOINC", "COMMIT", "FULL", "ON",        "SET",      "OUTER"};

// Words that start the next clause, so a condition before them is empty.
constexpr std::array<std::string_view, 9> kClauseStarts = {
    "GROUP", "ORDER", "HAVING", "UNION", "TOP", "NOJOINOPTIMIZE", "COMMIT", "NOAUTOINC", "WHERE"};

}  // namespace

void TQueryParser::ParseSelect(bool isUnionPart) {
  TQueryStatement& statement = *FQuery.FStatement;
  FQuery.FKind = qkSelect;
  bool master = &FQuery == statement.FMasterQuery;
  FQuery.FRequestLive = master ? statement.FRequestLive : true;
  FQuery.FMaxRowCount = master ? statement.FMaxRowCount : -1;
  if (FParser.IsToken('(')) {
    FQuery.FParenthesized = true;
    FParser.NextToken();
    if (!Is("SELECT")) FailFound("SELECT keyword expected, instead found '");
  }
  FParser.NextToken();  // SELECT
  ParseSelectList();
  ParseInto();
  Expect("FROM", "FROM keyword expected, instead found '");
  ParseFromList();
  ParseWhere();
  ParseGroupBy();
  ParseHaving();
  // A UNION part leaves ORDER BY and TOP to the query that starts the UNION.
  if (!isUnionPart) ParseOrderBy();
  ParseSelectOptions(!isUnionPart);
  if (FQuery.FParenthesized) {
    ExpectRightParen("Right parentheses expected after SELECT statement, instead found '");
  }
  if (!isUnionPart) ParseUnions();
}

// --- Select list ----------------------------------------------------------------------------

void TQueryParser::ParseSelectList() {
  Accept("ALL");
  FQuery.FDistinct = Accept("DISTINCT");
  ReadCommaList([this] { ParseResultField(); });
}

void TQueryParser::ParseResultField() {
  if (AtExpressionEnd() || Is("FROM") || Is("INTO")) Fail("Source column expression is empty");
  TResultField field;
  FParser.MarkStart();
  field.Expression = FParser.ParseExpression(kSelectColumnFlags);
  field.Text = FParser.MarkedText();
  ReadResultAlias(field);
  ClassifyResultField(field);
  FQuery.FResultFields.push_back(std::move(field));
}

void TQueryParser::ReadResultAlias(TResultField& field) {
  if (Accept("AS")) {
    if (!FParser.IsSymbolOrString()) {
      FailFound("Symbol or string expected after AS keyword, instead found '");
    }
  } else if (!FParser.IsSymbolOrString() || Is("INTO") || Is("FROM")) {
    return;
  }
  field.Alias = ReadName();
  if (!FParser.IsToken('.')) return;
  FParser.NextToken();
  if (!FParser.IsSymbolOrString()) {
    FailFound("Symbol or string expected after table correlation name, instead found '");
  }
  field.Alias = ReadName();
}

void TQueryParser::ClassifyResultField(TResultField& field) {
  const TExpToken* column = field.Expression.get();
  if (IsAggregate(*column)) {
    field.Aggregate = AggregateKindOf(column->FOperator);
    column = column->FArgs.empty() ? nullptr : column->FArgs[0];
    if (ContainsAggregate(column)) Fail("Aggregate functions cannot be nested");
  } else if (ContainsAggregate(column)) {
    Fail("Aggregate functions cannot be used within expressions");
  }
  if (column != nullptr && column->FKind == kNodeColumn) {
    field.ColumnName = column->FColumnName;
    field.CorrelationName = column->FTableName;
  } else {
    field.Computed = true;
    FQuery.FHasComputedColumn = true;
  }
}

void TQueryParser::ParseInto() {
  if (!Accept("INTO")) return;
  if (&FQuery != FQuery.FStatement->FMasterQuery) {
    Fail("The INTO clause can only be used with the master query");
  }
  if (Accept("MEMORY")) {
    FQuery.FIntoMemory = true;
    if (!FParser.IsSymbolOrString() || Is("FROM")) return;
  } else if (Is("FROM")) {
    FailFound("Result table name expected in INTO clause, instead found '");
  }
  FQuery.FIntoTable = ReadNamePath("Result table name expected in INTO clause, instead found '");
}

// --- FROM and joins -------------------------------------------------------------------------

// A join's ON condition may follow further joins when the joined source opens a nested
// join ("t LEFT JOIN (u JOIN v ON ...) ON ..."): joins waiting for their ON are kept on a
// list and each ON completes the most recent one, so nesting costs no stack depth.
void TQueryParser::ParseFromList() {
  int nesting = 0;
  for (;;) {
    ParseSource("Table name expected after FROM keyword, instead found '", nesting);
    CloseJoinParentheses(nesting);
    std::vector<TJoin> waiting;
    for (;;) {
      if (IsJoinStart()) {
        waiting.push_back(ParseJoin(nesting));
      } else if (!waiting.empty() && Is("ON")) {
        ParseJoinCondition(waiting.back(), nesting);
        FQuery.FJoins.push_back(std::move(waiting.back()));
        waiting.pop_back();
      } else {
        break;
      }
    }
    if (!waiting.empty()) FailFound("ON keyword expected in JOIN clause, instead found '");
    if (!FParser.IsToken(',')) break;
    FParser.NextToken();
    FQuery.FHasJoin = true;
  }
  if (nesting != 0) Fail("Mismatched join parentheses");
}

void TQueryParser::ParseSource(std::string_view nameMessage, int& nesting) {
  while (FParser.IsToken('(')) {
    ++nesting;
    FParser.NextToken();
  }
  TSourceTable table;
  table.Nesting = nesting;
  ReadTableName(table, nameMessage);
  ReadSourceAlias(table);
  AddSource(std::move(table));
}

bool TQueryParser::IsJoinStart() const {
  return Is("JOIN") || Is("INNER") || Is("LEFT") || Is("RIGHT") || Is("FULL");
}

// Reads the join keywords and the joined source; the ON condition comes later.
TJoin TQueryParser::ParseJoin(int& nesting) {
  TJoin join;
  if (Accept("INNER")) {
    Expect("JOIN", "JOIN keyword expected after INNER keyword, instead found '");
  } else if (Accept("LEFT")) {
    join.Kind = jkLeft;
    Accept("OUTER");
    Expect("JOIN", "JOIN keyword expected after LEFT or OUTER keyword, instead found '");
  } else if (Accept("RIGHT")) {
    join.Kind = jkRight;
    Accept("OUTER");
    Expect("JOIN", "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
  } else if (Is("FULL")) {
    Fail("Full outer joins are currently not supported in SQL SELECT statements");
  } else {
    FParser.NextToken();  // JOIN
  }
  FQuery.FHasJoin = true;
  ParseSource("Table name expected after JOIN keyword, instead found '", nesting);
  join.SourcePosition = static_cast<int>(FQuery.FSourceTables.size());
  return join;
}

void TQueryParser::ParseJoinCondition(TJoin& join, int& nesting) {
  FParser.NextToken();  // ON
  if (AtClauseEnd()) Fail("JOIN clause is empty");
  join.Condition = ParseClause(kJoinFlags, "JOIN clause", "JOIN clause is empty");
  CloseJoinParentheses(nesting);
}

// Closes the join parentheses opened before sources; a `)` with none open belongs to the
// caller (a parenthesized SELECT).
void TQueryParser::CloseJoinParentheses(int& nesting) {
  while (nesting > 0 && FParser.IsToken(')')) {
    --nesting;
    FParser.NextToken();
  }
}

bool TQueryParser::IsBareAlias() const {
  if (!FParser.IsSymbolOrString()) return false;
  for (std::string_view word : kSourceAliasStops) {
    if (Is(word)) return false;
  }
  return true;
}

void TQueryParser::ReadSourceAlias(TSourceTable& table) {
  if (Accept("AS")) {
    if (!FParser.IsSymbolOrString()) {
      FailFound("Symbol or string expected after AS keyword, instead found '");
    }
  } else if (!IsBareAlias()) {
    return;
  }
  table.CorrelationName = ReadName();
  table.AliasGiven = true;
}

void TQueryParser::AddSource(TSourceTable table) {
  std::string key = table.CorrelationName;
  for (char& c : key) c = AsciiLower(c);
  if (!FCorrelations.insert(std::move(key)).second) {
    Fail("Duplicate table correlation name '" + table.CorrelationName + "' found in source tables");
  }
  table.Position = static_cast<int>(FQuery.FSourceTables.size()) + 1;
  FQuery.FSourceTables.push_back(std::move(table));
}

// --- Conditions and column lists ------------------------------------------------------------

bool TQueryParser::AtClauseEnd() const {
  if (AtExpressionEnd()) return true;
  for (std::string_view word : kClauseStarts) {
    if (Is(word)) return true;
  }
  return false;
}

void TQueryParser::ParseWhere() {
  if (!Accept("WHERE")) return;
  if (AtClauseEnd()) Fail("WHERE clause is empty");
  FQuery.FWhere = ParseClause(kWhereFlags, "WHERE clause", "WHERE clause is empty");
  FQuery.FHasWhere = true;
}

void TQueryParser::ParseHaving() {
  if (!Accept("HAVING")) return;
  if (AtClauseEnd()) Fail("HAVING clause is empty");
  FQuery.FHaving = ParseClause(kHavingFlags, "HAVING clause", "HAVING clause is empty");
  FQuery.FHasHaving = true;
}

void TQueryParser::ReadColumnReference(TGroupByField& field, std::string_view message) {
  if (FParser.IsToken(kTokenInteger)) {
    field.IsNumber = true;
    field.ColumnNumber = ReadInteger(message);
    return;
  }
  if (!FParser.IsSymbolOrString()) FailFound(message);
  field.ColumnName = ReadName();
  if (!FParser.IsToken('.')) return;
  FParser.NextToken();
  if (!FParser.IsSymbolOrString()) FailFound(message);
  field.CorrelationName = std::move(field.ColumnName);
  field.ColumnName = ReadName();
}

void TQueryParser::ParseGroupBy() {
  if (!Accept("GROUP")) return;
  Expect("BY", "BY keyword expected after GROUP keyword, instead found '");
  FQuery.FHasGroupBy = true;
  ReadCommaList([this] {
    TGroupByField field;
    ReadColumnReference(
        field, "Column name or column number expected in GROUP BY clause, instead found '");
    FQuery.FGroupBy.push_back(std::move(field));
  });
}

void TQueryParser::ParseOrderBy() {
  if (!Accept("ORDER")) return;
  Expect("BY", "BY keyword expected after ORDER keyword, instead found '");
  FQuery.FHasOrderBy = true;
  ReadCommaList([this] {
    TOrderByField field;
    ReadColumnReference(
        field, "Column name or column number expected in ORDER BY clause, instead found '");
    field.Descending = ReadDirection();
    FQuery.FOrderBy.push_back(std::move(field));
  });
  FQuery.FOrderByNoCase = Accept("NOCASE");
}

void TQueryParser::ParseSelectOptions(bool readTop) {
  if (readTop && Accept("TOP")) {
    FQuery.FTop = ReadInteger("Integer value expected after TOP keyword, instead found '");
  }
  if (Accept("WITH")) {
    Expect("LOCKS", "LOCKS keyword expected after WITH keyword, instead found '");
    FQuery.FWithLocks = true;
  }
  if (Accept("LANGUAGE")) {
    ReadLanguage(FQuery.FLanguageGiven, FQuery.FLanguageId, FQuery.FSortGiven, FQuery.FSortId);
  }
  if (Accept("ENCRYPTED")) ReadEncryption(FQuery.FEncrypted, FQuery.FPassword);
  FQuery.FNoJoinOptimize = Accept("NOJOINOPTIMIZE");
}

// --- UNION ----------------------------------------------------------------------------------

// Reads the chain of UNIONed SELECTs after this query, iteratively so that a long chain
// needs no deeper stack; then this query's ORDER BY and TOP, which apply to the whole.
void TQueryParser::ParseUnions() {
  if (!Is("UNION")) return;
  if (FQuery.FHasOrderBy) Fail("You cannot use an ORDER BY clause within a UNIONed query");
  TDataQuery* last = &FQuery;
  while (Accept("UNION")) {
    bool all = Accept("ALL");
    if (!FParser.IsToken('(') && !Is("SELECT")) {
      FailFound("SELECT keyword expected, instead found '");
    }
    TDataQuery* part = FQuery.FStatement->NewQuery();
    last->FUnionNext = part;
    last->FUnionAll = all;
    part->ParseStatement(false, true, last);
    last = part;
  }
  ParseOrderBy();
  if (Accept("TOP")) {
    FQuery.FTop = ReadInteger("Integer value expected after TOP keyword, instead found '");
  }
}

}  // namespace kura
