// The values a record must hold before it is posted, and the defaults a new record starts
// with. Both read the text forms kept in the field descriptors (field_values.h).
//
//   CHECK     APPLIES TO                                  FAILS WITH
//   required  every field                                 9732 when the field is NULL
//   minimum   strings, dates, times, timestamps, numbers  9730 when the value is below it
//   maximum   the same                                    9731 when the value is above it
//
// Fields are checked in field order and the first failure is answered. The bounds apply to
// values only: a NULL (an empty string is one) passes them, and only Required refuses it.
// Strings compare with the table locale, case-sensitively; a time compares as milliseconds
// of day 0; booleans, bytes and BLOBs are never out of bounds.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "storage/field_descriptor.h"
#include "storage/field_values.h"
#include "storage/record_image.h"

namespace kura {

struct TValidationFailure {
  std::uint16_t Code = 0;  // 0 when every check holds
  std::string FieldName;
};

// Runs the checks over the record image's table fields.
TValidationFailure CheckRecordValues(std::span<const std::uint8_t> record,
                                     std::span<const TFieldDescriptor> fields, TTableLocale locale);

// Stores every field default into a record image: "CURRENT_DATE", "CURRENT_TIME" and
// "CURRENT_TIMESTAMP" (any case) take their values from now; other texts are converted by
// the field's type. The auto-increment field, BLOBs, computed fields and texts that do not
// convert keep what the record holds.
void StoreFieldDefaults(std::span<std::uint8_t> record, std::span<const TFieldDescriptor> fields,
                        TTableLocale locale, TNow now);

}  // namespace kura
