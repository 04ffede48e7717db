// Helpers for the cursor tests: tables of an ID and a NAME with the indexes a test asks for,
// and rows inserted and deleted the way a writer does it (under the write lock, every index
// and "Sys Deleted" kept, written back before the lock goes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_table.h"

namespace kura::testing {

struct TRowsTableOptions {
  bool PrimaryOnName = true;              // else the table has no primary index of its own
  bool SecondaryById = true;              // "ById", unique
  bool SecondaryByNameNonUnique = false;  // "ByName", not unique
  bool Descending = false;                // "ByName" descending
  std::int16_t LanguageId = 0;
};

// Fields ID (integer) and NAME (string of 20) with the indexes the options ask for.
TTableDefinition RowsTable(const TRowsTableOptions& options = {});

// Inserts a row and answers its record number; 0 (nothing changed) when a unique index
// already holds its key.
std::int32_t InsertRow(TDataTable& table, std::int32_t id, const std::string& name);
// Deletes a live record and moves its "Sys Deleted" key to the deleted ones.
void DeleteRow(TDataTable& table, std::int32_t recordNo);

// The ID and NAME of a record image of the table.
std::int32_t IdOf(const TDataCursor& cursor, std::span<const std::uint8_t> record);
std::string NameOf(const TDataCursor& cursor, std::span<const std::uint8_t> record);
// A record image with these values, to build keys from.
std::vector<std::uint8_t> RowImage(const TDataCursor& cursor, std::int32_t id,
                                   const std::string& name);

}  // namespace kura::testing

namespace kura {

// Switches a cursor's filtered state as the filter layer will: with filtering on and no
// filter that hides anything, the cursor keeps and walks its bitmaps in index order too.
struct TDataCursorTestAccess {
  static void SetFiltered(TDataCursor& cursor, bool on) { cursor.FilterStateChanged(on); }
};

}  // namespace kura
