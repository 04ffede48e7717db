// A sound table damaged by arbitrary bytes, then walked by a cursor: opening, moves in index
// and record-number order, position numbers, key lookups, ranges, bookmarks, index changes and
// the text-index parameters raise engine errors or succeed, never crash, hang or allocate
// without bound.
//
// Input: patches of 5 bytes each: a file selector (even: index file, odd: data file), a
// 3-byte little-endian offset into that file (taken modulo its size) and the byte to store.
// The table: ID (integer) and NAME (string of 12), a primary index on NAME and a secondary
// index on ID, 300 rows of which every seventh is deleted, all in memory files.
#include <cstdint>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "fuzz/fuzz_session.h"
#include "storage/field_types.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace {

using namespace kura;

constexpr int kRows = 300;

std::vector<std::uint8_t> KeyOf(TIndexFile& index, int slot, std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(index.KeyFormat(slot).KeyLength));
  BuildKey(index.KeyFormat(slot), image, key);
  return key;
}

void AddRows(TDataTable& table) {
  TDataFile& data = table.Data();
  TIndexFile& index = table.Index();
  for (std::int32_t i = 1; i <= kRows; ++i) {
    TRecord* record = data.NewRecordSlot();
    std::int32_t rowId = data.LastAutoInc();
    InitRecord(record->Image, record->Number, true, rowId);
    data.SetLastAutoInc(rowId);
    std::uint8_t id[4];
    PutI32LE(id, i * 3);
    SetField(record->Image, *data.DescriptorByNumber(1), id, false, {});
    std::string name = std::to_string((i * 37) % 1000);
    name.insert(name.begin(), 'N');
    name.append("x").append(std::to_string(i));
    SetField(record->Image, *data.DescriptorByNumber(2), name.c_str(), false, {});
    const bool deleted = i % 7 == 0;
    if (deleted) data.DeleteRecordSlot(record);
    if (!deleted) {
      index.Tree(kPrimaryIndexSlot)
          .Insert(KeyOf(index, kPrimaryIndexSlot, record->Image).data(), record->Number);
      index.Tree(1).Insert(KeyOf(index, 1, record->Image).data(), record->Number);
      index.IncLiveRecordCount();
    }
    index.Tree(kSysDeletedSlot)
        .Insert(KeyOf(index, kSysDeletedSlot, record->Image).data(), record->Number);
    data.MarkRecordChanged(record);
    data.ReleaseRecord(record);
  }
  table.FlushBuffers();
}

void MakeTable(TDataDirectory& directory) {
  TTableDefinition definition;
  TFieldDescriptor id;
  id.FieldName = "ID";
  id.FieldType = kFieldTypeInteger;
  TFieldDescriptor name;
  name.FieldName = "NAME";
  name.FieldType = kFieldTypeString;
  name.FieldSize = 12;
  definition.Fields = {id, name};
  definition.PrimaryIndex.Fields = {2};
  definition.PrimaryIndex.Unique = true;
  TIndexDefinition byId;
  byId.Name = "ById";
  byId.Fields = {1};
  byId.Unique = true;
  definition.SecondaryIndexes = {byId};
  TDataTable& table = directory.CreateTable("FUZZ", true, definition, true);
  AddRows(table);
  directory.CloseTable(table);
}

void Patch(TFileList& list, const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 5 <= size; at += 5) {
    TFileHandler raw(list);
    raw.SetFileName(data[at] % 2 == 0 ? "FUZZ.IDX" : "FUZZ.DAT");
    raw.SetInMemory(true);
    raw.Open();
    const std::int64_t length = raw.FileSize();
    if (length <= 0) continue;
    const std::int64_t offset =
        (data[at + 1] | (data[at + 2] << 8) | (data[at + 3] << 16)) % length;
    raw.Seek(kSeekFromStart, offset);
    raw.WriteBuffer(&data[at + 4], 1);
  }
}

void Walk(TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  for (int i = 0; i < 40 && cursor.GetNextRecord(buffer) == 0; ++i) {
  }
  const std::vector<std::uint8_t> bookmark = cursor.GetBookmark();
  cursor.Last();
  for (int i = 0; i < 40 && cursor.GetPriorRecord(buffer) == 0; ++i) {
  }
  cursor.SetRecNo(cursor.RecordCount() / 2);
  cursor.RecNo();
  cursor.PhysicalRecordNo();
  cursor.GotoBookmark(bookmark, false);
  cursor.CompareBookmarks(bookmark, cursor.GetBookmark());
  std::vector<std::uint8_t> record(cursor.RecordSize(), 0);
  cursor.SetField(2, record, "N5");
  cursor.FindKey(false, record, buffer, 2, true, 0);
  std::vector<std::uint8_t> high(cursor.RecordSize(), 0);
  cursor.SetField(2, high, "N7");
  cursor.SetRange(false, record, 0, high, 0);
  cursor.RecordCount();
  cursor.GetNextRecord(buffer);
  cursor.CancelRange();
  cursor.SetIndexName("ById");
  cursor.SetRecNo(3);
  cursor.SetIndexNo(kRecordOrderIndexNo);
  cursor.GotoPhysical(kRows / 2);
  cursor.GetNextRecord(buffer);
  cursor.RecordCount();
  cursor.Refresh();
  cursor.TextIndexParams();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFileList* const list = new TFileList;
  static TDataSession* const session = fuzzing::MakeNoWaitSession(*list);
  TDataDirectory& directory = session->OpenDirectory("Memory", "");
  try {
    MakeTable(directory);
    Patch(*list, data, size);
    TDataCursor cursor(directory);
    cursor.SetTableName("FUZZ");
    cursor.SetInMemory(true);
    try {
      cursor.Open();
      Walk(cursor);
    } catch (const EKuraEngineError&) {
    }
    try {
      cursor.Close();
    } catch (const EKuraEngineError&) {
    }
  } catch (const EKuraEngineError&) {
  }
  fuzzing::CloseDirectoryQuietly(*session, directory);
  return 0;
}
