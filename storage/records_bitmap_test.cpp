#include "storage/records_bitmap.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

namespace kura {
namespace {

TEST(RecordsBitmap, SizeRoundsToWordsAndCapacityGrowsIn256ByteSteps) {
  TRecordsBitmap b;
  b.SetSize(33);
  EXPECT_EQ(b.RoundedSize(), 64u);
  EXPECT_EQ(b.WordCount(), 2u);
  EXPECT_EQ(b.Capacity(), 256u);
  b.SetBit(33);
  EXPECT_TRUE(b.IsSet(33));
  EXPECT_FALSE(b.IsSet(32));
  b.SetSize(2049);  // 2080 bits = 260 bytes -> two steps
  EXPECT_EQ(b.Capacity(), 512u);
  EXPECT_TRUE(b.IsSet(33)) << "existing bits are kept";
  b.SetSize(10);
  EXPECT_EQ(b.Capacity(), 512u) << "never shrinks";
  EXPECT_EQ(b.RoundedSize(), 32u);
}

TEST(RecordsBitmap, RefusesASizeWhoseWordsWouldNotFit) {
  TRecordsBitmap b;
  b.SetSize(40);
  EXPECT_THROW(b.SetSize(0xFFFFFFFFu), std::length_error);
  EXPECT_EQ(b.Size(), 40u) << "a refused size changes nothing";
  EXPECT_EQ(b.RoundedSize(), 64u);
}

TEST(RecordsBitmap, CountsStopAtTheSize) {
  TRecordsBitmap b;
  b.SetSize(33);
  b.SetAll();
  EXPECT_EQ(b.Count(), 33u);
  EXPECT_EQ(b.CountBefore(1), 0u);
  EXPECT_EQ(b.CountBefore(0), 0u);
  EXPECT_EQ(b.CountBefore(20), 19u);
  EXPECT_EQ(b.CountBefore(1000), 33u);
  b.Invert();
  EXPECT_EQ(b.Count(), 0u);
}

TEST(RecordsBitmap, FindNextReachesTheFirstSetRecord) {
  TRecordsBitmap b;
  b.SetSize(100);
  b.SetBit(40);
  std::uint32_t p = 0;
  std::int64_t counter = 0;
  auto r = b.FindNext(p, 1, counter);
  EXPECT_TRUE(r.reached);
  EXPECT_EQ(p, 40u);
  EXPECT_EQ(counter, 1);
}

TEST(RecordsBitmap, FindNextPastTheLastReportsHowManyWerePassed) {
  TRecordsBitmap b;
  b.SetSize(100);
  b.SetBit(5);
  b.SetBit(70);
  std::uint32_t p = 0;
  std::int64_t counter = 10;
  auto r = b.FindNext(p, 5, counter);
  EXPECT_FALSE(r.reached);
  EXPECT_EQ(r.passed, 2u);
  EXPECT_EQ(p, 70u);
  EXPECT_EQ(counter, 12);
}

TEST(RecordsBitmap, AllOnesWordPastTheSizeIsNotCounted) {
  // After SetAll the last word holds meaningless ones past the size; skipping whole words
  // must not count them.
  TRecordsBitmap b;
  b.SetSize(40);
  b.SetAll();
  std::uint32_t p = 32;
  std::int64_t counter = 0;
  auto r = b.FindNext(p, 100, counter);
  EXPECT_FALSE(r.reached);
  EXPECT_EQ(r.passed, 8u);
  EXPECT_EQ(p, 40u);
}

TEST(RecordsBitmap, WalksStayInsideABufferTheSizeFillsExactly) {
  // 2048 records fill the first 256-byte step exactly: the whole-word skip forward and
  // backward must stop at the last word instead of reading the one after it.
  for (std::uint32_t size : {2048u, 4096u}) {
    SCOPED_TRACE(size);
    TRecordsBitmap b;
    b.SetSize(size);
    b.SetAll();
    ASSERT_EQ(b.Capacity() * 8, size);
    std::uint32_t p = 0;
    std::int64_t counter = 0;
    auto r = b.FindNext(p, 0xFFFFFFFFu, counter);
    EXPECT_FALSE(r.reached);
    EXPECT_EQ(r.passed, size);
    EXPECT_EQ(p, size);
    EXPECT_EQ(counter, static_cast<std::int64_t>(size));
    p = size + 1;
    counter = 0;
    r = b.FindPrior(p, 0xFFFFFFFFu, counter);
    EXPECT_EQ(r.passed, size);
    EXPECT_EQ(p, 1u);
    EXPECT_EQ(b.CountBefore(size + 1), size);
  }
}

// The model: a plain vector of flags, index k-1 for record k.
struct Model {
  std::vector<bool> set;
  std::uint32_t CountBefore(std::uint32_t k) const {
    std::uint32_t c = 0;
    for (std::uint32_t i = 1; i < k && i <= set.size(); ++i) c += set[i - 1];
    return c;
  }
  // Returns (reached, passed, new p).
  std::tuple<bool, std::uint32_t, std::uint32_t> Next(std::uint32_t p, std::uint32_t n) const {
    std::uint32_t passed = 0;
    for (std::uint32_t r = p + 1; r <= set.size() && passed < n; ++r)
      if (set[r - 1]) ++passed, p = r;
    return {passed == n && n > 0, passed, p};
  }
  std::tuple<bool, std::uint32_t, std::uint32_t> Prior(std::uint32_t p, std::uint32_t n) const {
    std::uint32_t passed = 0;
    for (std::int64_t r = std::min<std::int64_t>(std::int64_t{p} - 1, set.size());
         r >= 1 && passed < n; --r)
      if (set[r - 1]) ++passed, p = static_cast<std::uint32_t>(r);
    return {passed == n && n > 0, passed, p};
  }
};

TEST(RecordsBitmap, MatchesAModelAroundWordBoundaries) {
  std::mt19937 rng(20261209);
  for (std::uint32_t size : {1u, 31u, 32u, 33u, 64u, 65u, 96u, 130u}) {
    for (int density : {0, 10, 50, 90, 100}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " density " << density);
      TRecordsBitmap b;
      b.SetSize(size);
      if (density == 100) b.SetAll();  // also sets the meaningless tail bits
      Model m{std::vector<bool>(size, density == 100)};
      for (std::uint32_t k = 1; k <= size && density < 100; ++k)
        if (static_cast<int>(rng() % 100) < density) b.SetBit(k), m.set[k - 1] = true;
      EXPECT_EQ(b.Count(), m.CountBefore(size + 1));
      for (std::uint32_t k = 0; k <= size + 2; ++k) {
        ASSERT_EQ(b.CountBefore(k), m.CountBefore(k)) << k;
        for (std::uint32_t n : {1u, 2u, 31u, 32u, 33u, 64u, 200u}) {
          std::uint32_t p = k;
          std::int64_t counter = 0;
          auto [reached, passed, expected_p] = m.Next(k, n);
          auto r = b.FindNext(p, n, counter);
          ASSERT_EQ(r.reached, reached) << "next from " << k << " n " << n;
          ASSERT_EQ(r.passed, passed) << "next from " << k << " n " << n;
          ASSERT_EQ(p, expected_p) << "next from " << k << " n " << n;
          ASSERT_EQ(counter, static_cast<std::int64_t>(passed));
          p = k;
          counter = 0;
          auto [preached, ppassed, pexpected] = m.Prior(k, n);
          auto q = b.FindPrior(p, n, counter);
          ASSERT_EQ(q.reached, preached) << "prior from " << k << " n " << n;
          ASSERT_EQ(q.passed, ppassed) << "prior from " << k << " n " << n;
          ASSERT_EQ(p, pexpected) << "prior from " << k << " n " << n;
          ASSERT_EQ(counter, -static_cast<std::int64_t>(ppassed));
        }
      }
    }
  }
}

TEST(RecordsBitmap, CombinesWordWise) {
  TRecordsBitmap a, b;
  a.SetSize(70);
  b.SetSize(70);
  for (std::uint32_t k : {1u, 33u, 70u}) a.SetBit(k);
  for (std::uint32_t k : {33u, 34u}) b.SetBit(k);
  TRecordsBitmap both;
  both.Assign(a);
  both.AndWith(b);
  EXPECT_EQ(both.Count(), 1u);
  EXPECT_TRUE(both.IsSet(33));
  TRecordsBitmap either;
  either.Assign(a);
  either.OrWith(b);
  EXPECT_EQ(either.Count(), 4u);
  either.Invert();
  EXPECT_EQ(either.Count(), 66u);
  EXPECT_FALSE(either.IsSet(70));
}

TEST(RecordsBitmapStack, ReusesTheLastReleasedClearedAndDestroysPastCapacity) {
  std::vector<std::unique_ptr<TRecordsBitmap>> held;
  for (std::size_t i = 0; i < TRecordsBitmapStack::kCapacity + 3; ++i)
    held.push_back(TRecordsBitmapStack::AcquireBitmap());
  EXPECT_EQ(TRecordsBitmapStack::PooledCount(), 0u);
  for (auto& b : held) {
    b->SetSize(10);
    b->SetAll();
    TRecordsBitmapStack::ReleaseBitmap(b);
    EXPECT_EQ(b, nullptr);
  }
  EXPECT_EQ(TRecordsBitmapStack::PooledCount(), TRecordsBitmapStack::kCapacity);
  auto again = TRecordsBitmapStack::AcquireBitmap();
  EXPECT_EQ(again->Size(), 10u);
  EXPECT_EQ(again->Count(), 0u) << "acquired bitmaps come cleared";
  TRecordsBitmapStack::ReleaseBitmap(again);
}

}  // namespace
}  // namespace kura
