// Arbitrary filter text on a cursor over a small in-memory table with indexes: refused with
// an engine error, or a filtered cursor whose walk and count agree with the same condition
// evaluated on every live record on its own. Never a crash, a hang or a disagreement.
//
// Input: the first byte picks the options (case-insensitive, no partial compare, complement
// scans, estimates) and the cursor's order; the rest is the filter text. The table: ID
// (integer, primary index), NAME (string of 12, a non-unique index), AMOUNT (integer, a
// descending index), KIND (string of 8, no index); 24 rows, some NULLs and deleted rows.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "fuzz/fuzz_session.h"
#include "sql/filter_condition.h"
#include "storage/field_types.h"
#include "storage/file_list.h"
#include "storage/little_endian.h"

namespace {

using namespace kura;

constexpr int kRows = 24;
const char* const kNames[] = {"Smith", "smithers",        "Smi*", "apple", "Apple",
                              "b",     "\x8e\x80\x8a\x88"};

void MakeTable(TDataDirectory& directory) {
  TTableDefinition definition;
  definition.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger),
                       MakeFieldDescriptor("NAME", kFieldTypeString, 12),
                       MakeFieldDescriptor("AMOUNT", kFieldTypeInteger),
                       MakeFieldDescriptor("KIND", kFieldTypeString, 8)};
  definition.PrimaryIndex.Fields = {1};
  definition.PrimaryIndex.Unique = true;
  TIndexDefinition byName;
  byName.Name = "ByName";
  byName.Fields = {2};
  TIndexDefinition byAmount;
  byAmount.Name = "ByAmount";
  byAmount.Fields = {3};
  byAmount.Descending = true;
  definition.SecondaryIndexes = {byName, byAmount};
  directory.CloseTable(directory.CreateTable("FLT", true, definition, true));
}

void FillRows(TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  for (int i = 1; i <= kRows; ++i) {
    cursor.InitNewRecord(buffer);
    std::uint8_t value[4];
    PutI32LE(value, i);
    cursor.SetField(1, buffer, value);
    cursor.SetField(2, buffer, i % 8 == 0 ? nullptr : kNames[i % 7]);
    PutI32LE(value, (i * 37) % 50 - 10);
    cursor.SetField(3, buffer, i % 9 == 0 ? nullptr : value);
    cursor.SetField(4, buffer, i % 2 == 0 ? "even" : "odd");
    cursor.PostInsert(buffer, false);
  }
  // Two deleted slots.
  for (int n : {3, 11}) {
    cursor.SetRecNo(n);
    if (cursor.GetCurrentRecord(buffer) == 0) cursor.DeleteRecord(buffer, false);
  }
}

std::vector<std::int32_t> Walk(TDataCursor& cursor) {
  std::vector<std::int32_t> ids;
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) {
    std::uint8_t id[4] = {};
    cursor.GetField(1, id);
    ids.push_back(GetI32LE(id));
  }
  return ids;
}

void Check(TDataDirectory& directory, std::uint8_t selector, std::string_view text) {
  TDataCursor cursor(directory);
  cursor.SetTableName("FLT");
  cursor.SetInMemory(true);
  cursor.Open();
  FillRows(cursor);
  TFilterFlags flags;
  flags.CaseInsensitive = (selector & 1) != 0;
  flags.NoPartialCompare = (selector & 2) != 0;
  flags.UseComplement = (selector & 4) != 0;
  flags.Estimate = (selector & 8) != 0;
  const int orders[] = {0, 1, 2, kRecordOrderIndexNo};
  cursor.SetIndexNo(orders[(selector >> 4) & 3]);
  std::unique_ptr<TFilterCondition> condition;
  try {
    condition = CompileFilterText(cursor, text, flags);
  } catch (const EKuraEngineError&) {
    return;
  }
  std::unique_ptr<TFilterCondition> oracle = condition->Copy();
  // The oracle: every live record on its own, in the cursor's order.
  std::vector<std::int32_t> expected;
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) {
    if (!oracle->Passes(cursor, buffer)) continue;
    std::uint8_t id[4] = {};
    cursor.GetField(1, id);
    expected.push_back(GetI32LE(id));
  }
  cursor.ActivateFilter(cursor.AddFilter(std::move(condition), {}, flags));
  if (Walk(cursor) != expected) std::abort();
  if (cursor.RecordCount() != static_cast<std::int64_t>(expected.size())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFileList* const list = new TFileList;
  static TDataSession* const session = new TDataSession(false, *list);
  if (size == 0) return 0;
  TDataDirectory& directory = session->OpenDirectory("Memory", "");
  try {
    MakeTable(directory);
    Check(directory, data[0], std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  } catch (const EKuraEngineError&) {
  }
  fuzzing::CloseDirectoryQuietly(*session, directory);
  return 0;
}
