// Sample tables for the kura command's tests: rows of an ID, a NAME and a memo NOTE, written
// the way a writer does it (every index, "Sys Deleted", BLOB chains and counts kept), and
// the tools to damage their files afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/cursor_test_support.h"
#include "engine/table_test_support.h"

namespace kura::testing {

struct TSampleTable {
  TRowsTableOptions Rows;
  bool Notes = true;            // a memo field NOTE (field 3)
  bool Encrypted = false;       // scrambled on disk, password "secret", with a description
  int RowCount = 40;            // IDs 1..RowCount, in record numbers 1..RowCount
  std::vector<int> DeletedIds;  // deleted after all rows are in (their notes freed first)
};

// The NOTE of row id: every third row has one of id * 100 bytes (several blocks from id 5
// on), the others none.
std::string SampleNote(int id);

// Creates the table in the sandbox's directory and leaves it closed.
void MakeSampleTable(TEngineSandbox& sandbox, const std::string& name, const TSampleTable& sample);

// Opens the table shared, runs change under its write lock, writes everything back and
// closes it again: a writer's own change, e.g. a key taken out of one index alone.
void ChangeTable(TEngineSandbox& sandbox, const std::string& name,
                 const std::function<void(TDataTable&)>& change);

// Replaces record n's NOTE with bytes (empty: the chain is freed), as a post does.
void WriteNote(TDataTable& table, std::int32_t recordNo, const std::string& bytes);
// Takes record n's key out of the index in slot (the table's write lock is held).
void DeleteIndexKey(TDataTable& table, int slot, std::int32_t recordNo);

// Overwrites bytes of a file at offset.
void PatchFile(const std::string& path, std::int64_t offset,
               const std::vector<std::uint8_t>& bytes);
void PatchI32(const std::string& path, std::int64_t offset, std::int32_t value);
std::int32_t ReadI32(const std::string& path, std::int64_t offset);

// Whether a finding names the file (its path ends with fileEnd) and contains text.
bool HasFinding(const std::vector<std::string>& findings, const std::string& fileEnd,
                const std::string& text);
// The findings one a line, for failure messages.
std::string Lines(const std::vector<std::string>& findings);

}  // namespace kura::testing
