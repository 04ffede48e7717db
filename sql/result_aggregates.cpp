#include "sql/result_aggregates.h"

#include <cmath>

#include "sql/expression_evaluator.h"
#include "sql/expression_values.h"
#include "sql/result_table.h"
#include "storage/field_types.h"
#include "storage/record_image.h"

namespace kura {

namespace {

bool CountsAsInteger(std::uint8_t type) {
  return IsIntegerType(type) || type == kFieldTypeDate || type == kFieldTypeTime;
}

// a + b in a's type (both of one type, neither NULL).
TExpTokenPtr AddValues(const TExpToken& a, const TExpToken& b, const TExpToken& expression) {
  TExpTokenPtr sum = NewResultOf(a);
  if (CountsAsInteger(a.FDataType)) {
    StoreCheckedInteger(*sum, ReadInteger(a) + ReadInteger(b), expression);
  } else if (a.FDataType == kFieldTypeBcd) {
    if (!SetFixed(*sum, ReadFixed(a) + ReadFixed(b), a.FScale)) SetNullValue(*sum);
  } else if (a.FDataType == kFieldTypeTimestamp) {
    SetTimestamp(*sum, ReadFloat(a) + ReadFloat(b));
  } else {
    SetFloat(*sum, static_cast<double>(ReadNumber(a) + ReadNumber(b)));
  }
  return sum;
}

// -1, 0, 1 for two non-NULL values of one numeric, date or time type.
int CompareValues(const TExpToken& a, const TExpToken& b) {
  long double x = 0;
  long double y = 0;
  if (CountsAsInteger(a.FDataType)) {
    x = static_cast<long double>(ReadInteger(a));
    y = static_cast<long double>(ReadInteger(b));
  } else if (a.FDataType == kFieldTypeBcd) {
    x = static_cast<long double>(ReadFixed(a));
    y = static_cast<long double>(ReadFixed(b));
  } else if (a.FDataType == kFieldTypeTimestamp) {
    x = ReadFloat(a);
    y = ReadFloat(b);
  } else {
    x = ReadNumber(a);
    y = ReadNumber(b);
  }
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The average of a sum over count rows, in the sum's type.
void Divide(TExpToken& sum, std::int64_t count) {
  if (sum.FIsNull) return;
  if (count == 0) {
    StoreInteger(sum, 0);
    return;
  }
  if (CountsAsInteger(sum.FDataType)) {
    StoreInteger(sum, ReadInteger(sum) / count);
  } else if (sum.FDataType == kFieldTypeBcd) {
    if (!SetFixed(sum, ReadFixed(sum) / count, sum.FScale)) SetNullValue(sum);
  } else if (sum.FDataType == kFieldTypeTimestamp) {
    SetTimestamp(sum, std::trunc(ReadFloat(sum) / static_cast<double>(count)));
  } else {
    SetFloat(sum, static_cast<double>(ReadNumber(sum) / static_cast<long double>(count)));
  }
}

}  // namespace

void StoreResultValue(std::span<std::uint8_t> record, const TFieldDescriptor& field,
                      const TExpToken& value, TTableLocale locale) {
  if (value.FIsNull) {
    SetField(record, field, nullptr, true, locale);
    return;
  }
  TExpTokenPtr stored = NewToken();
  const std::int32_t size = field.FieldType == kFieldTypeString ? field.FieldSize + 1 : 0;
  bool converted = value.FDataType == field.FieldType && field.FieldType != kFieldTypeString &&
                   field.FieldType != kFieldTypeBytes;
  if (converted) {
    CopyValue(value, *stored);
  } else {
    converted = ConvertValue(value, field.FieldType, field.FieldSubType, size, field.FieldDecimals,
                             *stored) &&
                !stored->FIsNull;
  }
  SetField(record, field, converted ? stored->Data() : nullptr, true, locale);
}

TGroupAggregates::TGroupAggregates(const TDataQuery& query, const TResultLayout& layout,
                                   std::span<const TFieldDescriptor> fields, std::size_t recordSize,
                                   TTableLocale locale)
    : FQuery(query),
      FFields(fields.begin(), fields.end()),
      FRecordSize(recordSize),
      FLocale(locale),
      FValues(std::make_unique<TRecordFields>(FFields, recordSize)) {
  for (std::size_t i = 0; i < query.FResultFields.size(); ++i) {
    std::uint8_t kind = query.FResultFields[i].Aggregate;
    if (kind == akNone) continue;
    FColumns.push_back({static_cast<int>(i) + 1, kind, layout.AvgCountFields[i]});
  }
}

TExpTokenPtr TGroupAggregates::Read(std::span<const std::uint8_t> record, int fieldNo) {
  const TFieldDescriptor& field = FFields[static_cast<std::size_t>(fieldNo) - 1];
  TExpTokenPtr value = NewToken();
  value->FKind = kNodeConstant;
  SetColumnType(*value, field);
  FValues->FetchColumn(record.data(), *value);
  return value;
}

void TGroupAggregates::Write(std::span<std::uint8_t> record, int fieldNo, const TExpToken& value) {
  StoreResultValue(record, FFields[static_cast<std::size_t>(fieldNo) - 1], value, FLocale);
}

void TGroupAggregates::AddInto(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                               int fieldNo, const TColumn& column) {
  TExpTokenPtr theirs = Read(other, fieldNo);
  if (theirs->FIsNull) return;
  TExpTokenPtr mine = Read(row, fieldNo);
  if (mine->FIsNull) {
    Write(row, fieldNo, *theirs);
    return;
  }
  const TExpToken& expression =
      *FQuery.FResultFields[static_cast<std::size_t>(column.FieldNo) - 1].Expression;
  Write(row, fieldNo, *AddValues(*mine, *theirs, expression));
}

void TGroupAggregates::KeepExtreme(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                                   const TColumn& column) {
  TExpTokenPtr theirs = Read(other, column.FieldNo);
  if (theirs->FIsNull) return;
  TExpTokenPtr mine = Read(row, column.FieldNo);
  int order = mine->FIsNull ? 0 : CompareValues(*theirs, *mine);
  bool replace = mine->FIsNull || (column.Kind == akMin ? order < 0 : order > 0);
  if (replace) Write(row, column.FieldNo, *theirs);
}

void TGroupAggregates::Accumulate(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                                  bool initialise) {
  if (initialise) ++FGroupsStarted;
  for (const TColumn& column : FColumns) {
    if (initialise) {
      // A new group: only the running total carries over from the group row before.
      if (column.Kind == akRunSum && FGroupsStarted > 1) {
        AddInto(row, other, column.FieldNo, column);
      }
      continue;
    }
    switch (column.Kind) {
      case akMin:
      case akMax:
        KeepExtreme(row, other, column);
        break;
      case akAvg:
        AddInto(row, other, column.FieldNo, column);
        AddInto(row, other, column.CountFieldNo, column);
        break;
      default:  // SUM, RUNSUM, COUNT
        AddInto(row, other, column.FieldNo, column);
        break;
    }
  }
}

void TGroupAggregates::FinaliseAverage(std::span<std::uint8_t> row, const TColumn& column) {
  TExpTokenPtr sum = Read(row, column.FieldNo);
  TExpTokenPtr count = Read(row, column.CountFieldNo);
  Divide(*sum, count->FIsNull ? 0 : ReadInteger(*count));
  Write(row, column.FieldNo, *sum);
}

void TGroupAggregates::Finalise(std::span<std::uint8_t> row) {
  for (const TColumn& column : FColumns) {
    if (column.Kind == akAvg) FinaliseAverage(row, column);
  }
}

bool TGroupAggregates::Keep(std::span<const std::uint8_t> row) {
  if (!FQuery.FHaving) return true;
  return EvaluateCondition(*FQuery.FHaving, row.data(), FValues.get(),
                           TEvalLocale{FLocale.LanguageId, FLocale.SortId});
}

TSortCallbacks TGroupAggregates::Callbacks() {
  FGroupsStarted = 0;
  TSortCallbacks callbacks;
  callbacks.Accumulate = [this](std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                                bool initialise) { Accumulate(row, other, initialise); };
  callbacks.Finalise = [this](std::span<std::uint8_t> row) { Finalise(row); };
  callbacks.Keep = [this](std::span<const std::uint8_t> row) { return Keep(row); };
  return callbacks;
}

}  // namespace kura
