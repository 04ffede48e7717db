// The checks of a parsed query that need no tables: they run right after parsing, before
// the binding step opens the source tables. Checks that need the tables' columns (what `*`
// expands to, column types and sizes, boolean conditions) belong to binding.
#include "sql/query_checks.h"

#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/ascii_case.h"

namespace kura {

namespace {

[[noreturn]] void Fail(const std::string& message) {
  RaiseQueryError(message);
}

bool IsStar(const TResultField& field) {
  return IsStarColumn(field);
}

bool HasStar(const TDataQuery& query) {
  for (const TResultField& field : query.FResultFields) {
    if (IsStar(field)) return true;
  }
  return false;
}

bool IsSource(const TDataQuery& query, const std::string& correlation) {
  return FindSourceTable(query, correlation) != nullptr;
}

// The first qualified column whose correlation names no source table, or nullptr.
const TExpToken* UnknownCorrelation(const TDataQuery& query, const TExpToken* node) {
  if (node == nullptr) return nullptr;
  if (node->FKind == kNodeColumn && !node->FTableName.empty() &&
      !IsSource(query, node->FTableName)) {
    return node;
  }
  for (const TExpToken* child : {node->FLeft, node->FRight}) {
    if (const TExpToken* found = UnknownCorrelation(query, child)) return found;
  }
  for (const TExpToken* arg : node->FArgs) {
    if (const TExpToken* found = UnknownCorrelation(query, arg)) return found;
  }
  return nullptr;
}

void CheckResultFields(const TDataQuery& query) {
  bool aggregates = false;
  bool plainColumns = false;
  for (const TResultField& field : query.FResultFields) {
    const TExpToken& expression = *field.Expression;
    if (expression.FKind == kNodeColumn && !expression.FTableName.empty() &&
        !IsSource(query, expression.FTableName)) {
      Fail("Invalid column name '" + expression.FColumnName + "' or table correlation name '" +
           expression.FTableName + "' specified in source columns");
    }
    if (IsStar(field) && !field.Alias.empty()) {
      Fail("Invalid use of column correlation name '" + field.Alias + "' for '" + field.Text +
           "' specified in source columns");
    }
    if (expression.FKind == kNodeConstant && !expression.FIsParam &&
        expression.FDataType == kUntyped) {
      Fail(
          "Column expression cannot be a NULL constant, use the CAST() function to specify a "
          "data type");
    }
    if (field.Aggregate != akNone) {
      aggregates = true;
    } else if (ContainsColumn(&expression)) {
      plainColumns = true;
    }
  }
  if (query.FResultFields.size() > kMaxQueryColumns) {
    Fail("Maximum number of columns (1024) in result set exceeded");
  }
  if (aggregates && plainColumns && !query.FHasGroupBy) {
    Fail("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  }
}

template <typename TField>
void CheckColumnList(const TDataQuery& query, const std::vector<TField>& fields,
                     const std::string& clause) {
  if (fields.size() > kMaxQueryColumns) {
    Fail("Maximum number of columns (1024) in " + clause + " exceeded");
  }
  // With `*` in the select list the number of result columns is known only after binding.
  bool countKnown = !HasStar(query);
  auto count = static_cast<std::int64_t>(query.FResultFields.size());
  for (const TField& field : fields) {
    if (field.IsNumber && countKnown && (field.ColumnNumber < 1 || field.ColumnNumber > count)) {
      Fail("Invalid column number '" + std::to_string(field.ColumnNumber) + "' specified in " +
           clause);
    }
    if (!field.IsNumber && !field.CorrelationName.empty() &&
        !IsSource(query, field.CorrelationName)) {
      Fail("Invalid column name '" + field.ColumnName + "' or table correlation name '" +
           field.CorrelationName + "' specified in " + clause);
    }
  }
}

}  // namespace

void CheckUnionColumnCount(const TDataQuery& part) {
  const TDataQuery* master = &part;
  while (master->FUnionedTo != nullptr) master = master->FUnionedTo;
  if (HasStar(part) || HasStar(*master)) return;
  if (part.FResultFields.size() != master->FResultFields.size()) {
    Fail(std::string("The number of columns  in the ") +
         (part.FUnionedTo->FUnionAll ? "UNION ALL" : "UNION") +
         " query must match the  number of columns in the master query");
  }
}

namespace {

void CheckWhereCorrelations(const TDataQuery& query) {
  if (const TExpToken* column = UnknownCorrelation(query, query.FWhere.get())) {
    Fail("Table correlation name '" + column->FTableName +
         "' referenced in WHERE clause is not defined in the FROM clause");
  }
}

void CheckSelect(TDataQuery& query) {
  if (query.FDistinct && query.FHasGroupBy) query.FDistinct = false;
  if (query.FHasHaving && !query.FHasGroupBy) {
    Fail("A GROUP BY clause must exist in order to use the HAVING clause");
  }
  CheckResultFields(query);
  if (query.FIsUnionPart) CheckUnionColumnCount(query);
  CheckColumnList(query, query.FOrderBy, "ORDER BY clause");
  CheckColumnList(query, query.FGroupBy, "GROUP BY clause");
  // A sub-select may name the tables of the query around it.
  if (!query.FIsSubQuery) CheckWhereCorrelations(query);
}

void CheckInsert(const TDataQuery& query) {
  bool star = false;
  for (const TUpdateField& field : query.FUpdateFields) star = star || field.ColumnName == "*";
  // Without a column list (or with `*`) the columns are the table's, known after binding.
  if (query.FUpdateFields.empty() || star || query.FInsertSelect != nullptr) return;
  if (query.FUpdateValues.size() != query.FUpdateFields.size()) {
    Fail("The number of values must match the number of table columns");
  }
}

}  // namespace

// Trees are at most kMaxTreeHeight high, so these recursions are bounded.
bool ContainsColumn(const TExpToken* node) {
  if (node == nullptr) return false;
  if (node->FKind == kNodeColumn || node->FKind == kNodeSubSelect) return true;
  if (ContainsColumn(node->FLeft) || ContainsColumn(node->FRight)) return true;
  for (const TExpToken* arg : node->FArgs) {
    if (ContainsColumn(arg)) return true;
  }
  return false;
}

void RaiseQueryError(const std::string& message) {
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {}, message);
}

bool IsStarColumn(const TResultField& field) {
  return field.Expression->FKind == kNodeColumn && field.Expression->FColumnName == "*";
}

const TSourceTable* FindSourceTable(const TDataQuery& query, const std::string& correlation) {
  for (const TSourceTable& table : query.FSourceTables) {
    if (EqualsIgnoringAsciiCase(table.CorrelationName, correlation)) return &table;
  }
  return nullptr;
}

void CheckParsedQuery(TDataQuery& query) {
  if (query.FKind == qkSelect) {
    CheckSelect(query);
  } else if (query.FKind == qkInsert) {
    CheckInsert(query);
  } else if (query.FKind == qkUpdate || query.FKind == qkDelete) {
    CheckWhereCorrelations(query);
  }
}

}  // namespace kura
