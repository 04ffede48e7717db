#include "storage/buffer_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::RaisedCode;

struct TTestEntry : TCacheEntry {
  void Clear() { Data.clear(); }
  std::string Data;
};

using TTestCache = TBufferCache<TTestEntry>;
using TTestPool = TCachePool<TTestEntry>;

std::unique_ptr<TTestEntry> MakeTestEntry() {
  return std::make_unique<TTestEntry>();
}

// A cache with its pool and a record of the runs written back.
class TCacheFixture : public ::testing::Test {
 protected:
  TCacheFixture() : FPool(3, MakeTestEntry), FCache(FPool, Settings()) {
    FCache.SetWriteBack([this](std::span<TTestEntry* const> run) {
      std::vector<std::int32_t> numbers;
      for (TTestEntry* entry : run) numbers.push_back(entry->Number);
      FRuns.push_back(numbers);
    });
  }

  static TCacheSettings Settings() {
    TCacheSettings settings;
    settings.ChainScan = kRecordChainScan;
    settings.GrowthStep = kRecordCacheGrowth;
    settings.OwnerName = "TEST.DAT";
    return settings;
  }

  // Makes entries for the numbers, unpinned.
  void Fill(std::initializer_list<std::int32_t> numbers) {
    for (std::int32_t n : numbers) FCache.Release(FCache.MakeEntry(n));
  }

  std::set<std::int32_t> Cached() const {
    std::set<std::int32_t> numbers;
    FCache.ForEach([&](const TTestEntry* entry) { numbers.insert(entry->Number); });
    return numbers;
  }

  TTestPool FPool;
  TTestCache FCache;
  std::vector<std::vector<std::int32_t>> FRuns;
};

TEST(BufferCacheSizes, CapacitiesAndReadAheadFollowTheSessionBudgets) {
  EXPECT_EQ(RecordCacheCapacity(100), 163u);
  EXPECT_EQ(RecordCacheCapacity(1), kRecordBufferMaxCount);
  EXPECT_EQ(RecordCacheCapacity(20000), 0u);
  EXPECT_EQ(RecordReadAheadCount(100), 81u);
  EXPECT_EQ(RecordReadAheadCount(65535), 1u);
  EXPECT_EQ(PageCacheCapacity(), 2u);
  EXPECT_EQ(BlockCacheCapacity(512), 64u);
  EXPECT_EQ(BlockCacheCapacity(2), kBlobBufferMaxCount);
  EXPECT_EQ(BlockReadAheadCount(512), 32u);
  EXPECT_EQ(BlockReadAheadCount(65535), 1u);
}

TEST_F(TCacheFixture, HoldsItsCapacityThenEvictsTheLeastRecentlyUsed) {
  FCache.SetCapacity(RecordCacheCapacity(100));
  for (std::int32_t n = 1; n <= 163; ++n) FCache.Release(FCache.MakeEntry(n));
  EXPECT_EQ(FCache.Count(), 163u);
  // Touch record 1 so record 2 is now the least recently used.
  FCache.Release(FCache.Find(1));
  FCache.Release(FCache.MakeEntry(164));
  EXPECT_EQ(FCache.Count(), 163u);
  EXPECT_EQ(FCache.Capacity(), 163u);
  EXPECT_NE(FCache.Peek(1), nullptr);
  EXPECT_EQ(FCache.Peek(2), nullptr);
  EXPECT_EQ(FCache.CheckInvariants(), "");
}

TEST_F(TCacheFixture, PinnedEntriesMakeTheCacheGrowByItsStep) {
  FCache.SetCapacity(RecordCacheCapacity(100));
  std::vector<TTestEntry*> pinned;
  for (std::int32_t n = 1; n <= 200; ++n) pinned.push_back(FCache.MakeEntry(n));
  EXPECT_EQ(FCache.Count(), 200u);
  EXPECT_EQ(FCache.Capacity(), 227u);
  EXPECT_EQ(FCache.TargetCapacity(), 163u);
  for (TTestEntry* entry : pinned) FCache.Release(entry);
  FCache.Trim();
  EXPECT_EQ(FCache.Count(), 163u);
  EXPECT_EQ(FCache.Capacity(), 163u);
  // The most recent entries stay.
  EXPECT_NE(FCache.Peek(200), nullptr);
  EXPECT_EQ(FCache.Peek(37), nullptr);
  EXPECT_EQ(FCache.CheckInvariants(), "");
}

TEST_F(TCacheFixture, FindPinsMovesToTheHeadAndCountsHitsAndReads) {
  FCache.SetCapacity(10);
  Fill({5, 1, 9, 3, 7, 2});
  EXPECT_EQ(FCache.Find(4), nullptr);
  TTestEntry* entry = FCache.Find(1);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Number, 1);
  EXPECT_EQ(entry->PinCount, 1);
  EXPECT_EQ(FCache.ChainOrder().front(), entry);
  EXPECT_EQ(FCache.HitCount(), 1u);
  EXPECT_EQ(FCache.ReadCount(), 1u);
  FCache.Release(entry);
  FCache.Release(entry);
  EXPECT_EQ(entry->PinCount, 0);  // never below 0
  std::vector<std::int32_t> listed;
  FCache.ForEach([&](const TTestEntry* e) { listed.push_back(e->Number); });
  EXPECT_EQ(listed, (std::vector<std::int32_t>{1, 2, 3, 5, 7, 9}));
}

TEST_F(TCacheFixture, FullOfChangedEntriesWritesBackInRunsThenReuses) {
  FCache.SetCapacity(6);
  Fill({1, 2, 3, 5, 6, 9});
  FCache.ForEach([&](TTestEntry* e) { FCache.MarkChanged(e); });
  TTestEntry* entry = FCache.MakeEntry(10);
  EXPECT_EQ(FRuns, (std::vector<std::vector<std::int32_t>>{{1, 2, 3}, {5, 6}, {9}}));
  EXPECT_EQ(FCache.Capacity(), 6u);
  EXPECT_EQ(FCache.Peek(1), nullptr);  // least recently used, now clean
  EXPECT_FALSE(FCache.HasChanges());
  FCache.Release(entry);
  EXPECT_EQ(FCache.CheckInvariants(), "");
}

TEST_F(TCacheFixture, WhileTheTableLockIsHeldChangesStayAndTheCacheGrows) {
  bool lockHeld = true;
  FCache.SetTableLockQuery([&] { return lockHeld; });
  FCache.SetCapacity(4);
  Fill({1, 2, 3, 4});
  FCache.ForEach([&](TTestEntry* e) { FCache.MarkChanged(e); });
  FCache.Release(FCache.MakeEntry(5));
  EXPECT_TRUE(FRuns.empty());
  EXPECT_EQ(FCache.Capacity(), 4u + kRecordCacheGrowth);
  lockHeld = false;
  FCache.WriteBack();  // commit
  EXPECT_EQ(FRuns, (std::vector<std::vector<std::int32_t>>{{1, 2, 3, 4}}));
}

TEST_F(TCacheFixture, WriteBackSkipsPinnedEntriesAndSplitsRunsAroundThem) {
  FCache.SetCapacity(10);
  Fill({1, 2, 3, 4, 5});
  TTestEntry* pinned = FCache.Find(3);
  FCache.ForEach([&](TTestEntry* e) { FCache.MarkChanged(e); });
  FCache.WriteBack();
  EXPECT_EQ(FRuns, (std::vector<std::vector<std::int32_t>>{{1, 2}, {4, 5}}));
  EXPECT_TRUE(pinned->Changed);
}

TEST_F(TCacheFixture, AFailedWriteLeavesItsRunChanged) {
  FCache.SetCapacity(10);
  Fill({1, 2, 4, 5});
  FCache.ForEach([&](TTestEntry* e) { FCache.MarkChanged(e); });
  FCache.SetWriteBack([](std::span<TTestEntry* const> run) {
    if (run.front()->Number == 4) RaiseTableError(codes::kWriteError, "TEST.DAT");
  });
  EXPECT_EQ(RaisedCode([&] { FCache.WriteBack(); }), codes::kWriteError);
  EXPECT_FALSE(FCache.Peek(1)->Changed);
  EXPECT_FALSE(FCache.Peek(2)->Changed);
  EXPECT_TRUE(FCache.Peek(4)->Changed);
  EXPECT_TRUE(FCache.Peek(5)->Changed);
}

TEST_F(TCacheFixture, ReadAheadRefreshesOnlyCleanUnpinnedEntriesAndNeverGrows) {
  FCache.SetCapacity(4);
  Fill({1, 2, 3});
  TTestEntry* pinned = FCache.Find(2);
  FCache.MarkChanged(FCache.Peek(3));
  EXPECT_EQ(FCache.InsertReadAhead(1), FCache.Peek(1));  // to refresh
  EXPECT_EQ(FCache.InsertReadAhead(2), nullptr);         // pinned
  EXPECT_EQ(FCache.InsertReadAhead(3), nullptr);         // changed
  TTestEntry* fresh = FCache.InsertReadAhead(4);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->PinCount, 0);
  EXPECT_TRUE(fresh->Data.empty());
  // Full: 1 and 4 are clean, so room is made by evicting the least recent of them.
  EXPECT_NE(FCache.InsertReadAhead(5), nullptr);
  EXPECT_EQ(FCache.Peek(1), nullptr);
  // With no write-back and every entry pinned or changed, read-ahead gives up, never grows.
  FCache.SetWriteBack(nullptr);
  FCache.Pin(FCache.Peek(4));
  FCache.Pin(FCache.Peek(5));
  EXPECT_EQ(FCache.InsertReadAhead(6), nullptr);
  EXPECT_EQ(FCache.Capacity(), 4u);
  FCache.Release(pinned);
  EXPECT_EQ(FCache.CheckInvariants(), "");
}

TEST_F(TCacheFixture, DiscardDetachesPinnedEntriesUntilTheirLastRelease) {
  FCache.SetCapacity(8);
  Fill({1, 2, 3, 4, 5});
  TTestEntry* held = FCache.Find(4);
  held->Data = "kept";
  FCache.MarkChanged(held);
  FCache.Discard();
  EXPECT_EQ(FCache.Count(), 0u);
  EXPECT_EQ(FCache.DetachedCount(), 1u);
  EXPECT_EQ(FCache.Peek(4), nullptr);
  EXPECT_EQ(held->Data, "kept");  // still readable by its holder
  EXPECT_EQ(FPool.Size(), 3u);    // the pool keeps its limit, the rest are destroyed
  // A new entry for the same number is independent of the detached one.
  TTestEntry* fresh = FCache.MakeEntry(4);
  EXPECT_NE(fresh, held);
  EXPECT_TRUE(fresh->Data.empty());
  FCache.Release(held);
  EXPECT_EQ(FCache.DetachedCount(), 0u);
  FCache.Release(fresh);
  EXPECT_EQ(FCache.CheckInvariants(), "");
}

TEST_F(TCacheFixture, BookkeepingFaultsRaiseTheCorruptBuffersCode) {
  FCache.SetCapacity(4);
  Fill({1});
  EXPECT_EQ(RaisedCode([&] { FCache.MakeEntry(1); }), codes::kRecordBuffersCorrupt);
  EXPECT_EQ(RaisedCode([&] { FCache.MakeEntry(0); }), codes::kRecordBuffersCorrupt);
  EXPECT_EQ(RaisedCode([&] { FCache.InsertReadAhead(-3); }), codes::kRecordBuffersCorrupt);
  TTestEntry stranger;
  stranger.Number = 1;
  EXPECT_EQ(RaisedCode([&] { FCache.Remove(&stranger); }), codes::kRecordBuffersCorrupt);
  TTestEntry* entry = FCache.Find(1);
  entry->PinCount = UINT16_MAX;
  EXPECT_EQ(RaisedCode([&] { FCache.Pin(entry); }), codes::kRecordBuffersCorrupt);
  EXPECT_EQ(entry->PinCount, UINT16_MAX);
  entry->PinCount = 1;
  FCache.Release(entry);
  EXPECT_EQ(FCache.CheckInvariants(), "");
}

TEST(BufferCachePool, KeepsAtMostItsLimitAndResetsTakenEntries) {
  int made = 0;
  TTestPool pool(kPagePoolLimit, [&] {
    ++made;
    return MakeTestEntry();
  });
  std::vector<std::unique_ptr<TTestEntry>> taken;
  for (int i = 0; i < 6; ++i) taken.push_back(pool.Take());
  EXPECT_EQ(made, 6);
  taken[0]->Changed = true;
  taken[0]->PinCount = 3;
  taken[0]->Number = 12;
  TTestEntry* first = taken[0].get();
  for (auto& entry : taken) pool.Give(std::move(entry));
  EXPECT_EQ(pool.Size(), kPagePoolLimit);
  std::unique_ptr<TTestEntry> again;
  for (std::size_t i = 0; i < kPagePoolLimit; ++i) {
    auto entry = pool.Take();
    if (entry.get() == first) again = std::move(entry);
  }
  ASSERT_NE(again, nullptr);
  EXPECT_FALSE(again->Changed);
  EXPECT_EQ(again->PinCount, 0);
  EXPECT_EQ(again->Number, 0);
  EXPECT_EQ(made, 6);
}

// Random operations against a plain model: a "disk" map written by the write-back callback and
// the logical contents of every number. Whatever the cache holds must agree with the model,
// nothing changed may be lost except by a discard (a rollback), and the invariants hold after
// every step.
TEST(BufferCacheModel, RandomOperationsAgreeWithAMap) {
  constexpr std::int32_t kNumbers = 60;
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
    std::mt19937 random(seed);
    std::map<std::int32_t, std::string> disk;
    std::map<std::int32_t, std::string> logical;
    for (std::int32_t n = 1; n <= kNumbers; ++n) disk[n] = logical[n] = "d" + std::to_string(n);
    TTestPool pool(3, MakeTestEntry);
    TCacheSettings settings;
    settings.ChainScan = 2;
    settings.GrowthStep = 4;
    TTestCache cache(pool, settings);
    cache.SetCapacity(8);
    bool lockHeld = false;
    int writes = 0;
    cache.SetTableLockQuery([&] { return lockHeld; });
    cache.SetWriteBack([&](std::span<TTestEntry* const> run) {
      ++writes;
      for (std::size_t i = 0; i < run.size(); ++i) {
        ASSERT_FALSE(run[i]->Pinned());
        ASSERT_TRUE(run[i]->Changed);
        if (i > 0) {
          ASSERT_EQ(run[i]->Number, run[i - 1]->Number + 1);
        }
        disk[run[i]->Number] = run[i]->Data;
      }
    });
    std::vector<TTestEntry*> held;  // pins the test holds, one per element
    auto fetch = [&](std::int32_t n) {
      TTestEntry* entry = cache.Find(n);
      if (entry == nullptr) {
        entry = cache.MakeEntry(n);
        entry->Data = disk[n];
      }
      return entry;
    };
    for (int step = 0; step < 4000; ++step) {
      std::int32_t n = std::uniform_int_distribution<std::int32_t>(1, kNumbers)(random);
      int op = std::uniform_int_distribution<int>(0, 99)(random);
      if (op < 35) {
        TTestEntry* entry = fetch(n);
        ASSERT_EQ(entry->Data, logical[n]) << "seed " << seed << " step " << step;
        cache.Release(entry);
      } else if (op < 55) {
        TTestEntry* entry = fetch(n);
        entry->Data = "s" + std::to_string(step);
        logical[n] = entry->Data;
        cache.MarkChanged(entry);
        cache.Release(entry);
      } else if (op < 62) {
        if (held.size() < 12) held.push_back(fetch(n));
      } else if (op < 65) {
        // An owner changing an entry it holds sets Changed itself (as index pages do): the
        // change must be written back all the same once the entry is released.
        if (!held.empty()) {
          TTestEntry* entry = held[random() % held.size()];
          if (!entry->Detached) {
            entry->Data = "p" + std::to_string(step);
            logical[entry->Number] = entry->Data;
            entry->Changed = true;
          }
        }
      } else if (op < 75) {
        if (!held.empty()) {
          std::size_t i = random() % held.size();
          cache.Release(held[i]);
          held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
        }
      } else if (op < 85) {
        for (std::int32_t k = n; k < std::min(n + 5, kNumbers + 1); ++k) {
          if (TTestEntry* entry = cache.InsertReadAhead(k)) entry->Data = disk[k];
        }
      } else if (op < 90) {
        lockHeld = !lockHeld;
      } else if (op < 94) {
        cache.WriteBack();
      } else if (op < 97) {
        cache.Trim();
      } else if (!lockHeld) {
        // Rollback: the cache forgets every change not written yet.
        cache.Discard();
        std::vector<TTestEntry*> stillHeld;
        for (TTestEntry* entry : held) {
          if (entry->Detached) {
            cache.Release(entry);
          } else {
            stillHeld.push_back(entry);
          }
        }
        held = stillHeld;
        logical = disk;
      }
      ASSERT_EQ(cache.CheckInvariants(), "") << "seed " << seed << " step " << step;
      ASSERT_LE(pool.Size(), pool.Limit());
      cache.ForEach([&](const TTestEntry* entry) {
        ASSERT_EQ(entry->Data, logical[entry->Number]) << "seed " << seed << " step " << step;
        if (!entry->Changed) {
          ASSERT_EQ(entry->Data, disk[entry->Number]);
        }
      });
      for (const auto& [number, value] : logical) {
        if (cache.Peek(number) == nullptr) {
          ASSERT_EQ(value, disk[number]) << "lost change";
        }
      }
    }
    EXPECT_GT(writes, 0);
    EXPECT_GT(cache.HitCount(), 0u);
    for (TTestEntry* entry : held) cache.Release(entry);
    lockHeld = false;
    cache.WriteBack();
    EXPECT_EQ(disk, logical);
    EXPECT_FALSE(cache.HasChanges());
  }
}

}  // namespace
}  // namespace kura
