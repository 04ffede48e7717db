// Helpers for the filter tests: a table of problems with an ID, a NAME, an AMOUNT, a KIND and
// a memo NOTE, the indexes a test asks for, rows written and read through cursors, and the
// brute-force answer of a filter text (every live record evaluated on its own).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_table.h"

namespace kura::testing {

// Fields: 1 ID integer, 2 NAME string 12, 3 AMOUNT integer, 4 KIND string 8, 5 NOTE memo.
inline constexpr int kIdField = 1;
inline constexpr int kNameField = 2;
inline constexpr int kAmountField = 3;
inline constexpr int kKindField = 4;
inline constexpr int kNoteField = 5;

struct TFilterTableOptions {
  bool PrimaryOnId = true;
  bool AmountIndex = true;  // "ByAmount"
  bool AmountDescending = false;
  bool NameIndex = false;  // "ByName", not unique
  bool NameCaseInsensitive = false;
  bool NameDescending = false;
  bool KindIndex = false;        // "ByKind", not unique
  bool TextIndexOnNote = false;  // "Sys Text" over NOTE
  std::int16_t LanguageId = 0;
};

TTableDefinition FilterTable(const TFilterTableOptions& options);

struct TFilterRow {
  std::int32_t Id = 0;
  std::optional<std::string> Name;
  std::optional<std::int32_t> Amount;
  std::optional<std::string> Kind;
  std::optional<std::string> Note;
  bool operator==(const TFilterRow&) const = default;
};

// A record buffer of the cursor holding the row (NOTE through a BLOB buffer when given).
std::vector<std::uint8_t> FilterRowBuffer(TDataCursor& cursor, const TFilterRow& row);
// Inserts the row through the cursor (not moving onto it).
void InsertFilterRow(TDataCursor& cursor, const TFilterRow& row);
TFilterRow FilterRowOf(const TDataCursor& cursor, std::span<const std::uint8_t> record);

// The IDs a filtered cursor visits from its beginning crack forward.
std::vector<std::int32_t> WalkIds(TDataCursor& cursor);
// The IDs of the live records for which the filter text, parsed and bound on its own and
// evaluated record by record, is TRUE, in the order of an unfiltered cursor on the same
// index (ascending record number in record-number order).
std::vector<std::int32_t> BruteForceIds(TDataDirectory& directory, const std::string& table,
                                        int indexNo, const std::string& text);

}  // namespace kura::testing
