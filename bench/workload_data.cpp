#include "bench/workload_data.h"

#include <algorithm>
#include <numeric>
#include <random>

namespace kura::bench {
namespace {

constexpr std::uint64_t kSeed = 20261210;
constexpr int kRangeCount = 1000;

std::string RandomName(std::mt19937_64& random) {
  std::uniform_int_distribution<int> length(8, 20);
  std::uniform_int_distribution<int> letter('A', 'Z');
  std::string name(static_cast<std::size_t>(length(random)), ' ');
  for (char& c : name) c = static_cast<char>(letter(random));
  return name;
}

std::vector<std::int32_t> Shuffled(std::int32_t first, int count, std::mt19937_64& random) {
  std::vector<std::int32_t> values(static_cast<std::size_t>(count));
  std::iota(values.begin(), values.end(), first);
  std::shuffle(values.begin(), values.end(), random);
  return values;
}

std::vector<TValueRange> Ranges(int rows, std::mt19937_64& random) {
  const int longest = std::min(50'000, rows / 2);
  std::uniform_int_distribution<int> length(1000, longest);
  std::vector<TValueRange> ranges;
  for (int i = 0; i < kRangeCount; ++i) {
    const int n = length(random);
    const int low = std::uniform_int_distribution<int>(0, rows - n)(random);
    ranges.push_back({low, low + n - 1});
  }
  return ranges;
}

}  // namespace

TWorkloadData MakeWorkloadData(int rows) {
  std::mt19937_64 random(kSeed);
  TWorkloadData data;
  const std::vector<std::int32_t> values = Shuffled(0, rows, random);
  for (int i = 0; i < rows; ++i) {
    data.Rows.push_back({i + 1, RandomName(random), values[static_cast<std::size_t>(i)]});
  }
  data.LookupKeys = Shuffled(1, rows, random);
  data.Ranges = Ranges(rows, random);
  for (std::int32_t id = 2; id <= rows; id += 2) data.DeletedKeys.push_back(id);
  // The new rows take keys and values after the old ones.
  for (std::size_t i = 0; i < data.DeletedKeys.size(); ++i) {
    const auto n = static_cast<std::int32_t>(i);
    data.NewRows.push_back({rows + 1 + n, RandomName(random), rows + n});
  }
  return data;
}

}  // namespace kura::bench
