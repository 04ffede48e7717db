// Cursor navigation over large tables: the record count of a range and SetRecNo to the middle
// stay flat from 10 000 to 1 000 000 records through the whole cursor (its read bracket,
// change detection and record read), because the navigation core answers both from the
// subtree counts. The tables live in the in-memory directory of a session of their own, with
// an INTEGER primary index; they are filled the way a writer does, under one write.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace {

using namespace kura;

class TBenchTable {
 public:
  explicit TBenchTable(int records) : Session(false, Files) {
    TDataDirectory& directory = Session.OpenDirectory("Memory", "");
    const std::string name = "CursorBench" + std::to_string(records);
    TTableDefinition definition;
    TFieldDescriptor field;
    field.FieldName = "N";
    field.FieldType = kFieldTypeInteger;
    definition.Fields = {field};
    definition.PrimaryIndex.Fields = {1};
    definition.PrimaryIndex.Unique = true;
    TDataTable& table = directory.CreateTable(name, true, definition, true);
    Fill(table, records);
    directory.CloseTable(table);
    Cursor = std::make_unique<TDataCursor>(directory);
    Cursor->SetTableName(name);
    Cursor->SetInMemory(true);
    Cursor->Open();
  }
  ~TBenchTable() {
    Cursor.reset();
    Session.CloseAllDirectories();
  }

  // Values 2, 4, 6, ... so that range limits can fall between keys.
  static void Fill(TDataTable& table, int records) {
    TDataFile& data = table.Data();
    TIndexFile& index = table.Index();
    TIndexTree primary = index.Tree(kPrimaryIndexSlot);
    TIndexTree deleted = index.Tree(kSysDeletedSlot);
    std::vector<std::uint8_t> key(
        static_cast<std::size_t>(index.KeyFormat(kPrimaryIndexSlot).KeyLength));
    std::vector<std::uint8_t> deletedKey(kSysDeletedKeyLength);
    for (std::int32_t v = 1; v <= records; ++v) {
      TRecord* record = data.NewRecordSlot();
      std::int32_t rowId = data.LastAutoInc();
      InitRecord(record->Image, record->Number, true, rowId);
      data.SetLastAutoInc(rowId);
      std::uint8_t value[4];
      PutI32LE(value, v * 2);
      SetField(record->Image, *data.DescriptorByNumber(1), value, false, {});
      BuildKey(index.KeyFormat(kPrimaryIndexSlot), record->Image, key);
      BuildKey(index.KeyFormat(kSysDeletedSlot), record->Image, deletedKey);
      primary.Insert(key.data(), record->Number);
      deleted.Insert(deletedKey.data(), record->Number);
      data.MarkRecordChanged(record);
      data.ReleaseRecord(record);
      index.IncLiveRecordCount();
    }
    table.FlushBuffers();
  }

  std::vector<std::uint8_t> Record(std::int32_t value) const {
    std::vector<std::uint8_t> image(Cursor->RecordSize(), 0);
    std::uint8_t bytes[4];
    PutI32LE(bytes, value);
    Cursor->SetField(1, image, bytes);
    return image;
  }

  TFileList Files;
  TDataSession Session;
  std::unique_ptr<TDataCursor> Cursor;
};

TBenchTable& Table(int records) {
  static std::map<int, std::unique_ptr<TBenchTable>> tables;
  auto& table = tables[records];
  if (!table) table = std::make_unique<TBenchTable>(records);
  return *table;
}

// A range over the middle half of the values (limits between keys) and its record count.
void BM_CursorRangeRecordCount(benchmark::State& state) {
  const auto records = static_cast<int>(state.range(0));
  TBenchTable& table = Table(records);
  const auto start = table.Record(records / 2 + 1);
  const auto end = table.Record(records + records / 2 + 1);
  std::int64_t count = 0;
  for (auto _ : state) {
    table.Cursor->SetRange(false, start, 0, end, 0);
    count = table.Cursor->RecordCount();
    benchmark::DoNotOptimize(count);
  }
  if (count != records / 2) state.SkipWithError("wrong range count");
  table.Cursor->CancelRange();
}
BENCHMARK(BM_CursorRangeRecordCount)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

// SetRecNo to the middle and a tenth further on, in turn, reading the record each time.
void BM_CursorSetRecNoMiddle(benchmark::State& state) {
  const auto records = static_cast<int>(state.range(0));
  TBenchTable& table = Table(records);
  for (auto _ : state) {
    if (!table.Cursor->SetRecNo(records / 2) ||
        !table.Cursor->SetRecNo(records / 2 + records / 10)) {
      state.SkipWithError("SetRecNo missed");
      break;
    }
  }
}
BENCHMARK(BM_CursorSetRecNoMiddle)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

// GetNextRecord through 10 000 records from the middle: records read with the leaf copy.
void BM_CursorNextThroughTenThousand(benchmark::State& state) {
  const auto records = static_cast<int>(state.range(0));
  TBenchTable& table = Table(records);
  std::vector<std::uint8_t> buffer(table.Cursor->RecordSize());
  for (auto _ : state) {
    table.Cursor->SetRecNo(records / 2 - 5000);
    for (int i = 0; i < 9999; ++i) {
      if (table.Cursor->GetNextRecord(buffer) != 0) state.SkipWithError("ran off the end");
    }
  }
  state.SetItemsProcessed(state.iterations() * 10'000);
}
BENCHMARK(BM_CursorNextThroughTenThousand)->Arg(10'000)->Arg(1'000'000);

}  // namespace

BENCHMARK_MAIN();
