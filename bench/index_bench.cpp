// The index file under load: one million random integer keys inserted into a non-unique
// INTEGER index of an in-memory index file (page caches of 2 pages, as a table has them),
// each looked up again, and ordinal ranges counted from the subtree counts.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "storage/field_types.h"
#include "storage/index_file.h"
#include "storage/little_endian.h"

namespace {

using namespace kura;

constexpr int kKeyCount = 1'000'000;

struct TBenchIndex {
  TBenchIndex() {
    static int counter = 0;
    TFieldDescriptor field;
    field.FieldName = "N";
    field.FieldType = kFieldTypeInteger;
    std::vector<TFieldDescriptor> fields = {field};
    LayoutFields(fields);
    File.SetFileName("index_bench_" + std::to_string(++counter) + ".IDX");
    File.SetInMemory(true);
    File.SetTable(fields, {}, false);
    File.CreateFile();
    TIndexDefinition definition;
    definition.Name = "ByN";
    definition.Fields = {1};
    Slot = File.AddSecondaryIndex(definition);
  }
  ~TBenchIndex() {
    File.DiscardPages();
    File.Close();
    File.DeleteFile();
  }
  // The key of value v for RowId r: null byte, value, suffix.
  std::vector<std::uint8_t> Key(std::int32_t v, std::int32_t r) const {
    std::vector<std::uint8_t> key(10);
    key[0] = 1;
    PutUnsignedBE(key.data() + 1, static_cast<std::uint32_t>(v) ^ 0x8000'0000U, 4);
    PutRowIdSuffix(key.data() + 5, r);
    key.resize(9);
    return key;
  }
  void Fill(const std::vector<std::int32_t>& values) {
    TIndexTree tree = File.Tree(Slot);
    for (std::size_t i = 0; i < values.size(); ++i) {
      auto r = static_cast<std::int32_t>(i + 1);
      tree.Insert(Key(values[i], r).data(), r);
    }
    File.WriteChangedPages();
  }
  TIndexFile File;
  int Slot = 0;
};

std::vector<std::int32_t> RandomValues() {
  std::mt19937 random(42);
  std::vector<std::int32_t> values(kKeyCount);
  for (auto& v : values) v = static_cast<std::int32_t>(random());
  return values;
}

void BM_InsertRandomKeys(benchmark::State& state) {
  const std::vector<std::int32_t> values = RandomValues();
  for (auto _ : state) {
    TBenchIndex index;
    index.Fill(values);
    benchmark::DoNotOptimize(index.File.NextPageNo());
  }
  state.SetItemsProcessed(state.iterations() * kKeyCount);
}
BENCHMARK(BM_InsertRandomKeys)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_LookUpEachKey(benchmark::State& state) {
  const std::vector<std::int32_t> values = RandomValues();
  TBenchIndex index;
  index.Fill(values);
  TIndexTree tree = index.File.Tree(index.Slot);
  for (auto _ : state) {
    std::int64_t found = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      auto r = static_cast<std::int32_t>(i + 1);
      found += tree.FindRecord(index.Key(values[i], r).data()) == r ? 1 : 0;
    }
    if (found != kKeyCount) state.SkipWithError("a key went missing");
  }
  state.SetItemsProcessed(state.iterations() * kKeyCount);
}
BENCHMARK(BM_LookUpEachKey)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CountOrdinalRanges(benchmark::State& state) {
  const std::vector<std::int32_t> values = RandomValues();
  TBenchIndex index;
  index.Fill(values);
  TIndexTree tree = index.File.Tree(index.Slot);
  std::mt19937 random(7);
  constexpr int kRanges = 100'000;
  for (auto _ : state) {
    std::int64_t total = 0;
    for (int i = 0; i < kRanges; ++i) {
      auto a = static_cast<std::int32_t>(random());
      auto b = static_cast<std::int32_t>(random());
      if (b < a) std::swap(a, b);
      total += tree.CountBelow(index.Key(b, 0).data()) - tree.CountBelow(index.Key(a, 0).data());
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kRanges);
}
BENCHMARK(BM_CountOrdinalRanges)->Unit(benchmark::kMillisecond);

}  // namespace
