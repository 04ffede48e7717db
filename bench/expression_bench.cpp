// Evaluates (a > 10 AND b LIKE 'ab%') OR c IS NULL over 1 000 000 records and reports
// records per second. Once the node pool is warm an evaluation must not allocate: every
// allocation during the timed loop is counted and reported (and fails the benchmark).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_parser.h"
#include "sql/record_fields.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/record_image.h"

namespace {

std::atomic<long> gAllocations{0};

}  // namespace

// The replaced operators pair malloc with free; GCC cannot see that they match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

constexpr int kRecords = 1'000'000;
constexpr int kDistinctImages = 1000;

struct TTable {
  std::vector<kura::TFieldDescriptor> Fields;
  std::vector<std::vector<std::uint8_t>> Images;

  TTable() {
    using namespace kura;
    auto add = [&](const char* name, std::uint8_t type, std::uint8_t size) {
      TFieldDescriptor field;
      field.FieldName = name;
      field.FieldType = type;
      field.FieldSize = size;
      Fields.push_back(field);
    };
    add("a", kFieldTypeInteger, 0);
    add("b", kFieldTypeString, 20);
    add("c", kFieldTypeInteger, 0);
    std::size_t size = LayoutFields(Fields);
    static const char* const kTexts[] = {"abc", "xyz", "ab", "b", "abababab"};
    for (int i = 0; i < kDistinctImages; ++i) {
      std::vector<std::uint8_t> image(size, 0);
      std::int32_t lastRowId = 0;
      InitRecord(image, i + 1, true, lastRowId);
      std::int32_t a = i % 20;
      SetField(image, Fields[0], &a, true, {});
      SetField(image, Fields[1], kTexts[i % 5], true, {});
      std::int32_t c = i;
      if (i % 7 != 0) SetField(image, Fields[2], &c, true, {});
      Images.push_back(std::move(image));
    }
  }
};

void BM_FilterOverRecords(benchmark::State& state) {
  static const TTable table;
  kura::TExpressionParser parser;
  parser.SetExpression("(a > 10 AND b LIKE 'ab%') OR c IS NULL");
  parser.NextToken();
  kura::TExpTokenPtr tree = parser.ParseExpression(kura::kFilterFlags);
  kura::TRecordFields fields(table.Fields, table.Images[0].size());
  kura::BindExpression(kura::TBindOptions{}, &fields, nullptr, *tree);
  kura::TEvalLocale locale;
  // Warm the pool.
  for (const auto& image : table.Images) {
    benchmark::DoNotOptimize(kura::EvaluateExpression(*tree, image.data(), &fields, locale));
  }
  long allocations = 0;
  long matches = 0;
  for (auto _ : state) {
    long before = gAllocations.load();
    for (int i = 0; i < kRecords; ++i) {
      const auto& image = table.Images[i % kDistinctImages];
      kura::TExpTokenPtr value = kura::EvaluateExpression(*tree, image.data(), &fields, locale);
      matches += kura::IsTrue(*value) ? 1 : 0;
    }
    allocations += gAllocations.load() - before;
  }
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kRecords, benchmark::Counter::kIsRate);
  state.counters["allocations/record"] =
      static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * kRecords);
  if (allocations != 0) state.SkipWithError("evaluation allocated memory per record");
}
BENCHMARK(BM_FilterOverRecords)->Unit(benchmark::kMillisecond);

}  // namespace
