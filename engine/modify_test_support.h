// Helpers for the tests of record changes through cursors: a table with a primary index,
// a unique and a non-unique case-insensitive secondary index and validity checks, and rows
// built and read through a cursor the way the dataset layer does it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_table.h"

namespace kura::testing {

// Fields: 1 ID integer (primary index), 2 NAME string 20 (required; "ByName", not unique,
// case-insensitive), 3 CODE string 10 ("ByCode", unique), 4 QTY integer (10 .. 100),
// 5 DAY date (default CURRENT_DATE), and with memo 6 NOTE memo.
TTableDefinition ModifyTable(bool memo = false);
inline constexpr int kByCodeSlot = 1;
inline constexpr int kByNameSlot = 2;

struct TModifyRow {
  std::int32_t Id = 0;
  std::string Name;
  std::string Code;
  std::int32_t Qty = 10;
  bool operator==(const TModifyRow&) const = default;
};

// A new record buffer (InitNewRecord) holding the row.
std::vector<std::uint8_t> NewRowBuffer(TDataCursor& cursor, const TModifyRow& row);
// Stores the row's values into a record buffer.
void FillRow(TDataCursor& cursor, std::span<std::uint8_t> buffer, const TModifyRow& row);
TModifyRow RowOf(const TDataCursor& cursor, std::span<const std::uint8_t> record);
// The cursor's current record (it must have one).
std::vector<std::uint8_t> CurrentBuffer(TDataCursor& cursor);

// The text followed by the number ("C12").
std::string Numbered(const char* text, std::int64_t number);

// The bytes of the table's files, one after the other (data, index, BLOB when present).
std::string TableFileBytes(const std::string& folder, const std::string& table);

}  // namespace kura::testing
