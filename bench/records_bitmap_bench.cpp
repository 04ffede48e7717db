// Walking and counting a records bitmap of one million records at several densities.
#include <benchmark/benchmark.h>

#include <random>

#include "storage/records_bitmap.h"

namespace {

kura::TRecordsBitmap MakeBitmap(int density_percent) {
  kura::TRecordsBitmap b;
  b.SetSize(1'000'000);
  std::mt19937 rng(7);
  for (std::uint32_t k = 1; k <= b.Size(); ++k)
    if (static_cast<int>(rng() % 100) < density_percent) b.SetBit(k);
  return b;
}

void BM_Count(benchmark::State& state) {
  auto b = MakeBitmap(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(b.Count());
}
BENCHMARK(BM_Count)->Arg(1)->Arg(50)->Arg(100);

void BM_WalkAll(benchmark::State& state) {
  auto b = MakeBitmap(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::uint32_t p = 0;
    std::int64_t counter = 0;
    while (b.FindNext(p, 1, counter).reached) {
    }
    benchmark::DoNotOptimize(counter);
  }
}
BENCHMARK(BM_WalkAll)->Arg(1)->Arg(50)->Arg(100);

}  // namespace
