// Cursor navigation on large indexes: the record count of a range and a jump to the middle
// position number must stay flat from 10 000 to 1 000 000 entries, because both come from the
// subtree counts of one or two paths from the root, never from a walk along the leaves. The
// index is an INTEGER index of an in-memory index file; "page reads" counts the cache reads
// per operation.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/forwarding_page_store.h"
#include "engine/index_navigator.h"
#include "storage/field_types.h"
#include "storage/index_file.h"
#include "storage/little_endian.h"

namespace {

using namespace kura;

// Counts the page reads of the navigator.
class TCountingStore : public TForwardingPageStore {
 public:
  using TForwardingPageStore::TForwardingPageStore;
  TPage* GetPage(std::int32_t pageNo) override {
    ++Reads;
    return TForwardingPageStore::GetPage(pageNo);
  }
  std::int64_t Reads = 0;
};

class TBenchTable {
 public:
  explicit TBenchTable(int entries) {
    TFieldDescriptor field;
    field.FieldName = "N";
    field.FieldType = kFieldTypeInteger;
    std::vector<TFieldDescriptor> fields = {field};
    LayoutFields(fields);
    File.SetFileName("navigation_bench_" + std::to_string(entries) + ".IDX");
    File.SetInMemory(true);
    File.SetTable(fields, {}, false);
    File.CreateFile();
    TIndexDefinition definition;
    definition.Name = "ByN";
    definition.Fields = {1};
    definition.Unique = true;
    Slot = File.AddSecondaryIndex(definition);
    TIndexTree tree = File.Tree(Slot);
    for (std::int32_t v = 1; v <= entries; ++v) tree.Insert(Key(v * 2).data(), v);
    File.WriteChangedPages();
    Store = std::make_unique<TCountingStore>(File.Store(Slot));
    Navigator =
        std::make_unique<TIndexNavigator>(*Store, File.KeyFormat(Slot), File.PageFormat(Slot));
  }
  ~TBenchTable() {
    Navigator.reset();
    File.DiscardPages();
    File.Close();
    File.DeleteFile();
  }
  static std::vector<std::uint8_t> Key(std::int32_t value) {
    std::vector<std::uint8_t> key(5);
    key[0] = 1;
    PutUnsignedBE(key.data() + 1, static_cast<std::uint32_t>(value) ^ 0x8000'0000U, 4);
    return key;
  }

  TIndexFile File;
  int Slot = 0;
  std::unique_ptr<TCountingStore> Store;
  std::unique_ptr<TIndexNavigator> Navigator;
};

TBenchTable& Table(int entries) {
  static std::map<int, std::unique_ptr<TBenchTable>> tables;
  auto& table = tables[entries];
  if (!table) table = std::make_unique<TBenchTable>(entries);
  return *table;
}

// A range over the middle half of the keys (its limits fall between keys) and its count.
void BM_RangeRecordCount(benchmark::State& state) {
  const auto entries = static_cast<int>(state.range(0));
  TBenchTable& table = Table(entries);
  const auto start = TBenchTable::Key(entries / 2 + 1);
  const auto end = TBenchTable::Key(entries + entries / 2 + 1);
  table.Store->Reads = 0;
  std::int64_t count = 0;
  for (auto _ : state) {
    table.Navigator->SetRange(start, 0, end, 0);
    count = table.Navigator->RecordCount();
    benchmark::DoNotOptimize(count);
  }
  if (count != entries / 2) state.SkipWithError("wrong range count");
  state.counters["page reads"] = benchmark::Counter(static_cast<double>(table.Store->Reads),
                                                    benchmark::Counter::kAvgIterations);
  table.Navigator->CancelRange();
}
BENCHMARK(BM_RangeRecordCount)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

// SetRecNo to the middle position and to one a tenth further on, in turn: different leaves,
// so that the table's small page cache has to read pages at every size.
void BM_SetRecNoMiddle(benchmark::State& state) {
  const auto entries = static_cast<int>(state.range(0));
  TBenchTable& table = Table(entries);
  table.Store->Reads = 0;
  const std::uint64_t missesBefore = table.File.Cache(table.Slot).ReadCount();
  for (auto _ : state) {
    if (!table.Navigator->SetRecNo(entries / 2) ||
        !table.Navigator->SetRecNo(entries / 2 + entries / 10)) {
      state.SkipWithError("SetRecNo missed");
      break;
    }
  }
  const auto calls = static_cast<double>(state.iterations()) * 2;
  state.counters["page reads"] = static_cast<double>(table.Store->Reads) / calls;
  state.counters["cache misses"] =
      static_cast<double>(table.File.Cache(table.Slot).ReadCount() - missesBefore) / calls;
}
BENCHMARK(BM_SetRecNoMiddle)->Arg(10'000)->Arg(100'000)->Arg(1'000'000);

// Next over 10 000 entries from the middle: the leaf copy serves the steps inside a leaf.
void BM_NextThroughTenThousand(benchmark::State& state) {
  const auto entries = static_cast<int>(state.range(0));
  TBenchTable& table = Table(entries);
  for (auto _ : state) {
    table.Navigator->SetRecNo(entries / 2 - 5000);
    for (int i = 0; i < 9999; ++i) {
      if (table.Navigator->Next() != 0) state.SkipWithError("ran off the end");
    }
  }
  state.SetItemsProcessed(state.iterations() * 10'000);
}
BENCHMARK(BM_NextThroughTenThousand)->Arg(10'000)->Arg(1'000'000);

}  // namespace

BENCHMARK_MAIN();
