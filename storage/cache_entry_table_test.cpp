#include "storage/cache_entry_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace kura {
namespace {

struct TNumbered {
  explicit TNumbered(std::int32_t number) : Number(number) {}
  std::int32_t Number;
};

// Random inserts and extracts against a map. Numbers are drawn from a narrow band so that
// probe runs grow long and wrap around the end of the table, which is where a removal that
// shifts the wrong members back would lose an entry.
TEST(CacheEntryTable, RandomInsertsAndExtractsAgreeWithAMap) {
  for (const auto& [seed, band] : {std::pair{1u, 40}, std::pair{2u, 300}, std::pair{3u, 5000}}) {
    std::mt19937 random(seed);
    TCacheEntryTable<TNumbered> table;
    std::map<std::int32_t, TNumbered*> model;
    for (int step = 0; step < 20000; ++step) {
      const std::int32_t n = std::uniform_int_distribution<std::int32_t>(1, band)(random);
      const bool insert = model.size() < 8 || random() % 100 < 55;
      if (insert && !model.contains(n)) {
        auto entry = std::make_unique<TNumbered>(n);
        model[n] = entry.get();
        table.Insert(std::move(entry));
      } else {
        std::unique_ptr<TNumbered> taken = table.Extract(n);
        auto held = model.find(n);
        if (held == model.end()) {
          ASSERT_EQ(taken, nullptr) << "seed " << seed << " step " << step;
        } else {
          ASSERT_EQ(taken.get(), held->second) << "seed " << seed << " step " << step;
          model.erase(held);
        }
      }
      ASSERT_EQ(table.Size(), model.size());
      if (step % 97 == 0) {
        ASSERT_TRUE(table.Consistent()) << "seed " << seed << " step " << step;
        for (const auto& [number, entry] : model) ASSERT_EQ(table.Find(number), entry);
      }
    }
    std::map<std::int32_t, TNumbered*> visited;
    table.Visit([&](TNumbered* entry) { visited[entry->Number] = entry; });
    EXPECT_EQ(visited, model);
  }
}

TEST(CacheEntryTable, AnEmptyTableFindsAndExtractsNothing) {
  TCacheEntryTable<TNumbered> table;
  EXPECT_EQ(table.Find(1), nullptr);
  EXPECT_EQ(table.Extract(1), nullptr);
  table.Insert(std::make_unique<TNumbered>(7));
  EXPECT_EQ(table.Extract(8), nullptr);
  EXPECT_NE(table.Extract(7), nullptr);
  EXPECT_EQ(table.Find(7), nullptr);
  EXPECT_TRUE(table.Consistent());
}

}  // namespace
}  // namespace kura
