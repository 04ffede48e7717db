#include "sql/query_binder.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/engine_codes.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "sql/expression_binder.h"
#include "sql/query_checks.h"
#include "sql/query_database.h"
#include "sql/query_result_shape.h"
#include "sql/query_statement.h"
#include "sql/record_fields.h"
#include "sql/select_executor.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"

namespace kura {

namespace {

const TCursorField* FindField(const TDataCursor& cursor, const std::string& name) {
  for (int no = 1; no <= cursor.FieldCount(); ++no) {
    const TCursorField& field = cursor.GetFieldDesc(no);
    if (EqualsIgnoringAsciiCase(field.Descriptor.FieldName, name)) return &field;
  }
  return nullptr;
}

// Clause bindings of SQL: quoted names may name columns; a boolean column standing alone in
// a condition means column = True, as the cursor's filters read it.
TBindOptions SqlOptions(std::string_view context, bool stringsAsColumns, bool isCondition) {
  TBindOptions options;
  options.ErrorCode = codes::kSqlError;
  options.ContextName = std::string(context);
  options.StringConstantsAsColumns = stringsAsColumns;
  options.BooleanColumnsStandAlone = isCondition;
  return options;
}

// Column names over the source tables, in FROM order.
class TSourceColumns : public TColumnResolver {
 public:
  explicit TSourceColumns(TDataQuery& query) : FQuery(query), FTables(query.FSourceTables) {}

  bool ResolveColumn(TExpToken& node) override {
    if (node.FKind == kNodeColumn && !node.FTableName.empty()) {
      for (TSourceTable& table : FTables) {
        if (EqualsIgnoringAsciiCase(table.CorrelationName, node.FTableName)) {
          return ResolveIn(table, node);
        }
      }
      RefuseCorrelatedColumn(node);
      return false;
    }
    for (TSourceTable& table : FTables) {
      if (ResolveIn(table, node)) return true;
    }
    return false;
  }

 private:
  static bool ResolveIn(TSourceTable& table, TExpToken& node) {
    if (table.Cursor == nullptr) return false;
    const TCursorField* field = FindField(*table.Cursor, node.FColumnName);
    if (field == nullptr) return false;
    SetColumnType(node, field->Descriptor);
    node.FSourceTable = &table;
    // A quoted string offered as a name keeps no qualifier: it may still turn back into text.
    if (node.FKind == kNodeColumn) node.FTableName = table.CorrelationName;
    return true;
  }

  // A sub-select naming a table of another query of its statement would have to run once
  // per row of that query; such correlated sub-selects are refused with a message that
  // says so.
  void RefuseCorrelatedColumn(const TExpToken& node) const {
    if (!FQuery.FIsSubQuery) return;
    for (const auto& other : FQuery.FStatement->FQueries) {
      if (other.get() == &FQuery || FindSourceTable(*other, node.FTableName) == nullptr) continue;
      RaiseQueryError("Correlated sub-select queries are not supported: column '" +
                      node.FColumnName + "' of table correlation name '" + node.FTableName +
                      "' belongs to an enclosing query");
    }
  }

  TDataQuery& FQuery;
  std::vector<TSourceTable>& FTables;
};

// Whether name (with an optional correlation) names the result column: by its alias, or by
// the table column it shows.
bool NamesResultColumn(const TResultField& field, const std::string& name,
                       const std::string& correlation) {
  if (correlation.empty() && !field.Alias.empty() && EqualsIgnoringAsciiCase(field.Alias, name)) {
    return true;
  }
  if (field.Aggregate != akNone || field.Computed || field.ColumnName.empty()) return false;
  return EqualsIgnoringAsciiCase(field.ColumnName, name) &&
         (correlation.empty() || EqualsIgnoringAsciiCase(correlation, field.CorrelationName));
}

void CopyType(const TExpToken& from, TExpToken& to) {
  to.FDataType = from.FDataType;
  to.FSubType = from.FSubType;
  to.FDataSize = from.FDataSize;
  to.FScale = from.FScale;
}

// Makes node a reference to result column number (1-based) of the query.
void MakeResultReference(TDataQuery& query, int number, TExpToken& node) {
  const TResultField& field = query.FResultFields[static_cast<std::size_t>(number) - 1];
  node.FKind = kNodeColumn;
  node.FOperator = opNone;
  node.FColumnName = ResultColumnName(field);
  node.FTableName.clear();
  node.FFieldNo = static_cast<std::uint16_t>(number);
  node.FSourceTable = &query;
  CopyType(*field.Expression, node);
}

// Column names over the result columns (HAVING).
class TResultColumns : public TColumnResolver {
 public:
  explicit TResultColumns(TDataQuery& query) : FQuery(query) {}

  bool ResolveColumn(TExpToken& node) override {
    if (node.FSourceTable == &FQuery && node.FFieldNo > 0) return true;  // a replaced aggregate
    std::string correlation = node.FKind == kNodeColumn ? node.FTableName : std::string();
    for (std::size_t i = 0; i < FQuery.FResultFields.size(); ++i) {
      if (!NamesResultColumn(FQuery.FResultFields[i], node.FColumnName, correlation)) continue;
      std::uint8_t kind = node.FKind;
      MakeResultReference(FQuery, static_cast<int>(i) + 1, node);
      node.FKind = kind;  // the binder turns an accepted string into a column itself
      return true;
    }
    return false;
  }

 private:
  TDataQuery& FQuery;
};

bool IsAggregate(const TExpToken& node) {
  return node.FKind == kNodeFunction && node.FOperator >= opSum && node.FOperator <= opAvg;
}

// Two bound trees compute the same value: same shape, operators and types, the same
// resolved columns and equal constants. Trees are at most kMaxTreeHeight high.
bool SameTree(const TExpToken* a, const TExpToken* b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (a->FKind != b->FKind || a->FOperator != b->FOperator || a->FDataType != b->FDataType ||
      a->FArgs.size() != b->FArgs.size()) {
    return false;
  }
  switch (a->FKind) {
    case kNodeColumn:
      if (a->FSourceTable != nullptr || b->FSourceTable != nullptr) {
        return a->FSourceTable == b->FSourceTable && a->FFieldNo == b->FFieldNo;
      }
      return EqualsIgnoringAsciiCase(a->FColumnName, b->FColumnName);  // COUNT(*)
    case kNodeConstant:
      if (a->FIsParam || b->FIsParam) return a == b;
      return a->FIsNull == b->FIsNull && a->FDataSize == b->FDataSize &&
             std::memcmp(a->Data(), b->Data(), static_cast<std::size_t>(a->FDataSize)) == 0;
    case kNodeSubSelect:
      return false;
    default:
      break;
  }
  if (!SameTree(a->FLeft, b->FLeft) || !SameTree(a->FRight, b->FRight)) return false;
  for (std::size_t i = 0; i < a->FArgs.size(); ++i) {
    if (!SameTree(a->FArgs[i], b->FArgs[i])) return false;
  }
  return true;
}

void ReleaseChildren(TExpToken& node) {
  TExpTokenStack::Release(node.FLeft);
  TExpTokenStack::Release(node.FRight);
  node.FLeft = nullptr;
  node.FRight = nullptr;
  for (TExpToken* arg : node.FArgs) TExpTokenStack::Release(arg);
  node.FArgs.clear();
  node.FDepth = 1;
}

// Every aggregate of a HAVING tree becomes a reference to the equal aggregate of the select
// list.
void ReplaceHavingAggregates(TDataQuery& query, TColumnResolver& sources, TExpToken& node) {
  if (node.FKind == kNodeSubSelect) return;
  if (!IsAggregate(node)) {
    for (TExpToken* child : {node.FLeft, node.FRight}) {
      if (child != nullptr) ReplaceHavingAggregates(query, sources, *child);
    }
    for (TExpToken* arg : node.FArgs) ReplaceHavingAggregates(query, sources, *arg);
    return;
  }
  BindExpression(SqlOptions("HAVING clause", true, false), &sources, nullptr, node);
  for (std::size_t i = 0; i < query.FResultFields.size(); ++i) {
    const TResultField& field = query.FResultFields[i];
    if (field.Aggregate == akNone || !SameTree(field.Expression.get(), &node)) continue;
    ReleaseChildren(node);
    MakeResultReference(query, static_cast<int>(i) + 1, node);
    return;
  }
  RaiseQueryError("Expression in HAVING clause not found in source columns");
}

bool IsBlob(const TResultField& field) {
  return field.DataType == kFieldTypeBlob;
}

// The declared size of a result column: characters of a string, bytes of a BYTES value, 0
// where the type fixes the size.
std::int32_t DeclaredSize(const TExpToken& node) {
  if (node.FDataType == kFieldTypeString) return std::max(0, node.FDataSize - 1);
  if (node.FDataType == kFieldTypeBytes) return node.FDataSize;
  return 0;
}

}  // namespace

const std::string& ResultColumnName(const TResultField& field) {
  if (!field.Alias.empty()) return field.Alias;
  bool plainColumn = field.Aggregate == akNone && !field.Computed && !field.ColumnName.empty();
  return plainColumn ? field.ColumnName : field.Text;
}

void TQueryBinder::Prepare() {
  switch (FQuery.FKind) {
    case qkSelect:
      OpenSources(FQuery.FRequestLive, FQuery.FRequestLive);
      TakeLocale();
      PrepareSelect();
      break;
    case qkInsert:
      OpenSources(true, false);
      TakeLocale();
      PrepareInsert();
      break;
    case qkUpdate:
      OpenSources(true, false);
      TakeLocale();
      PrepareUpdate();
      break;
    case qkDelete:
      OpenSources(true, false);
      TakeLocale();
      BindConditions();
      break;
    default:  // definitions and transactions read no table
      break;
  }
}

void TQueryBinder::OpenSources(bool firstWritable, bool othersWritable) {
  for (std::size_t i = 0; i < FQuery.FSourceTables.size(); ++i) {
    bool writable = i == 0 ? firstWritable : othersWritable;
    FDatabase.OpenSource(FQuery.FSourceTables[i], !writable);
  }
}

void TQueryBinder::TakeLocale() {
  if (FQuery.FSourceTables.empty() || FQuery.FLanguageGiven || FQuery.FSortGiven) return;
  const TDataFile& data = FQuery.FSourceTables.front().Cursor->Table()->Data();
  FQuery.FLanguageId = static_cast<std::uint16_t>(data.LanguageId());
  FQuery.FSortId = static_cast<std::uint16_t>(data.SortId());
}

// --- SELECT ---------------------------------------------------------------------------------

void TQueryBinder::PrepareSelect() {
  ExpandStars();
  if (FQuery.FResultFields.size() > kMaxQueryColumns) {
    RaiseQueryError("Maximum number of columns (1024) in result set exceeded");
  }
  BindResultFields();
  BindConditions();
  ResolveColumnLists();
  if (FQuery.FHaving) BindHaving();
  if (!FQuery.FIsUnionPart && FQuery.FUnionNext != nullptr) CheckUnionParts();
  DecideResultShape(FQuery, FQuery.FStatement->FQueries.size());
  if (FQuery.FResultIsLive) PrepareLiveResult(FQuery);
}

void TQueryBinder::ExpandStars() {
  std::vector<TResultField> expanded;
  for (TResultField& field : FQuery.FResultFields) {
    if (!IsStarColumn(field)) {
      expanded.push_back(std::move(field));
      continue;
    }
    const std::string& qualifier = field.Expression->FTableName;
    for (const TSourceTable& table : FQuery.FSourceTables) {
      if (!qualifier.empty() && !EqualsIgnoringAsciiCase(qualifier, table.CorrelationName)) {
        continue;
      }
      for (int no = 1; no <= table.Cursor->FieldCount(); ++no) {
        TResultField column;
        column.ColumnName = table.Cursor->GetFieldDesc(no).Descriptor.FieldName;
        column.CorrelationName = table.CorrelationName;
        column.Text = column.ColumnName;
        column.Expression = NewToken();
        column.Expression->FKind = kNodeColumn;
        column.Expression->FText = column.ColumnName;
        column.Expression->FColumnName = column.ColumnName;
        column.Expression->FTableName = table.CorrelationName;
        expanded.push_back(std::move(column));
      }
    }
  }
  FQuery.FResultFields = std::move(expanded);
}

void TQueryBinder::BindResultFields() {
  TSourceColumns sources(FQuery);
  TBindOptions options = SqlOptions("source columns", true, false);
  for (TResultField& field : FQuery.FResultFields) {
    TExpToken& node = *field.Expression;
    BindExpression(options, &sources, nullptr, node);
    const TExpToken* column = &node;
    if (IsAggregate(node) && node.FArgs[0]->FSourceTable != nullptr) column = node.FArgs[0];
    if (column->FKind == kNodeColumn && column->FSourceTable != nullptr) {
      const auto& table = *static_cast<const TSourceTable*>(column->FSourceTable);
      field.SourceFieldNo = column->FFieldNo;
      if (column == &node) {
        field.CorrelationName = table.CorrelationName;
        field.Size = table.Cursor->GetFieldDesc(column->FFieldNo).Descriptor.FieldSize;
      }
    }
    if (node.FDataType == kFieldTypeString && node.FDataSize - 1 > kMaxDeclaredSize) {
      RaiseQueryError("Column expression '" + field.Text +
                      "' exceeds the maximum allowable field size");
    }
    if (column != &node || node.FKind != kNodeColumn) field.Size = DeclaredSize(node);
    field.DataType = node.FDataType;
    field.SubType = node.FSubType;
    field.Scale = node.FScale;
  }
}

void TQueryBinder::BindConditions() {
  TSourceColumns sources(FQuery);
  auto bind = [&sources](TExpTokenPtr& tree, std::string_view context) {
    if (!tree) return;
    BindExpression(SqlOptions(context, true, true), &sources, nullptr, *tree);
    if (tree->FDataType != kFieldTypeBoolean) {
      RaiseQueryError("WHERE or JOIN clause must be a boolean expression");
    }
  };
  for (TJoin& join : FQuery.FJoins) bind(join.Condition, "JOIN clause");
  bind(FQuery.FWhere, "WHERE clause");
}

namespace {

// The 1-based result column an ORDER BY or GROUP BY item names.
int ResolveListColumn(const TDataQuery& query, const TGroupByField& item,
                      const std::string& clause) {
  auto count = static_cast<std::int32_t>(query.FResultFields.size());
  if (item.IsNumber) {
    if (item.ColumnNumber < 1 || item.ColumnNumber > count) {
      RaiseQueryError("Invalid column number '" + std::to_string(item.ColumnNumber) +
                      "' specified in " + clause);
    }
    return item.ColumnNumber;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (NamesResultColumn(query.FResultFields[static_cast<std::size_t>(i)], item.ColumnName,
                          item.CorrelationName)) {
      return i + 1;
    }
  }
  RaiseQueryError("Invalid column name '" + item.ColumnName + "' or table correlation name '" +
                  item.CorrelationName + "' specified in " + clause);
}

template <typename TItem>
void ResolveList(const TDataQuery& query, std::vector<TItem>& items, const std::string& clause) {
  for (TItem& item : items) {
    item.ResultColumn = ResolveListColumn(query, item, clause);
    const TResultField& field =
        query.FResultFields[static_cast<std::size_t>(item.ResultColumn) - 1];
    // Rows are sorted on key values, which a BLOB has none of.
    if (IsBlob(field)) {
      RaiseQueryError("Invalid BLOB column '" + ResultColumnName(field) + "' specified in " +
                      clause);
    }
  }
}

}  // namespace

void TQueryBinder::ResolveColumnLists() {
  ResolveList(FQuery, FQuery.FGroupBy, "GROUP BY clause");
  ResolveList(FQuery, FQuery.FOrderBy, "ORDER BY clause");
  if (!FQuery.FDistinct) return;
  if (FQuery.FResultFields.size() > kMaxQueryColumns) {
    RaiseQueryError("Maximum number of columns (1024) in DISTINCT clause exceeded");
  }
  for (const TResultField& field : FQuery.FResultFields) {
    if (IsBlob(field)) {
      RaiseQueryError("Invalid BLOB column '" + ResultColumnName(field) +
                      "' specified in DISTINCT clause");
    }
  }
}

void TQueryBinder::BindHaving() {
  TSourceColumns sources(FQuery);
  ReplaceHavingAggregates(FQuery, sources, *FQuery.FHaving);
  TResultColumns results(FQuery);
  BindExpression(SqlOptions("HAVING clause", true, true), &results, nullptr, *FQuery.FHaving);
  if (FQuery.FHaving->FDataType != kFieldTypeBoolean) {
    RaiseQueryError("HAVING clause must be a boolean expression");
  }
}

void TQueryBinder::CheckUnionParts() {
  const TDataQuery* before = &FQuery;
  for (const TDataQuery* part = FQuery.FUnionNext; part != nullptr;
       before = part, part = part->FUnionNext) {
    CheckUnionColumnCount(*part);
    std::string name = before->FUnionAll ? "UNION ALL" : "UNION";
    for (std::size_t i = 0; i < part->FResultFields.size(); ++i) {
      const TResultField& mine = FQuery.FResultFields[i];
      const TResultField& theirs = part->FResultFields[i];
      if (EqualityCompatible(*mine.Expression, *theirs.Expression)) continue;
      RaiseQueryError("Type mismatch between column expression '" + theirs.Text + "' in the " +
                      name + " query and column expression " + mine.Text + " in the master query");
    }
  }
}

// --- INSERT and UPDATE ----------------------------------------------------------------------

void TQueryBinder::BindTargetColumns() {
  TSourceTable& target = FQuery.FSourceTables.front();
  const TDataCursor& cursor = *target.Cursor;
  auto bind = [](TUpdateField& column, const TFieldDescriptor& field) {
    column.FieldNo = field.FieldNo;
    column.DataType = field.FieldType;
    column.SubType = field.FieldSubType;
    column.Size = field.FieldSize;
    column.Scale = field.FieldDecimals;
  };
  std::vector<TUpdateField> bound;
  bool allColumns = FQuery.FKind == qkInsert && FQuery.FUpdateFields.empty();
  for (TUpdateField& column : FQuery.FUpdateFields) {
    allColumns = allColumns || column.ColumnName == "*";
    if (column.ColumnName == "*") continue;
    const TCursorField* field = FindField(cursor, column.ColumnName);
    bool correlationFits = column.CorrelationName.empty() ||
                           EqualsIgnoringAsciiCase(column.CorrelationName, target.CorrelationName);
    if (field == nullptr || !correlationFits) {
      RaiseQueryError("Invalid column name '" + column.ColumnName +
                      "' or table correlation name '" + column.CorrelationName +
                      "' specified in table columns");
    }
    bind(column, field->Descriptor);
    bound.push_back(std::move(column));
  }
  if (allColumns) {
    bound.clear();
    for (int no = 1; no <= cursor.FieldCount(); ++no) {
      TUpdateField column;
      column.ColumnName = cursor.GetFieldDesc(no).Descriptor.FieldName;
      bind(column, cursor.GetFieldDesc(no).Descriptor);
      bound.push_back(std::move(column));
    }
  }
  FQuery.FUpdateFields = std::move(bound);
}

void TQueryBinder::PrepareInsert() {
  BindTargetColumns();
  std::size_t values = FQuery.FInsertSelect != nullptr ? FQuery.FInsertSelect->FResultFields.size()
                                                       : FQuery.FUpdateValues.size();
  if (values != FQuery.FUpdateFields.size()) {
    RaiseQueryError("The number of values must match the number of table columns");
  }
  // Values name no columns: there is no row to read them from.
  TBindOptions options = SqlOptions("value expression", false, false);
  for (TUpdateValue& value : FQuery.FUpdateValues) {
    BindExpression(options, nullptr, nullptr, *value.Expression);
  }
}

void TQueryBinder::PrepareUpdate() {
  BindTargetColumns();
  TSourceColumns sources(FQuery);
  TBindOptions options = SqlOptions("value expression", true, false);
  TBindOptions check = SqlOptions("update values", false, false);
  for (std::size_t i = 0; i < FQuery.FUpdateValues.size(); ++i) {
    const TUpdateField& target = FQuery.FUpdateFields[i];
    TExpToken& value = *FQuery.FUpdateValues[i].Expression;
    BindExpression(options, &sources, nullptr, value);
    TExpTokenPtr column = NewToken();
    column->FKind = kNodeColumn;
    column->FColumnName = target.ColumnName;
    column->FDataType = target.DataType;
    column->FSubType = target.SubType;
    column->FScale = target.Scale;
    ConvertDateConstant(check, value, *column);
    // Other text constants are converted when stored, where a text that is no value of the
    // column's type fails with the UPDATE statement's message.
    bool text =
        value.FKind == kNodeConstant && !value.FIsParam && value.FDataType == kFieldTypeString;
    if (text || EqualityCompatible(*column, value)) continue;
    bool named = value.FKind == kNodeColumn || value.FKind == kNodeConstant;
    RaiseQueryError("Type mismatch between column '" + target.ColumnName + "' and " +
                    std::string(NodeKindWord(value)) + " '" +
                    (named ? value.FText : FQuery.FUpdateValues[i].Text) + "' in update values");
  }
  BindConditions();
}

}  // namespace kura
