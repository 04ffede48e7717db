// Calculated fields of a cursor: the definitions a layer above hands to
// TDataCursor::SetCalculatedFields, and the evaluator it installs with them.
//
// A cursor's record buffer is the table's record image followed by one slot per calculated
// field, in field-list order:
//
//   OFFSET                 SIZE            CONTENTS
//   0                      table's size    the table's record image (header and field slots)
//   table's size           1 + stored size first calculated field: null indicator, value
//   ... + 1 + stored size  1 + stored size next calculated field
//   RecordSize                             end
//
// The calculated slots live only in the cursor's buffers: they are never written to the table.
// After every record read and after every SetField of a table field, each calculated field
// with an expression is evaluated in field-list order (so a later one sees the earlier ones'
// fresh values) and stored with SetField (force); a NULL answer stores NULL.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "storage/field_descriptor.h"

namespace kura {

class TDataCursor;

// One entry of a cursor's field list.
struct TCursorFieldDefinition {
  // TableFieldNo 0: a calculated field of this name, type, size and decimals (validity texts
  // are checked as for a table, the offset is assigned). Otherwise: the table's field of that
  // number (1..field count) under this name (the table's own name when empty).
  TFieldDescriptor Descriptor;
  int TableFieldNo = 0;
  // A calculated field without an expression is a slot the caller fills (SetField with force).
  std::string Expression;
};

// Computes the values of a cursor's calculated fields. The layer that knows the expression
// language provides it; the cursor owns it and calls it from its reads and SetField.
class TCalculatedFieldEvaluator {
 public:
  virtual ~TCalculatedFieldEvaluator() = default;

  // Prepares the expressions of a new field list of the cursor (fields numbered 1..n, offsets
  // assigned). Raises an engine error for an expression that does not parse or bind; the
  // cursor then keeps its old field list.
  virtual void Prepare(const TDataCursor& cursor, std::span<const TFieldDescriptor> fields,
                       std::span<const TCursorFieldDefinition> definitions) = 0;

  // Evaluates calculated field fieldNo (1-based in the prepared list) against the record
  // buffer (RecordSize bytes). Answers false for NULL; otherwise value (the field's stored
  // size, zero-filled) receives the stored bytes (a string: its text, zero-terminated when
  // shorter than the slot).
  virtual bool Evaluate(const TDataCursor& cursor, int fieldNo,
                        std::span<const std::uint8_t> record, std::span<std::uint8_t> value) = 0;

  // A fresh, unprepared evaluator of the same kind, for a clone of the cursor.
  virtual std::unique_ptr<TCalculatedFieldEvaluator> NewInstance() const = 0;
};

}  // namespace kura
