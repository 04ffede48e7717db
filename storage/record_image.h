// The record image: one fixed-length row of a Kura table, as the data file stores it, the
// record cache holds it and cursors hand it out.
//
// OFFSET  SIZE  DESCRIPTION
//      0     1  Deleted: 0 live record, 1 deleted record on the free chain
//      1     4  RecordNoOrNextFree (signed): live record: its own 1-based number;
//               deleted record: the next deleted record on the chain, 0 at its end
//      5     4  RowId (signed): unique row number; the auto-increment field reads it
//      9     .  field slots in descriptor order: per field one null indicator byte
//               (1 = value, 0 = NULL) followed by the field's stored bytes
//
// All numbers are little-endian. The auto-increment field has no slot: its descriptor's
// offset is 5 and its four bytes are RowId. Record size = 9 + sum of (1 + stored size) over
// every other field; it may not exceed 65536.
//
// Invariants of a record image (checked by RecordInvariantViolation):
//   1. Deleted is 0 or 1.
//   2. A NULL slot (indicator 0) has all its stored bytes zero, except the BLOB change
//      number, which outlives the BLOB it numbered.
//   3. A boolean slot holds 0 or 1.
//   4. A string slot holds a zero byte within its n + 1 bytes; its indicator is 1 exactly
//      when the first character is not zero.
//   5. A BLOB slot's indicator is 1 exactly when its first-block number is not zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "storage/field_descriptor.h"

namespace kura {

inline constexpr std::size_t kDeletedOffset = 0;
inline constexpr std::size_t kRecordNoOffset = 1;
inline constexpr std::size_t kRowIdOffset = 5;
inline constexpr std::size_t kRecordHeaderSize = 9;  // 1 + 4 + 4
inline constexpr std::size_t kMaxRecordSize = 65536;
// The highest row number; the one after it is 1 again.
inline constexpr std::int32_t kMaxRowId = 2147483647;
// A BLOB reference: 4-byte first block number, then 4-byte BLOB change number.
inline constexpr std::size_t kBlobFirstBlockSize = 4;

// The locale of the table a record belongs to, for the character case of string fields.
struct TTableLocale {
  std::uint16_t LanguageId = 0;
  std::uint16_t SortId = 0;
};

// Header fields of a record image (the image must hold at least the 9 header bytes).
bool IsDeleted(std::span<const std::uint8_t> record);
std::int32_t RecordNoOrNextFree(std::span<const std::uint8_t> record);
std::int32_t RowId(std::span<const std::uint8_t> record);
void SetDeleted(std::span<std::uint8_t> record, bool deleted);
void SetRecordNoOrNextFree(std::span<std::uint8_t> record, std::int32_t number);
void SetRowId(std::span<std::uint8_t> record, std::int32_t rowId);

// The bytes the field contributes to an index key after its null byte: 8 for a packed
// decimal (its fixed-point value), the stored size otherwise.
int KeySize(const TFieldDescriptor& field);

// Answers whether the field is NULL (never for the auto-increment field). When value is
// not empty it is zero-filled and receives the stored bytes, as many as fit: the whole slot
// after the indicator, only the 4-byte first-block number of a BLOB reference, and RowId for
// the auto-increment field. Raises engine error 8961 when the slot lies outside the record.
bool GetField(std::span<const std::uint8_t> record, const TFieldDescriptor& field,
              std::span<std::uint8_t> value = {});

// Stores a value (value = nullptr stores NULL). The value holds the field's stored bytes,
// little-endian as in the record; for a string it is text of at most the declared size or
// zero-terminated, which is cut to the declared size (never inside a double-byte
// character), stripped of trailing blanks and put in the field's character case with the
// table locale; an empty result is NULL. Booleans are stored as 0 or 1; a BLOB reference
// takes only the first-block number and is NULL when that is 0; the auto-increment field
// writes RowId and ignores NULL. A computed field is left alone unless force is set.
// Raises engine error 8961 when the slot lies outside the record, and 9730 (minus infinity)
// or 9731 (plus infinity, NaN) for a float or timestamp that is not finite, storing nothing.
void SetField(std::span<std::uint8_t> record, const TFieldDescriptor& field, const void* value,
              bool force, TTableLocale locale);

// The row number a new record receives after `lastRowId`: one more, and 1 after 2147483647
// (or after a negative counter, which only a damaged header could hold).
std::int32_t NextRowId(std::int32_t lastRowId);

// Zero-fills a new record image and stores its record number. With assignRowId the record
// takes the next row number and lastRowId (the table header's counter) becomes it.
void InitRecord(std::span<std::uint8_t> record, std::int32_t recordNo, bool assignRowId,
                std::int32_t& lastRowId);

// For a record inserted with the row number it already carries: the table header's counter
// becomes the larger of itself and that number.
void KeepRowId(std::int32_t givenRowId, std::int32_t& lastRowId);

// Checks the numbered invariants above for every field; answers an empty string when they
// hold, else the first violation found.
std::string RecordInvariantViolation(std::span<const std::uint8_t> record,
                                     std::span<const TFieldDescriptor> fields);

}  // namespace kura
