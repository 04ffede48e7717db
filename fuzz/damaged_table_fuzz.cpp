// A small real table with a memo field, damaged by arbitrary bytes, then used the whole way a
// user would: opened, walked in every order with every field and memo read, searched, cut to
// a range, changed by an insert, an edit and a delete, closed and opened again. Every step
// must raise an engine error or work on what the table really holds:
//   - a walk never answers a record that is not a record of the table (a number below 1);
//   - when the damaged table still verified as sound and nothing raised, it verifies as
//     sound afterwards: damage that passes every check may not turn into corruption.
//
// Input: patches of 5 bytes each: a file selector (0 index file, 1 data file, 2 BLOB file,
// modulo 3), a 3-byte little-endian offset into that file (taken modulo its size) and the
// byte to store there.
// The table: ID integer (primary index), NAME string of 12 (non-unique index "ByName"),
// NOTE memo; 40 rows inserted through a cursor, every fourth with a note of 20 bytes per ID
// (two BLOB blocks for the last ones), every ninth deleted again; all in memory files.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/cursor_blobs.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "fuzz/fuzz_session.h"
#include "fuzz/table_fuzz_parts.h"
#include "storage/field_types.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"
#include "storage/little_endian.h"
#include "tools/kura/table_verify.h"

namespace {

using namespace kura;

constexpr int kRows = 40;
constexpr int kIdField = 1;
constexpr int kNameField = 2;
constexpr int kNoteField = 3;
constexpr const char* kFileNames[] = {"FUZZ.IDX", "FUZZ.DAT", "FUZZ.BLB"};

TTableDefinition Definition() {
  TTableDefinition definition;
  TFieldDescriptor id;
  id.FieldName = "ID";
  id.FieldType = kFieldTypeInteger;
  TFieldDescriptor name;
  name.FieldName = "NAME";
  name.FieldType = kFieldTypeString;
  name.FieldSize = 12;
  TFieldDescriptor note;
  note.FieldName = "NOTE";
  note.FieldType = kFieldTypeBlob;
  note.FieldSubType = kSubTypeMemo;
  definition.Fields = {id, name, note};
  definition.PrimaryIndex.Fields = {kIdField};
  TIndexDefinition byName;
  byName.Name = "ByName";
  byName.Fields = {kNameField};
  definition.SecondaryIndexes = {byName};
  return definition;
}

std::string NameOf(std::int32_t id) {
  return "N" + std::to_string(id * 37 % 100) + "x" + std::to_string(id);
}

// Fills a new record buffer with the row's values; the note goes into the cursor's BLOB
// buffer, written by the post.
void FillRow(TDataCursor& cursor, std::vector<std::uint8_t>& buffer, std::int32_t id,
             const std::string& note) {
  cursor.InitNewRecord(buffer);
  std::uint8_t idBytes[4];
  PutI32LE(idBytes, id);
  cursor.SetField(kIdField, buffer, idBytes);
  cursor.SetField(kNameField, buffer, NameOf(id).c_str());
  if (note.empty()) return;
  std::uint32_t size = 0;
  cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite);
  cursor.WriteBlob(kNoteField, buffer, 0, static_cast<std::uint32_t>(note.size()),
                   reinterpret_cast<const std::uint8_t*>(note.data()));
}

std::string NoteOf(std::int32_t id) {
  return id % 4 == 0
             ? std::string(static_cast<std::size_t>(id) * 20, static_cast<char>('a' + id % 26))
             : std::string();
}

void MakeTable(TDataDirectory& directory) {
  TDataTable& table = directory.CreateTable("FUZZ", true, Definition(), true);
  directory.CloseTable(table);
  TDataCursor cursor(directory);
  cursor.SetTableName("FUZZ");
  cursor.SetInMemory(true);
  cursor.Open();
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  for (std::int32_t id = 1; id <= kRows; ++id) {
    FillRow(cursor, buffer, id, NoteOf(id));
    cursor.PostInsert(buffer, false);
  }
  for (std::int32_t id = 9; id <= kRows; id += 9) {
    std::vector<std::uint8_t> key(cursor.RecordSize(), 0);
    std::uint8_t idBytes[4];
    PutI32LE(idBytes, id);
    cursor.SetField(kIdField, key, idBytes);
    if (!cursor.FindKey(false, key, buffer, 0, false, 1)) continue;
    cursor.GetCurrentRecord(buffer, false);
    cursor.DeleteRecord(buffer, false);
  }
  cursor.Close();
}

// The pristine files, made once.
struct TPristine {
  std::string Files[3];
};

std::string ReadMemoryFile(TFileList& list, const char* name) {
  if (!list.ListedFileExists(name, true)) return {};
  TFileHandler raw(list);
  raw.SetFileName(name);
  raw.SetInMemory(true);
  raw.Open();
  std::string bytes(static_cast<std::size_t>(raw.FileSize()), '\0');
  raw.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()), true);
  return bytes;
}

void Patch(TPristine& files, const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 5 <= size; at += 5) {
    std::string& file = files.Files[data[at] % 3];
    if (file.empty()) continue;
    const std::size_t offset =
        static_cast<std::size_t>(data[at + 1] | (data[at + 2] << 8) | (data[at + 3] << 16)) %
        file.size();
    file[offset] = static_cast<char>(data[at + 4]);
  }
}

[[noreturn]] void Fault(const char* what) {
  // A fuzzing finding: the engine answered something it must not.
  std::fprintf(stderr, "damaged_table_fuzz: %s\n", what);
  std::abort();
}

// Reads every field of the current record, the memo whole.
void ReadFields(TDataCursor& cursor, std::vector<std::uint8_t>& buffer) {
  std::vector<std::uint8_t> value(64);
  cursor.GetField(kIdField, value);
  cursor.GetField(kNameField, value);
  std::uint32_t size = 0;
  if (cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly) != 0) return;
  std::vector<std::uint8_t> note(std::min<std::uint32_t>(size, 1u << 16));
  std::uint32_t copied = 0;
  cursor.ReadBlob(kNoteField, buffer, 0, static_cast<std::uint32_t>(note.size()), note.data(),
                  copied);
  cursor.CloseBlob(kNoteField, buffer);
}

// Forward and backward through the active order; every record answered must be a record.
void WalkOrder(TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  for (int i = 0; i <= 2 * kRows && cursor.GetNextRecord(buffer) == 0; ++i) {
    if (cursor.PhysicalRecordNo() < 1) Fault("a forward walk answered a record numbered below 1");
    ReadFields(cursor, buffer);
  }
  cursor.Last();
  for (int i = 0; i <= 2 * kRows && cursor.GetPriorRecord(buffer) == 0; ++i) {
    if (cursor.PhysicalRecordNo() < 1) Fault("a backward walk answered a record numbered below 1");
  }
}

void Use(TDataCursor& cursor) {
  cursor.Open();
  for (const char* index : {"", "ByName"}) {
    cursor.SetIndexName(index);
    WalkOrder(cursor);
  }
  cursor.SetIndexNo(kRecordOrderIndexNo);
  WalkOrder(cursor);
  cursor.SetIndexName("");
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  std::vector<std::uint8_t> low(cursor.RecordSize(), 0);
  std::vector<std::uint8_t> high(cursor.RecordSize(), 0);
  std::uint8_t idBytes[4];
  PutI32LE(idBytes, 12);
  cursor.SetField(kIdField, low, idBytes);
  cursor.FindKey(false, low, buffer, 0, true, 1);
  PutI32LE(idBytes, 20);
  cursor.SetField(kIdField, high, idBytes);
  cursor.SetRange(false, low, 0, high, 0);
  WalkOrder(cursor);
  cursor.CancelRange();
  // An insert; an edit of the first row's key, name and note; a delete of the second row
  // (every index has a key to change and a key to take out).
  FillRow(cursor, buffer, kRows + 1, std::string(700, 'z'));
  cursor.PostInsert(buffer, false);
  cursor.First();
  if (cursor.GetNextRecord(buffer) == 0 && cursor.GetCurrentRecord(buffer, true) == 0) {
    PutI32LE(idBytes, kRows + 2);
    cursor.SetField(kIdField, buffer, idBytes);
    cursor.SetField(kNameField, buffer, "EDITED");
    std::uint32_t size = 0;
    if (cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite) == 0) {
      cursor.TruncateBlob(kNoteField, buffer, 0);
      cursor.WriteBlob(kNoteField, buffer, 0, 3, reinterpret_cast<const std::uint8_t*>("new"));
    }
    cursor.PostEdit(buffer, true, false);
  }
  cursor.First();
  cursor.GetNextRecord(buffer);
  if (cursor.GetNextRecord(buffer) == 0 && cursor.GetCurrentRecord(buffer, false) == 0)
    cursor.DeleteRecord(buffer, false);
  cursor.Close();
  cursor.Open();  // opened again after the changes: read back what they wrote
  cursor.SetIndexName("ByName");
  WalkOrder(cursor);
  cursor.Close();
}

// Whether the memory table verifies as sound.
bool Sound(TFileList& list) {
  return tool::VerifyTable({"FUZZ", true}, list).empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFileList* const list = new TFileList;
  static TDataSession* const session = fuzzing::MakeNoWaitSession(*list);
  static const TPristine pristine = [] {
    TDataDirectory& directory = session->OpenDirectory("Memory", "");
    MakeTable(directory);
    directory.CloseAllTables();
    session->CloseDirectory(&directory);
    TPristine files;
    for (int i = 0; i < 3; ++i) files.Files[i] = ReadMemoryFile(*list, kFileNames[i]);
    return files;
  }();
  TPristine damaged = pristine;
  Patch(damaged, data, size);
  for (int i = 0; i < 3; ++i) fuzzing::StoreMemoryFile(*list, kFileNames[i], damaged.Files[i]);
  const bool soundBefore = Sound(*list);
  TDataDirectory& directory = session->OpenDirectory("Memory", "");
  bool raised = false;
  {
    TDataCursor cursor(directory);
    cursor.SetTableName("FUZZ");
    cursor.SetInMemory(true);
    try {
      Use(cursor);
    } catch (const EKuraEngineError&) {
      raised = true;
    }
    try {
      cursor.Close();
    } catch (const EKuraEngineError&) {
      raised = true;
    }
  }
  if (fuzzing::CloseDirectoryQuietly(*session, directory)) raised = true;
  if (soundBefore && !raised && !Sound(*list))
    Fault("a table that verified as sound was changed without an error into one that does not");
  return 0;
}
