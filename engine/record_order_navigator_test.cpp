// Record-number order over the visible bitmap: the crack model, deleted records passed over,
// position numbers, GotoPhysical and bookmarks, and long runs of whole bitmap words.
#include "engine/record_order_navigator.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/engine_codes.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

constexpr std::uint16_t kBOF = codes::kBeginningOfTable;
constexpr std::uint16_t kEOF = codes::kEndOfTable;

TRecordsBitmap Bits(std::uint32_t size, const std::vector<std::uint32_t>& set) {
  TRecordsBitmap bits;
  bits.SetSize(size);
  for (std::uint32_t k : set) bits.SetBit(k);
  return bits;
}

std::vector<std::uint8_t> Bookmark(std::int32_t recordNo) {
  std::vector<std::uint8_t> bookmark(kRecordBookmarkSize);
  PutI32LE(bookmark.data(), recordNo);
  return bookmark;
}

TEST(RecordOrderNavigator, AnEmptyTableAnswersLikeAnEmptyIndex) {
  TRecordsBitmap visible;
  TRecordOrderNavigator n(visible);
  n.First();
  EXPECT_EQ(n.Current(), codes::kNoCurrentRecord);
  EXPECT_EQ(n.Next(), kEOF);
  EXPECT_EQ(n.Prior(), kBOF);
  EXPECT_EQ(n.RecordCount(), 0);
  EXPECT_EQ(n.RecNo(), 0);
  EXPECT_FALSE(n.SetRecNo(1));
  n.GotoPhysical(3);
  EXPECT_EQ(n.Current(), codes::kNoCurrentRecord);
}

TEST(RecordOrderNavigator, ADeletedRecordIsPassedOverAndNotCounted) {
  TRecordsBitmap visible = Bits(5, {1, 2, 4, 5});
  TRecordOrderNavigator n(visible);
  EXPECT_EQ(n.RecordCount(), 4);
  n.GotoPhysical(2);
  EXPECT_EQ(n.RecNo(), 2);
  ASSERT_EQ(n.Next(), 0);
  EXPECT_EQ(n.PhysicalRecordNo(), 4);
  EXPECT_EQ(n.RecNo(), 3);
  ASSERT_EQ(n.Next(), 0);
  EXPECT_EQ(n.Next(), kEOF);
  EXPECT_EQ(n.PhysicalRecordNo(), 5);
  EXPECT_EQ(n.Prior(), 0);
  EXPECT_EQ(n.PhysicalRecordNo(), 5);
  n.First();
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_EQ(n.Next(), 0);
  EXPECT_EQ(n.PhysicalRecordNo(), 1);
  n.Last();
  EXPECT_EQ(n.Current(), kEOF);
  EXPECT_EQ(n.RecNo(), 4);
  EXPECT_FALSE(n.SetRecNo(0));
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_FALSE(n.SetRecNo(5));
  EXPECT_EQ(n.Current(), kEOF);
  EXPECT_TRUE(n.SetRecNo(3));
  EXPECT_EQ(n.PhysicalRecordNo(), 4);
}

TEST(RecordOrderNavigator, BookmarksAreRecordNumbers) {
  TRecordsBitmap visible = Bits(9, {1, 3, 7, 8});
  TRecordOrderNavigator n(visible);
  EXPECT_EQ(n.BookmarkSize(), 4);
  EXPECT_EQ(n.CompareBookmarks(Bookmark(7), Bookmark(3)), 1);
  EXPECT_EQ(n.CompareBookmarks(Bookmark(3), Bookmark(7)), -1);
  EXPECT_EQ(n.CompareBookmarks(Bookmark(3), Bookmark(3)), 0);
  EXPECT_TRUE(n.GotoBookmark(Bookmark(7), false));
  EXPECT_EQ(n.Bookmark(), Bookmark(7));
  EXPECT_EQ(n.RecNo(), 3);
  // Record 5 was deleted: the nearest following record; past the last: the last one.
  EXPECT_FALSE(n.GotoBookmark(Bookmark(5), false));
  EXPECT_EQ(n.PhysicalRecordNo(), 7);
  EXPECT_FALSE(n.GotoBookmark(Bookmark(42), false));
  EXPECT_EQ(n.PhysicalRecordNo(), 8);
  EXPECT_EQ(n.RecNo(), 4);
}

TEST(RecordOrderNavigator, ResynchronisingAfterTheCurrentRecordWentAway) {
  TRecordsBitmap visible = Bits(6, {2, 4, 6});
  TRecordOrderNavigator n(visible);
  ASSERT_TRUE(n.SetRecNo(2));
  visible.ClearBit(4);
  visible.SetBit(1);
  n.Resynchronise();
  EXPECT_EQ(n.PhysicalRecordNo(), 6);
  EXPECT_EQ(n.RecNo(), 3);
  n.First();
  visible.ClearBit(1);
  n.Resynchronise();
  EXPECT_EQ(n.Current(), kBOF);  // record 2 is the first record now
  EXPECT_EQ(n.PhysicalRecordNo(), 2);
  visible.SetBit(1);
  n.Resynchronise();
  EXPECT_EQ(n.Current(), 0);  // a record came before it: the crack is gone
  EXPECT_EQ(n.RecNo(), 2);
}

TEST(RecordOrderNavigator, LongRunsOfWholeWordsAreCountedAndCrossed) {
  const std::uint32_t size = 100'000;
  TRecordsBitmap visible;
  visible.SetSize(size);
  std::vector<std::uint32_t> set;
  for (std::uint32_t k = 1; k <= size; ++k) {
    const bool on = (k > 1000 && k <= 50'000) || k % 4096 == 7;
    if (on) {
      visible.SetBit(k);
      set.push_back(k);
    }
  }
  TRecordOrderNavigator n(visible);
  ASSERT_EQ(n.RecordCount(), static_cast<std::int64_t>(set.size()));
  for (std::size_t i : {std::size_t{0}, std::size_t{5}, set.size() / 2, set.size() - 1}) {
    ASSERT_TRUE(n.SetRecNo(static_cast<std::int64_t>(i + 1)));
    EXPECT_EQ(n.PhysicalRecordNo(), static_cast<std::int32_t>(set[i]));
  }
  n.Last();
  EXPECT_EQ(n.RecNo(), static_cast<std::int64_t>(set.size()));
  EXPECT_EQ(n.Prior(), 0);
  EXPECT_EQ(n.PhysicalRecordNo(), static_cast<std::int32_t>(set.back()));
  n.GotoPhysical(60'000);
  EXPECT_EQ(n.PhysicalRecordNo(),
            static_cast<std::int32_t>(*std::lower_bound(set.begin(), set.end(), 60'000u)));
}

}  // namespace
}  // namespace kura
