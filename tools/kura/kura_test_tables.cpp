#include "tools/kura/kura_test_tables.h"

#include <fstream>
#include <stdexcept>

#include "storage/field_types.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::testing {

std::string SampleNote(int id) {
  if (id % 3 != 0) return {};
  return PatternBytes(static_cast<std::size_t>(id) * 100, static_cast<unsigned>(id));
}

void MakeSampleTable(TEngineSandbox& sandbox, const std::string& name, const TSampleTable& sample) {
  TTableDefinition definition = RowsTable(sample.Rows);
  if (sample.Notes) definition.Fields = SmallTable(true).Fields;
  definition.Settings.Encrypted = sample.Encrypted;
  if (sample.Encrypted) {
    definition.Settings.Password = "secret";
    definition.Settings.Description = "rows for the eyes of few";
  }
  TDataDirectory& directory = sandbox.Directory();
  directory.CloseTable(directory.CreateTable(name, false, definition, false));
  TDataTable& table = directory.OpenTable(name, false, false);
  for (int id = 1; id <= sample.RowCount; ++id) {
    const std::int32_t recordNo = InsertRow(table, id, "Name" + std::to_string(id));
    if (sample.Notes && !SampleNote(id).empty()) WriteNote(table, recordNo, SampleNote(id));
  }
  for (const int id : sample.DeletedIds) {
    if (sample.Notes) WriteNote(table, id, "");  // a delete frees the record's BLOBs
    DeleteRow(table, id);
  }
  directory.CloseTable(table);
}

void ChangeTable(TEngineSandbox& sandbox, const std::string& name,
                 const std::function<void(TDataTable&)>& change) {
  TDataTable& table = sandbox.Directory().OpenTable(name, false, false);
  table.AcquireWriteLock();
  change(table);
  table.FlushBuffers();
  table.ReleaseWriteLock();
  sandbox.Directory().CloseTable(table);
}

void WriteNote(TDataTable& table, std::int32_t recordNo, const std::string& bytes) {
  table.AcquireWriteLock();
  TDataFile& data = table.Data();
  const TFieldDescriptor& note = *data.DescriptorByNumber(3);
  TRecord* record = data.GetRecord(recordNo);
  std::uint8_t* slot = record->Image.data() + note.FieldOffset;
  TBlobBuffer buffer;
  buffer.FieldNo = 3;
  buffer.FirstBlock = GetI32LE(slot + 1);
  buffer.BlobChange = GetI32LE(slot + 5);
  buffer.Data.assign(bytes.begin(), bytes.end());
  TBlobBuffer* modified[] = {&buffer};
  table.Blob().WriteRecordBlobs(modified, data);
  slot[0] = buffer.FirstBlock != 0 ? 1 : 0;
  PutI32LE(slot + 1, buffer.FirstBlock);
  PutI32LE(slot + 5, buffer.BlobChange);
  data.MarkRecordChanged(record);
  data.ReleaseRecord(record);
  table.FlushBuffers();
  table.ReleaseWriteLock();
}

void DeleteIndexKey(TDataTable& table, int slot, std::int32_t recordNo) {
  const TKeyFormat& format = table.Index().KeyFormat(slot);
  std::vector<std::uint8_t> key(static_cast<std::size_t>(format.KeyLength));
  TRecord* record = table.Data().GetRecord(recordNo);
  BuildKey(format, record->Image, key);
  table.Data().ReleaseRecord(record);
  if (!table.Index().Tree(slot).Delete(key.data())) throw std::logic_error("no such key");
}

void PatchFile(const std::string& path, std::int64_t offset,
               const std::vector<std::uint8_t>& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(offset);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot patch " + path);
}

void PatchI32(const std::string& path, std::int64_t offset, std::int32_t value) {
  std::vector<std::uint8_t> bytes(4);
  PutI32LE(bytes.data(), value);
  PatchFile(path, offset, bytes);
}

std::int32_t ReadI32(const std::string& path, std::int64_t offset) {
  const std::string bytes = ReadWholeFile(path);
  if (offset < 0 || static_cast<std::size_t>(offset) + 4 > bytes.size())
    throw std::runtime_error("cannot read " + path);
  return GetI32LE(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset);
}

bool HasFinding(const std::vector<std::string>& findings, const std::string& fileEnd,
                const std::string& text) {
  for (const std::string& finding : findings) {
    const std::size_t colon = finding.find(": ");
    if (colon == std::string::npos || colon < fileEnd.size()) continue;
    if (finding.compare(colon - fileEnd.size(), fileEnd.size(), fileEnd) != 0) continue;
    if (finding.find(text, colon) != std::string::npos) return true;
  }
  return false;
}

std::string Lines(const std::vector<std::string>& findings) {
  std::string text;
  for (const std::string& finding : findings) text += finding + "\n";
  return text;
}

}  // namespace kura::testing
