#include "sql/select_executor.h"

#include <memory>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "sql/calculated_field_evaluator.h"
#include "sql/expression_evaluator.h"
#include "sql/query_binder.h"
#include "sql/query_checks.h"
#include "sql/record_fields.h"
#include "sql/result_table.h"
#include "sql/select_canned.h"
#include "sql/select_conditions.h"
#include "sql/source_rows.h"
#include "storage/field_types.h"

namespace kura {

namespace {

// WITH LOCKS: every source table locked for the run, unlocked on every path out.
class TQueryTableLocks {
 public:
  explicit TQueryTableLocks(TDataQuery& query) {
    if (!query.FWithLocks) return;
    try {
      for (TSourceTable& table : query.FSourceTables) {
        table.Cursor->LockTable();
        FLocked.push_back(table.Cursor);
      }
    } catch (...) {
      Release();
      throw;
    }
  }
  ~TQueryTableLocks() { Release(); }
  TQueryTableLocks(const TQueryTableLocks&) = delete;
  TQueryTableLocks& operator=(const TQueryTableLocks&) = delete;

 private:
  void Release() {
    for (auto cursor = FLocked.rbegin(); cursor != FLocked.rend(); ++cursor) {
      try {
        (*cursor)->UnlockTable();
      } catch (...) {  // the lock goes with the table at the latest
      }
    }
    FLocked.clear();
  }

  std::vector<TDataCursor*> FLocked;
};

bool IsIdentityFieldList(const TDataQuery& query) {
  const TDataCursor& cursor = *query.FSourceTables.front().Cursor;
  if (static_cast<int>(query.FResultFields.size()) != cursor.FieldCount()) return false;
  for (std::size_t i = 0; i < query.FResultFields.size(); ++i) {
    const TResultField& field = query.FResultFields[i];
    if (field.Computed || field.Aggregate != akNone || !field.Alias.empty() ||
        field.SourceFieldNo != i + 1) {
      return false;
    }
  }
  return true;
}

// A WHERE holding a sub-select cannot be copied into a filter: it is asked record by record.
void InstallEvaluatedWhere(TDataQuery& query) {
  TSourceTable& table = query.FSourceTables.front();
  TDataCursor& cursor = *table.Cursor;
  const TDataFile& data = cursor.Table()->Data();
  auto fields = std::make_shared<std::vector<TFieldDescriptor>>(data.Descriptors().begin(),
                                                                data.Descriptors().end());
  auto reader = std::make_shared<TRecordFields>(*fields, cursor.RecordSize());
  // Memo and BLOB columns are read from the cursor's table, as in every other WHERE.
  const std::size_t size = cursor.RecordSize();
  reader->SetBlobReader([&cursor, size](const std::uint8_t* record, const TFieldDescriptor& field,
                                        std::string& value) {
    return cursor.ReadStoredBlob(field, std::span(record, size), value);
  });
  const TExpToken* where = query.FWhere.get();
  const TTableLocale locale = cursor.Locale();
  auto callback = [fields, reader, where, locale](
                      TDataCursor&, std::span<const std::uint8_t> record, std::int32_t) {
    return EvaluateCondition(*where, record.data(), reader.get(),
                             TEvalLocale{locale.LanguageId, locale.SortId});
  };
  TFilter* filter = cursor.AddFilter(nullptr, callback, TFilterFlags{});
  cursor.ActivateFilter(filter);
}

TDataCursor* ExecuteLive(TDataQuery& query) {
  TSourceTable& table = query.FSourceTables.front();
  TDataCursor& cursor = *table.Cursor;
  cursor.DropFilter(nullptr);
  if (query.FWhere) {
    if (HoldsSubSelect(*query.FWhere)) {
      InstallEvaluatedWhere(query);
    } else {
      InstallCondition(cursor, nullptr, PreEvaluateFor(*query.FWhere, cursor, &table, nullptr));
    }
  }
  query.FResultCursor = &cursor;
  query.FRecordCount = cursor.RecordCount();
  cursor.First();
  return &cursor;
}

}  // namespace

void PrepareLiveResult(TDataQuery& query) {
  if (IsIdentityFieldList(query)) return;
  std::vector<TCursorFieldDefinition> fields;
  std::vector<std::string> names = ResultFieldNames(query);
  for (std::size_t i = 0; i < query.FResultFields.size(); ++i) {
    const TResultField& field = query.FResultFields[i];
    TCursorFieldDefinition definition;
    const std::string& name = names[i];
    if (!field.Computed && field.SourceFieldNo != 0) {
      definition.TableFieldNo = field.SourceFieldNo;
      definition.Descriptor.FieldName = name;
    } else {
      std::uint8_t size = HasDeclaredSize(field.DataType)
                              ? static_cast<std::uint8_t>(std::max<std::int32_t>(field.Size, 1))
                              : 0;
      definition.Descriptor =
          MakeFieldDescriptor(name, field.DataType, size, field.SubType, field.Scale);
      definition.Expression = field.Text;
    }
    fields.push_back(std::move(definition));
  }
  SetCalculatedFieldExpressions(*query.FSourceTables.front().Cursor, fields);
}

TDataCursor* ExecuteSelect(TDataQuery& query, TDataDirectory& directory) {
  query.FSubSelectFilter = nullptr;
  query.FResultCursor = nullptr;
  query.FRecordCount = 0;
  TDataCursor* result = nullptr;
  {
    TQueryTableLocks locks(query);
    result = query.FResultIsLive ? ExecuteLive(query) : ExecuteCannedSelect(query, directory);
  }
  return result;
}

bool SubSelectContains(TDataQuery& subSelect, const TExpToken& value) {
  TDataCursor* cursor = subSelect.FResultCursor;
  if (cursor == nullptr) RaiseQueryError("Sub-select query has not been executed");
  if (value.FIsNull) return false;
  int fieldNo = subSelect.FResultIsLive ? subSelect.FResultFields.front().SourceFieldNo : 1;
  const TFieldDescriptor& field =
      cursor->Table()->Data().Descriptors()[static_cast<std::size_t>(fieldNo) - 1];
  TExpTokenPtr tree = NewToken();
  tree->FKind = kNodeBinary;
  tree->FOperator = opEqual;
  tree->FDataType = kFieldTypeBoolean;
  tree->FDataSize = FixedSizeOf(kFieldTypeBoolean);
  tree->FDepth = 2;
  TExpTokenPtr column = NewToken();
  column->FKind = kNodeColumn;
  column->FColumnName = field.FieldName;
  SetColumnType(*column, field);
  TExpTokenPtr constant = NewToken();
  constant->FKind = kNodeConstant;
  CopyValue(value, *constant);
  tree->FLeft = column.release();
  tree->FRight = constant.release();
  subSelect.FSubSelectFilter =
      InstallCondition(*cursor, subSelect.FSubSelectFilter, std::move(tree));
  return cursor->RecordCount() > 0;
}

}  // namespace kura
