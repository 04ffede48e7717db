#include "engine/table_test_support.h"

#include "base/engine_error.h"
#include "storage/field_types.h"
#include "storage/file_handler.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::testing {

TFieldDescriptor MakeField(const char* name, std::uint8_t type, std::uint8_t size) {
  TFieldDescriptor field;
  field.FieldName = name;
  field.FieldType = type;
  field.FieldSize = size;
  return field;
}

TTableDefinition SmallTable(bool blob) {
  TTableDefinition definition;
  definition.Fields = {MakeField("ID", kFieldTypeInteger), MakeField("NAME", kFieldTypeString, 20)};
  if (blob) definition.Fields.push_back(MakeField("NOTE", kFieldTypeBlob));
  return definition;
}

TEngineSandbox::TEngineSandbox(const std::string& folder)
    : FSession(std::make_unique<TDataSession>(false, FFiles)) {
  FDirectory = &FSession->OpenDirectory(folder.empty() ? "Memory" : "Sandbox", folder);
}

TEngineSandbox::~TEngineSandbox() {
  FSession.reset();  // closes the tables while the file list still exists
}

void TEngineSandbox::CountPauses(std::uint32_t fixedTries) {
  TLockRetryRules rules;
  rules.FixedTries = fixedTries;
  rules.Pause = [pauses = FPauses, pausedMs = FPausedMs](std::uint32_t ms) {
    ++*pauses;
    *pausedMs += ms;
  };
  FSession->SetLockRetryRules(rules);
}

void AppendRecords(TDataTable& table, int count, std::int32_t first) {
  table.AcquireWriteLock();
  TDataFile& data = table.Data();
  const TFieldDescriptor& id = *data.DescriptorByNumber(1);
  for (int i = 0; i < count; ++i) {
    TRecord* record = data.NewRecordSlot();
    std::int32_t lastRowId = data.LastAutoInc();
    InitRecord(record->Image, record->Number, true, lastRowId);
    data.SetLastAutoInc(lastRowId);
    std::uint8_t value[4];
    PutI32LE(value, first + i);
    SetField(record->Image, id, value, false, {});
    data.MarkRecordChanged(record);
    data.ReleaseRecord(record);
    table.Index().IncLiveRecordCount();
  }
  table.FlushBuffers();
  table.ReleaseWriteLock();
}

std::int32_t RecordId(TDataTable& table, std::int32_t n) {
  table.AcquireReadLock();
  TDataFile& data = table.Data();
  TRecord* record = data.GetRecord(n);
  std::uint8_t value[4] = {};
  GetField(record->Image, *data.DescriptorByNumber(1), value);
  data.ReleaseRecord(record);
  table.ReleaseReadLock();
  return GetI32LE(value);
}

int RunInAnotherProcess(const std::string& folder,
                        const std::function<void(TEngineSandbox& sandbox)>& work) {
  constexpr char kDone = 'd';
  TForkedChild child([&](TChildEnd& end) {
    try {
      TEngineSandbox box(folder);
      work(box);
    } catch (const EKuraEngineError& error) {
      return 100 + error.ErrorCode % 100;
    }
    end.Send(kDone);
    return 0;
  });
  if (!child.Started()) return -1;
  const bool done = child.Receive() == kDone;
  const int exitCode = child.Wait();
  return done || exitCode != 0 ? exitCode : -1;
}

bool RangeFree(TFileList& list, const std::string& fileName, std::int64_t length,
               std::int64_t start, bool inMemory) {
  TFileHandler probe(list);
  probe.SetFileName(fileName);
  probe.SetInMemory(inMemory);
  probe.Open();
  const bool free = probe.LockRange(length, start);
  if (free) probe.UnlockRange(length, start);
  return free;
}

}  // namespace kura::testing
