#include "bench/kura_bench_side.h"

#include <sys/stat.h>

#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "sql/filter_condition.h"
#include "storage/field_descriptor.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::bench {
namespace {

constexpr int kIdField = 1, kNameField = 2, kValueField = 3;
constexpr const char* kTableName = "T";
constexpr int kScanBatch = 256;

TIndexDefinition SecondaryIndex(const char* name, std::uint16_t fieldNo) {
  TIndexDefinition index;
  index.Name = name;
  index.Fields = {fieldNo};
  return index;
}

TTableDefinition BenchTable() {
  TTableDefinition definition;
  definition.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger),
                       MakeFieldDescriptor("NAME", kFieldTypeString, 20),
                       MakeFieldDescriptor("VALUE", kFieldTypeInteger)};
  definition.PrimaryIndex.Fields = {kIdField};
  definition.PrimaryIndex.Unique = true;
  definition.SecondaryIndexes = {SecondaryIndex("BY_NAME", kNameField),
                                 SecondaryIndex("BY_VALUE", kValueField)};
  return definition;
}

std::int64_t SizeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
}

}  // namespace

TKuraSide::TKuraSide(const std::string& folder) : FFolder(folder), FSession(false, FFiles) {
  FSession.SetForceBufferFlush(false);
  // A small record cache (scans read the data file in runs, lookups read one record each);
  // the rest shared by the four index caches in use (primary, two secondary, "Sys Deleted"),
  // each of which takes IndexBufferBytes.
  FSession.SetRecordBufferBytes(kRecordCacheBytes);
  FSession.SetIndexBufferBytes((kCacheBytes - kRecordCacheBytes) / 4);
  FDirectory = &FSession.OpenDirectory("Bench", folder);
  FDirectory->CloseTable(FDirectory->CreateTable(kTableName, false, BenchTable(), true));
  FCursor = OpenCursor();
}

TKuraSide::~TKuraSide() {
  FCursor.reset();
  FSession.CloseAllDirectories();
}

void TKuraSide::Reopen() {
  FCursor.reset();
  FSession.CloseAllDirectories();
  FDirectory = &FSession.OpenDirectory("Bench", FFolder);
  FCursor = OpenCursor();
}

std::unique_ptr<TDataCursor> TKuraSide::OpenCursor() {
  auto cursor = std::make_unique<TDataCursor>(*FDirectory);
  cursor->SetTableName(kTableName);
  cursor->Open();
  return cursor;
}

std::vector<std::uint8_t> TKuraSide::ImageWith(int fieldNo, std::int32_t value) const {
  std::vector<std::uint8_t> image(FCursor->RecordSize(), 0);
  std::uint8_t bytes[4];
  PutI32LE(bytes, value);
  FCursor->SetField(fieldNo, image, bytes);
  return image;
}

std::int32_t TKuraSide::ValueOf(std::span<const std::uint8_t> record) const {
  std::uint8_t bytes[4] = {};
  GetField(record, FCursor->GetFieldDesc(kValueField).Descriptor, bytes);
  return GetI32LE(bytes);
}

void TKuraSide::InsertRows(const std::vector<TBenchRow>& rows) {
  std::vector<std::uint8_t> buffer(FCursor->RecordSize());
  std::uint8_t bytes[4];
  for (const TBenchRow& row : rows) {
    FCursor->InitNewRecord(buffer);
    PutI32LE(bytes, row.Id);
    FCursor->SetField(kIdField, buffer, bytes);
    FCursor->SetField(kNameField, buffer, row.Name.c_str());
    PutI32LE(bytes, row.Value);
    FCursor->SetField(kValueField, buffer, bytes);
    FCursor->PostInsert(buffer, false);
  }
}

void TKuraSide::BulkInsert(const std::vector<TBenchRow>& rows) {
  FDirectory->StartTransaction();
  InsertRows(rows);
  FDirectory->Commit();
}

std::int64_t TKuraSide::PointLookups(const std::vector<std::int32_t>& keys) {
  FCursor->SetIndexNo(0);
  std::vector<std::uint8_t> key = ImageWith(kIdField, 0);
  std::vector<std::uint8_t> found(FCursor->RecordSize());
  std::uint8_t bytes[4];
  std::int64_t checksum = 0;
  for (std::int32_t id : keys) {
    PutI32LE(bytes, id);
    FCursor->SetField(kIdField, key, bytes);
    if (FCursor->FindKey(false, key, found, 0, false, 0)) checksum += 1 + ValueOf(found);
  }
  return checksum;
}

std::int64_t TKuraSide::RangeCounts(const std::vector<TValueRange>& ranges) {
  FCursor->SetIndexName("BY_VALUE");
  std::int64_t total = 0;
  for (const TValueRange& range : ranges) {
    FCursor->SetRange(false, ImageWith(kValueField, range.Low), 0,
                      ImageWith(kValueField, range.High), 0);
    total += FCursor->RecordCount();
  }
  FCursor->CancelRange();
  FCursor->SetIndexNo(0);
  return total;
}

std::int64_t TKuraSide::FilteredCounts(const std::vector<std::string>& conditions) {
  // As the SQL layer installs a WHERE condition on a source table: record-number order,
  // complement scans and estimates allowed.
  FCursor->SetIndexNo(kRecordOrderIndexNo);
  TFilterFlags flags;
  flags.UseComplement = true;
  flags.Estimate = true;
  std::int64_t total = 0;
  for (const std::string& condition : conditions) {
    TFilter* filter = AddFilterText(*FCursor, condition, flags);
    FCursor->ActivateFilter(filter);
    total += FCursor->RecordCount();
    FCursor->DropFilter(filter);
  }
  FCursor->SetIndexNo(0);
  return total;
}

std::int64_t TKuraSide::ScanSum() {
  FCursor->SetIndexNo(kRecordOrderIndexNo);
  FCursor->First();
  const std::size_t size = FCursor->RecordSize();
  std::vector<std::uint8_t> buffers(size * kScanBatch);
  std::int64_t sum = 0;
  std::uint16_t answer = 0;
  while (answer == 0) {
    int count = kScanBatch;
    answer = FCursor->GetNextRecords(count, buffers);
    for (int i = 0; i < count; ++i) {
      sum += ValueOf(std::span(buffers).subspan(static_cast<std::size_t>(i) * size, size));
    }
  }
  FCursor->SetIndexNo(0);
  return sum;
}

void TKuraSide::DeleteAndInsert(const std::vector<std::int32_t>& keys,
                                const std::vector<TBenchRow>& rows) {
  FDirectory->StartTransaction();
  FCursor->SetIndexNo(0);
  std::vector<std::uint8_t> key = ImageWith(kIdField, 0);
  std::vector<std::uint8_t> found(FCursor->RecordSize());
  std::uint8_t bytes[4];
  for (std::int32_t id : keys) {
    PutI32LE(bytes, id);
    FCursor->SetField(kIdField, key, bytes);
    if (FCursor->FindKey(false, key, found, 0, false, 0)) FCursor->DeleteRecord(found, false);
  }
  InsertRows(rows);
  FDirectory->Commit();
}

std::int64_t TKuraSide::RowCount() {
  FCursor->SetIndexNo(0);
  return FCursor->RecordCount();
}

TFileSizes TKuraSide::FileSizes() const {
  return {SizeOf(FDirectory->TableFileName(kTableName, ".DAT")),
          SizeOf(FDirectory->TableFileName(kTableName, ".IDX")),
          SizeOf(FDirectory->TableFileName(kTableName, ".BLB"))};
}

}  // namespace kura::bench
