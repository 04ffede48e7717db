// The INSERT, UPDATE and DELETE grammars.
//
//   INSERT INTO [MEMORY] name[\name] [( column {, column} )]
//          (VALUES ( value {, value} ) | SELECT ...) [NOAUTOINC] [COMMIT ...]
//   UPDATE [MEMORY] name[\name] [[AS] alias] SET column = value {, column = value}
//          [FROM sources] [WHERE condition] [NOAUTOINC] [COMMIT ...] [NOJOINOPTIMIZE]
//   DELETE FROM sources [WHERE condition] [COMMIT ...] [NOJOINOPTIMIZE]
//
// The target table is the first source table.
#include "sql/query_parser.h"
#include "sql/query_statement.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"

namespace kura {

namespace {

constexpr std::string_view kContext = "SQL statement";

}  // namespace

// A column name after SET or in an INSERT column list: a plain or qualified column, also
// written as a quoted name.
TUpdateField TQueryParser::ReadTargetColumn(int flags) {
  if (AtExpressionEnd()) Fail("Table column name is empty");
  FParser.SetContextName("table column");
  TExpTokenPtr node = FParser.ParsePrimary(flags);
  FParser.SetContextName(kContext);
  TUpdateField field;
  if (node->FKind == kNodeColumn) {
    field.ColumnName = node->FColumnName;
    field.CorrelationName = node->FTableName;
  } else if (node->FKind == kNodeConstant && node->FDataType == kFieldTypeString) {
    field.ColumnName = node->FText.substr(0, kMaxTokenNameLength);
  } else {
    Fail("Table column name expected, instead found '" + node->FText + "'");
  }
  return field;
}

TUpdateValue TQueryParser::ReadValue() {
  TUpdateValue value;
  FParser.MarkStart();
  value.Expression = ParseClause(kValueFlags, "value expression", "Value expression is empty");
  value.Text = FParser.MarkedText();
  return value;
}

// --- INSERT ---------------------------------------------------------------------------------

void TQueryParser::ParseInsert() {
  FQuery.FKind = qkInsert;
  Expect("INTO", "INTO keyword expected, instead found '");
  TSourceTable table;
  ReadTableName(table, "Table name expected after INTO keyword, instead found '");
  AddSource(std::move(table));
  if (FParser.IsToken('(')) ParseInsertColumns();
  if (Accept("VALUES")) {
    ParseInsertValues();
  } else if (Is("SELECT")) {
    TDataQuery* select = FQuery.FStatement->NewQuery();
    FQuery.FInsertSelect = select;
    TQueryParser(*select, FParser).ParseSelect(false);
  } else {
    FailFound("VALUES or SELECT  keyword expected, instead found '");
  }
  FQuery.FNoAutoInc = Accept("NOAUTOINC");
  ReadCommitOption();
}

void TQueryParser::ParseInsertColumns() {
  FParser.NextToken();  // (
  // `*` stands for all columns of the table.
  ReadCommaList([this] { FQuery.FUpdateFields.push_back(ReadTargetColumn(kAllowStar)); });
  ExpectRightParen("Right parentheses expected after list of table columns, instead found '");
}

void TQueryParser::ParseInsertValues() {
  if (!FParser.IsToken('(')) {
    FailFound("Left parentheses expected after VALUES keyword, instead found '");
  }
  FParser.NextToken();
  ReadCommaList([this] { FQuery.FUpdateValues.push_back(ReadValue()); });
  ExpectRightParen("Right parentheses expected after list of values, instead found '");
}

// --- UPDATE ---------------------------------------------------------------------------------

void TQueryParser::ParseUpdate() {
  FQuery.FKind = qkUpdate;
  TSourceTable table;
  ReadTableName(table, "Table name expected, instead found '");
  ReadSourceAlias(table);
  AddSource(std::move(table));
  Expect("SET", "SET keyword expected, instead found '");
  ReadCommaList([this] { ParseUpdateAssignment(); });
  if (Accept("FROM")) ParseUpdateFrom();
  ParseWhere();
  FQuery.FNoAutoInc = Accept("NOAUTOINC");
  ReadCommitOption();
  FQuery.FNoJoinOptimize = Accept("NOJOINOPTIMIZE");
}

void TQueryParser::ParseUpdateAssignment() {
  FQuery.FUpdateFields.push_back(ReadTargetColumn(0));
  if (!FParser.IsToken('=')) {
    FailFound("Assignment (=) operator expected after column name, instead found '");
  }
  FParser.NextToken();
  FQuery.FUpdateValues.push_back(ReadValue());
}

// The FROM list of an UPDATE names the updated table first; an alias given to it after
// UPDATE still holds when FROM repeats the table without one.
void TQueryParser::ParseUpdateFrom() {
  TSourceTable target = std::move(FQuery.FSourceTables.front());
  FQuery.FSourceTables.clear();
  FCorrelations.clear();
  ParseFromList();
  TSourceTable& first = FQuery.FSourceTables.front();
  if (!EqualsIgnoringAsciiCase(first.Name, target.Name) || first.InMemory != target.InMemory) {
    Fail(
        "The first source table specified in FROM clause must match the table being updated "
        "in the UPDATE statement");
  }
  if (first.AliasGiven || !target.AliasGiven) return;
  for (std::size_t i = 1; i < FQuery.FSourceTables.size(); ++i) {
    if (EqualsIgnoringAsciiCase(FQuery.FSourceTables[i].CorrelationName, target.CorrelationName)) {
      Fail("Duplicate table correlation name '" + target.CorrelationName +
           "' found in source tables");
    }
  }
  first.CorrelationName = target.CorrelationName;
  first.AliasGiven = true;
}

// --- DELETE ---------------------------------------------------------------------------------

void TQueryParser::ParseDelete() {
  FQuery.FKind = qkDelete;
  Expect("FROM", "FROM keyword expected, instead found '");
  ParseFromList();
  ParseWhere();
  ReadCommitOption();
  FQuery.FNoJoinOptimize = Accept("NOJOINOPTIMIZE");
}

}  // namespace kura
