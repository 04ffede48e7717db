// Aggregates of a canned SELECT, worked on the records of its result table.
//
// Every qualifying row is first written with the per-row value of each aggregate column:
// COUNT 1 (0 for a NULL argument), SUM, RUNSUM, MIN, MAX and AVG the argument's value, and
// the AVG column's hidden count field 1 (0 for NULL). Combining the rows of one group then
// works pairwise on two records:
//   SUM, RUNSUM, AVG  add: integers (16-bit and word into 32-bit, 32-bit and 64-bit into
//                     64-bit, dates and times as their numbers), floats, BCD in fixed point
//   MIN, MAX          keep the smaller or larger
//   COUNT, AVG count  add
// NULL values are skipped; a group whose values are all NULL keeps NULL. RUNSUM starts each
// group from the running total of the group row before it. Finishing a group row turns each
// AVG into sum / count (dates and times truncated, BCD in fixed point, float otherwise; NULL
// stays NULL) and evaluates HAVING, whose columns are the result columns.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sql/query_model.h"
#include "sql/record_fields.h"
#include "storage/field_descriptor.h"
#include "storage/record_image.h"
#include "storage/record_sorter.h"

namespace kura {

struct TResultLayout;

// Stores the value (converted to the field's type; NULL when it does not convert) into the
// record. Not for BLOB fields.
void StoreResultValue(std::span<std::uint8_t> record, const TFieldDescriptor& field,
                      const TExpToken& value, TTableLocale locale);

class TGroupAggregates {
 public:
  // fields: the result table's descriptors (laid out), records of recordSize bytes.
  TGroupAggregates(const TDataQuery& query, const TResultLayout& layout,
                   std::span<const TFieldDescriptor> fields, std::size_t recordSize,
                   TTableLocale locale);

  bool Any() const { return !FColumns.empty(); }
  // Adds other into row; with initialise row starts a new group after the group row other
  // (RUNSUM carries over from the second group on).
  void Accumulate(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                  bool initialise);
  void Finalise(std::span<std::uint8_t> row);
  // HAVING on a finished group row (true without HAVING).
  bool Keep(std::span<const std::uint8_t> row);
  TSortCallbacks Callbacks();

 private:
  struct TColumn {
    int FieldNo = 0;
    std::uint8_t Kind = akNone;
    int CountFieldNo = 0;  // AVG
  };

  TExpTokenPtr Read(std::span<const std::uint8_t> record, int fieldNo);
  void Write(std::span<std::uint8_t> record, int fieldNo, const TExpToken& value);
  void AddInto(std::span<std::uint8_t> row, std::span<const std::uint8_t> other, int fieldNo,
               const TColumn& column);
  void KeepExtreme(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                   const TColumn& column);
  void FinaliseAverage(std::span<std::uint8_t> row, const TColumn& column);

  const TDataQuery& FQuery;
  std::vector<TFieldDescriptor> FFields;
  std::size_t FRecordSize;
  TTableLocale FLocale;
  std::unique_ptr<TRecordFields> FValues;
  std::vector<TColumn> FColumns;
  // Groups begun in the current sort: the first has no running total before it.
  std::int64_t FGroupsStarted = 0;
};

}  // namespace kura
