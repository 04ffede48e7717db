#include "dataset/memory_database.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/engine_codes.h"
#include "base/engine_error.h"
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

  std::unique_ptr<TResultSet> Execute(const std::vector<TMarkerValue>& markers) override;

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

class MemoryResult : public TResultSet {
 public:
  MemoryResult(std::shared_ptr<TMemoryTable> table, std::vector<std::shared_ptr<TMemoryRow>> rows,
               bool live, int orderColumn, bool descending)
      : table_(std::move(table)),
        rows_(std::move(rows)),
        live_(live),
        order_column_(orderColumn),
        descending_(descending) {}

  const std::vector<TFieldDef>& FieldDefs() const override { return table_->fields; }
  bool IsReadOnly() const override { return !live_; }
  int RecordCount() const override { return static_cast<int>(rows_.size()); }

  bool ReadRecord(int recNo, TRecord& record) const override {
    if (recNo < 1 || recNo > RecordCount()) return false;
    record = rows_[static_cast<std::size_t>(recNo - 1)]->values;
    return true;
  }

  TRecord InitNewRecord() const override {
    return TRecord(table_->fields.size(), TFieldValue::Null());
  }

  void BeginEdit(int recNo) override { LiveRow(recNo); }

  int PostEdit(int recNo, const TRecord& record) override {
    TMemoryRow& row = LiveRow(recNo);
    const bool key_changed = order_column_ >= 0 && !(row.values[Key()] == record[Key()]);
    row.values = Widened(record);
    if (!key_changed) return recNo;
    std::shared_ptr<TMemoryRow> moved = rows_[static_cast<std::size_t>(recNo - 1)];
    rows_.erase(rows_.begin() + (recNo - 1));
    return Place(std::move(moved));
  }

  int PostInsert(const TRecord& record) override {
    CheckLive();
    auto row = std::make_shared<TMemoryRow>();
    row->values = Widened(record);
    table_->rows.push_back(row);
    if (order_column_ < 0) {
      rows_.push_back(std::move(row));
      return RecordCount();
    }
    return Place(std::move(row));
  }

  void DeleteRecord(int recNo) override {
    TMemoryRow& row = LiveRow(recNo);
    row.deleted = true;
    auto& table_rows = table_->rows;
    table_rows.erase(std::remove_if(table_rows.begin(), table_rows.end(),
                                    [&](const auto& r) { return r.get() == &row; }),
                     table_rows.end());
    rows_.erase(rows_.begin() + (recNo - 1));
  }

 private:
  std::size_t Key() const { return static_cast<std::size_t>(order_column_); }

  void CheckLive() const {
    if (!live_) RaiseSqlError("The result is not live and cannot be changed");
  }

  TMemoryRow& LiveRow(int recNo) {
    CheckLive();
    if (recNo < 1 || recNo > RecordCount()) RaiseTableError(codes::kRecordNotFound, table_->name);
    TMemoryRow& row = *rows_[static_cast<std::size_t>(recNo - 1)];
    if (row.deleted) RaiseTableError(codes::kRecordChanged, table_->name);
    return row;
  }

  TRecord Widened(const TRecord& record) const {
    TRecord values = record;
    values.resize(table_->fields.size());
    return values;
  }

  bool Before(const TMemoryRow& a, const TMemoryRow& b) const {
    const bool numeric = table_->fields[Key()].DataType != TFieldType::ftString;
    const int c = CompareValues(numeric, a.values[Key()], b.values[Key()]);
    return descending_ ? c > 0 : c < 0;
  }

  // Inserts after every row of equal key; answers the 1-based position.
  int Place(std::shared_ptr<TMemoryRow> row) {
    auto at = std::upper_bound(rows_.begin(), rows_.end(), row,
                               [&](const auto& a, const auto& b) { return Before(*a, *b); });
    at = rows_.insert(at, std::move(row));
    return static_cast<int>(at - rows_.begin()) + 1;
  }

  std::shared_ptr<TMemoryTable> table_;
  std::vector<std::shared_ptr<TMemoryRow>> rows_;
  bool live_;
  int order_column_;
  bool descending_;
};

BoundOperand MemoryStatement::Bind(const TSqlOperand& operand,
                                   const std::vector<TMarkerValue>& markers) const {
  BoundOperand bound;
  switch (operand.kind) {
    case TSqlOperand::Kind::kColumn:
      bound.column = table_->FieldIndex(operand.name);
      bound.numeric =
          table_->fields[static_cast<std::size_t>(bound.column)].DataType != TFieldType::ftString;
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
      if (marker.DataType == TFieldType::ftString) {
        bound.constant = marker.Value;
      } else if (marker.DataType == TFieldType::ftFloat) {
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

std::unique_ptr<TResultSet> MemoryStatement::Execute(const std::vector<TMarkerValue>& markers) {
  const std::vector<BoundComparison> where = BindAll(markers);
  std::vector<std::shared_ptr<TMemoryRow>> rows;
  for (const auto& row : table_->rows) {
    bool keep = true;
    for (const BoundComparison& comparison : where) keep = keep && Holds(comparison, row->values);
    if (keep) rows.push_back(options_.RequestLive ? row : std::make_shared<TMemoryRow>(*row));
  }
  if (order_column_ >= 0) {
    const std::size_t key = static_cast<std::size_t>(order_column_);
    const bool numeric = table_->fields[key].DataType != TFieldType::ftString;
    const bool descending = statement_.descending;
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
      const int c = CompareValues(numeric, a->values[key], b->values[key]);
      return descending ? c > 0 : c < 0;
    });
  }
  if (options_.MaxRowCount >= 0 && rows.size() > static_cast<std::size_t>(options_.MaxRowCount))
    rows.resize(static_cast<std::size_t>(options_.MaxRowCount));
  return std::make_unique<MemoryResult>(table_, std::move(rows), options_.RequestLive,
                                        order_column_, statement_.descending);
}

}  // namespace

int TMemoryTable::FieldIndex(std::string_view fieldName) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (EqualsIgnoringAsciiCase(fields[i].Name, fieldName)) return static_cast<int>(i);
  return -1;
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
  auto row = std::make_shared<TMemoryRow>();
  row->values = std::move(values);
  found->rows.push_back(std::move(row));
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
