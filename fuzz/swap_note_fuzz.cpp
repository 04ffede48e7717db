// Arbitrary bytes as the swap note of an interrupted restructure ("T.SWP") next to an
// in-memory table T and a second table N: opening T finishes the swap the note describes or
// drops a note it cannot read, and then opens a whole table (T's own or N's) or raises an
// engine error; never a crash. A note that was acted on is gone afterwards.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/table_swap.h"
#include "fuzz/fuzz_session.h"
#include "storage/field_types.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"

namespace {

using namespace kura;

void MakeTable(TDataDirectory& directory, const char* name, bool blob) {
  TDataCursor cursor(directory);
  cursor.SetTableName(name);
  cursor.SetInMemory(true);
  cursor.SetExclusive(true);
  TTableDefinition definition;
  definition.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger)};
  if (blob)
    definition.Fields.push_back(MakeFieldDescriptor("NOTE", kFieldTypeBlob, 0, kSubTypeMemo));
  cursor.CreateTable(definition, true);
}

void WriteNote(TFileList& list, const std::string& name, const std::uint8_t* data,
               std::size_t size) {
  TFileHandler note(list);
  note.SetFileName(name);
  note.SetInMemory(true);
  note.CreateFile();
  note.Seek(kSeekFromStart, 0);
  if (size > 0) note.WriteBuffer(data, static_cast<std::int64_t>(size));
  note.Close();
}

// Every file the input may have made, so that the next input starts from nothing.
void DeleteFiles(TFileList& list, TDataDirectory& directory) {
  for (const char* table : {"T", "N"}) {
    for (const char* extension : {".DAT", ".IDX", ".BLB", ".DBK", ".IBK", ".BBK", ".SWP"})
      list.DeleteListedFile(directory.TableFileName(table, extension), true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFileList* const list = new TFileList;
  static TDataSession* const session = new TDataSession(false, *list);
  TDataDirectory& directory = session->OpenDirectory("Memory", "");
  const std::string note = directory.TableFileName("T", kSwapNoteExtension);
  try {
    MakeTable(directory, "T", true);
    MakeTable(directory, "N", size % 2 == 0);
    WriteNote(*list, note, data, size);
    TDataCursor cursor(directory);
    cursor.SetTableName("T");
    cursor.SetInMemory(true);
    cursor.Open();
    if (list->ListedFileExists(note, true)) std::abort();  // opened with the note unread
    cursor.RecordCount();
  } catch (const EKuraEngineError&) {
  }
  fuzzing::CloseDirectoryQuietly(*session, directory);
  DeleteFiles(*list, session->OpenDirectory("Memory", ""));
  fuzzing::CloseDirectoryQuietly(*session, session->OpenDirectory("Memory", ""));
  return 0;
}
