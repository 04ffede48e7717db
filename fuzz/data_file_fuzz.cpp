// Arbitrary bytes as a table's data file held in a memory file: opening, the structure check
// and reading every record raise engine errors or succeed, never crash, overrun or allocate
// without bound. A file that passes the structure check still passes it after a record is
// appended, one is deleted, and both are written back.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "base/engine_error.h"
#include "storage/data_file.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"
#include "storage/record_image.h"

namespace {

constexpr std::int32_t kMostRecordsRead = 4096;

void Store(kura::TFileList& list, const std::uint8_t* data, std::size_t size) {
  kura::TFileHandler raw(list);
  raw.SetFileName("FUZZ.DAT");
  raw.SetInMemory(true);
  raw.CreateFile();
  if (size > 0) raw.WriteBuffer(data, static_cast<std::int64_t>(size));
}

void ReadEveryRecord(kura::TDataFile& file) {
  const std::int32_t count = std::min(file.RecordCount(), kMostRecordsRead);
  for (std::int32_t n = 1; n <= count; ++n) {
    kura::TRecord* record = file.GetRecord(n, kura::TTravel::Forward);
    (void)kura::RecordInvariantViolation(record->Image, file.Descriptors());
    file.ReleaseRecord(record);
  }
  for (std::int32_t n = count; n >= 1 && n > count - 100; --n) {
    file.ReleaseRecord(file.GetRecord(n, kura::TTravel::Backward));
  }
}

// Appends a record and deletes the first one, writes everything back and checks again.
void ChangeAndCheckAgain(kura::TDataFile& file) {
  file.SetHasPrimaryIndex(true);
  kura::TRecord* slot = file.NewRecordSlot();
  std::int32_t rowId = file.LastAutoInc();
  kura::InitRecord(slot->Image, slot->Number, true, rowId);
  file.SetLastAutoInc(rowId);
  file.MarkRecordChanged(slot);
  file.ReleaseRecord(slot);
  kura::TRecord* first = file.GetRecord(1);
  if (!kura::IsDeleted(first->Image)) file.DeleteRecordSlot(first);
  file.ReleaseRecord(first);
  file.WriteChangedRecords();
  file.FlushHeader(false);
  file.Close();
  file.Open();
  try {
    file.CheckStructure();
  } catch (const kura::EKuraEngineError&) {
    std::abort();  // our own writes broke a sound file
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kura::TFileList* const list = new kura::TFileList;
  Store(*list, data, size);
  kura::TDataFile file(*list);
  file.SetFileName("FUZZ.DAT");
  file.SetInMemory(true);
  try {
    file.Open();
  } catch (const kura::EKuraEngineError&) {
    return 0;
  }
  bool sound = true;
  try {
    file.CheckStructure();
  } catch (const kura::EKuraEngineError&) {
    sound = false;
  }
  try {
    ReadEveryRecord(file);
    if (sound) ChangeAndCheckAgain(file);
  } catch (const kura::EKuraEngineError&) {
  }
  return 0;
}
