#include "dataset/memory_database.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "dataset/memory_result.h"
#include "dataset/memory_sql.h"
#include "storage/ascii_case.h"

namespace kura {
namespace {

[[noreturn]] void RaiseSqlError(const std::string& text) {
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {}, text);
}

// A comparison operand once bound: a column of the row, or a constant.
struct BoundOperand {
  int column = -1;  // >= 0: read from the row
  bool numeric = false;
  TFieldValue constant;
};

struct BoundComparison {
  BoundOperand left, right;
  TSqlComparison::Op op;
};

// Three-way comparison of two non-null values of the same class; nulls sort first.
int CompareValues(bool numeric, const TFieldValue& a, const TFieldValue& b) {
  if (a.IsNull || b.IsNull) return a.IsNull == b.IsNull ? 0 : (a.IsNull ? -1 : 1);
  if (numeric) return a.Integer < b.Integer ? -1 : (a.Integer > b.Integer ? 1 : 0);
  const int c = a.Text.compare(b.Text);  // byte order
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

const TFieldValue& OperandValue(const BoundOperand& operand, const TRecord& row) {
  return operand.column >= 0 ? row[static_cast<std::size_t>(operand.column)] : operand.constant;
}

bool Holds(const BoundComparison& comparison, const TRecord& row) {
  const TFieldValue& a = OperandValue(comparison.left, row);
  const TFieldValue& b = OperandValue(comparison.right, row);
  if (a.IsNull || b.IsNull) return false;  // nothing equals or exceeds null
  const int c = CompareValues(comparison.left.numeric, a, b);
  return comparison.op == TSqlComparison::Op::kEqual ? c == 0 : c > 0;
}

// Turns a numeric constant into its digits for comparing with a text column: compared as a
// number it would read the column's text as 0.
void MakeText(BoundOperand& operand) {
  if (!operand.numeric || operand.column >= 0) return;
  if (!operand.constant.IsNull)
    operand.constant = TFieldValue::OfString(std::to_string(operand.constant.Integer));
  operand.numeric = false;
}

// Turns a string constant into a number for comparing with a numeric column.
void MakeNumeric(BoundOperand& operand) {
  if (operand.numeric || operand.column >= 0) return;
  if (operand.constant.IsNull) {
    operand.numeric = true;
    return;
  }
  const std::string& text = operand.constant.Text;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    RaiseSqlError("Type mismatch: '" + text.substr(0, 32) + "' is not a number");
  operand.constant = TFieldValue::OfInteger(value);
  operand.numeric = true;
}

// Statement bound to one table: column names resolved, markers not yet filled.
class MemoryStatement : public TPreparedQuery {
 public:
  MemoryStatement(std::shared_ptr<TMemoryTable> table, TSelectStatement statement,
                  TQueryOptions options)
      : table_(std::move(table)), statement_(std::move(statement)), options_(options) {
    for (const TSqlComparison& comparison : statement_.where) {
      CheckColumn(comparison.left);
      CheckColumn(comparison.right);
    }
    if (!statement_.order_by.empty()) {
      order_column_ = table_->FieldIndex(statement_.order_by);
      if (order_column_ < 0) RaiseUnknownColumn(statement_.order_by);
    }
  }

  std::unique_ptr<TResultCursor> Execute(const std::vector<TMarkerValue>& markers) override;

 private:
  [[noreturn]] void RaiseUnknownColumn(const std::string& name) const {
    RaiseSqlError("Column '" + name.substr(0, 32) + "' not found in table " + table_->name);
  }
  void CheckColumn(const TSqlOperand& operand) const {
    if (operand.kind == TSqlOperand::Kind::kColumn && table_->FieldIndex(operand.name) < 0)
      RaiseUnknownColumn(operand.name);
  }
  BoundOperand Bind(const TSqlOperand& operand, const std::vector<TMarkerValue>& markers) const;
  std::vector<BoundComparison> BindAll(const std::vector<TMarkerValue>& markers) const;

  std::shared_ptr<TMemoryTable> table_;
  TSelectStatement statement_;
  TQueryOptions options_;
  int order_column_ = -1;
};

BoundOperand MemoryStatement::Bind(const TSqlOperand& operand,
                                   const std::vector<TMarkerValue>& markers) const {
  BoundOperand bound;
  switch (operand.kind) {
    case TSqlOperand::Kind::kColumn:
      bound.column = table_->FieldIndex(operand.name);
      bound.numeric = !IsTextType(table_->fields[static_cast<std::size_t>(bound.column)].DataType);
      break;
    case TSqlOperand::Kind::kInteger:
      bound.numeric = true;
      bound.constant = TFieldValue::OfInteger(operand.integer);
      break;
    case TSqlOperand::Kind::kString:
      bound.constant = TFieldValue::OfString(operand.text);
      break;
    case TSqlOperand::Kind::kMarker: {
      const TMarkerValue& marker = markers[static_cast<std::size_t>(operand.marker)];
      if (IsTextType(marker.DataType)) {
        bound.constant = marker.Value;
      } else if (IsFloatType(marker.DataType)) {
        RaiseSqlError("Parameter '" + marker.Name.substr(0, 32) +
                      "': decimal values are not supported");
      } else {
        bound.numeric = true;
        bound.constant = marker.Value;
      }
      break;
    }
  }
  return bound;
}

std::vector<BoundComparison> MemoryStatement::BindAll(
    const std::vector<TMarkerValue>& markers) const {
  if (markers.size() != static_cast<std::size_t>(statement_.marker_count))
    RaiseSqlError("Expected " + std::to_string(statement_.marker_count) +
                  " parameter values, got " + std::to_string(markers.size()));
  std::vector<BoundComparison> bound;
  for (const TSqlComparison& comparison : statement_.where) {
    BoundComparison b{Bind(comparison.left, markers), Bind(comparison.right, markers),
                      comparison.op};
    if (b.left.numeric != b.right.numeric) {
      if (b.left.column >= 0 && b.right.column >= 0) RaiseSqlError("Type mismatch between columns");
      BoundOperand& text_side = b.left.numeric ? b.right : b.left;
      BoundOperand& number_side = b.left.numeric ? b.left : b.right;
      if (text_side.column >= 0)
        MakeText(number_side);
      else
        MakeNumeric(text_side);
    }
    bound.push_back(std::move(b));
  }
  return bound;
}

std::unique_ptr<TResultCursor> MemoryStatement::Execute(const std::vector<TMarkerValue>& markers) {
  TMemoryResultShape shape;
  shape.Condition = [where = BindAll(markers)](const TRecord& row) {
    for (const BoundComparison& comparison : where)
      if (!Holds(comparison, row)) return false;
    return true;
  };
  shape.OrderColumn = order_column_;
  shape.Descending = statement_.descending;
  shape.Live = options_.RequestLive;
  shape.MaxRowCount = options_.MaxRowCount;
  return std::make_unique<TMemoryResult>(table_, std::move(shape));
}

}  // namespace

int TMemoryTable::FieldIndex(std::string_view fieldName) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (EqualsIgnoringAsciiCase(fields[i].Name, fieldName)) return static_cast<int>(i);
  return -1;
}

std::shared_ptr<TMemoryRow> TMemoryTable::AddRow(TRecord values) {
  values.resize(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].DataType != TFieldType::ftAutoInc) continue;
    if (values[i].IsNull)
      values[i] = TFieldValue::OfInteger(++last_auto_inc);
    else
      last_auto_inc = std::max(last_auto_inc, values[i].Integer);
  }
  auto row = std::make_shared<TMemoryRow>();
  row->values = std::move(values);
  row->id = ++last_row_id;
  rows.push_back(row);
  ++changes;
  return row;
}

void TMemoryDatabase::CreateTable(std::string_view name, std::vector<TFieldDef> fields) {
  if (FindTable(name)) RaiseTableError(codes::kTableExists, name);
  auto table = std::make_shared<TMemoryTable>();
  table->name = std::string(name);
  table->fields = std::move(fields);
  tables_.push_back(std::move(table));
}

std::shared_ptr<TMemoryTable> TMemoryDatabase::FindTable(std::string_view name) const {
  for (const auto& table : tables_)
    if (EqualsIgnoringAsciiCase(table->name, name)) return table;
  return nullptr;
}

void TMemoryDatabase::AppendRow(std::string_view table, TRecord values) {
  std::shared_ptr<TMemoryTable> found = FindTable(table);
  if (!found) RaiseTableError(codes::kTableNotFound, table);
  if (values.size() != found->fields.size()) RaiseTableError(codes::kInvalidField, table);
  found->AddRow(std::move(values));
}

std::vector<TRecord> TMemoryDatabase::Rows(std::string_view table) const {
  std::vector<TRecord> rows;
  if (std::shared_ptr<TMemoryTable> found = FindTable(table))
    for (const auto& row : found->rows) rows.push_back(row->values);
  return rows;
}

std::unique_ptr<TPreparedQuery> TMemoryDatabase::Prepare(std::string_view processedText,
                                                         const TQueryOptions& options) {
  TSelectStatement statement = ParseSelect(processedText);
  std::shared_ptr<TMemoryTable> table = FindTable(statement.table);
  if (!table) RaiseTableError(codes::kTableNotFound, statement.table.substr(0, 64));
  return std::make_unique<MemoryStatement>(std::move(table), std::move(statement), options);
}

std::shared_ptr<TMemoryDatabase> CreateProblemCollection() {
  auto database = std::make_shared<TMemoryDatabase>();
  auto integer = [](const char* name) { return TFieldDef{name, TFieldType::ftInteger, 0}; };
  auto text = [](const char* name) { return TFieldDef{name, TFieldType::ftString, 0}; };
  database->CreateTable("mondai", {integer("MNB"), integer("HNB"), text("KB1"), text("KB2"),
                                   text("MRK"), text("CMT"), text("HNT")});
  database->CreateTable("tejun", {integer("TNB"), integer("HNB"), integer("TES"), integer("COL"),
                                  integer("PST"), integer("BFR"), integer("BTO"), text("CMT")});
  return database;
}

}  // namespace kura
