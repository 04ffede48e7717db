#include "engine/record_order_navigator.h"

#include <algorithm>
#include <limits>

#include "storage/little_endian.h"

namespace kura {
namespace {

std::int32_t BookmarkRecord(std::span<const std::uint8_t> bookmark) {
  std::uint8_t bytes[kRecordBookmarkSize] = {};
  std::copy_n(bookmark.begin(), std::min<std::size_t>(bookmark.size(), kRecordBookmarkSize), bytes);
  return GetI32LE(bytes);
}

// Steps of one walk: the bitmap counts in 32 bits.
std::uint32_t WalkLength(std::int64_t n) {
  const std::int64_t length = n > 0 ? n : -n;
  return static_cast<std::uint32_t>(
      std::min<std::int64_t>(length, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

TRecordOrderNavigator::TRecordOrderNavigator(const TRecordsBitmap& visible,
                                             const std::int64_t* visibleCount)
    : FVisible(visible), FKnownCount(visibleCount) {
  Recount();
}

void TRecordOrderNavigator::Recount() {
  FVisibleCount = FKnownCount != nullptr ? *FKnownCount : FVisible.Count();
}

bool TRecordOrderNavigator::IsVisible(std::uint32_t recordNo) const {
  return recordNo >= 1 && recordNo <= FVisible.Size() && FVisible.IsSet(recordNo);
}

void TRecordOrderNavigator::Place(TCursorPosition& p, std::uint32_t recordNo,
                                  std::int64_t position) {
  p.PhysicalRecNo = static_cast<std::int32_t>(recordNo);
  p.Position = position;
  p.Leaf.reset();
  p.Entry = 0;
  p.ClearCracks();
}

void TRecordOrderNavigator::GoFirst(TCursorPosition& p) {
  std::uint32_t recordNo = 0;
  std::int64_t position = 0;
  if (!FVisible.FindNext(recordNo, 1, position).reached) {
    p.MakeEmpty();
    return;
  }
  Place(p, recordNo, position);
}

void TRecordOrderNavigator::GoLast(TCursorPosition& p) {
  // Position counts visible records, so the last one's is the visible count.
  std::uint32_t recordNo = FVisible.Size() + 1;
  std::int64_t position = FVisibleCount + 1;
  if (!FVisible.FindPrior(recordNo, 1, position).reached) {
    p.MakeEmpty();
    return;
  }
  Place(p, recordNo, position);
}

void TRecordOrderNavigator::MoveBy(TCursorPosition& p, std::int64_t n) {
  if (p.PhysicalRecNo <= 0) {
    p.MakeEmpty();
    return;
  }
  auto recordNo = static_cast<std::uint32_t>(p.PhysicalRecNo);
  std::int64_t position = p.Position;
  const bool forward = n > 0;
  TRecordsBitmap::WalkResult walk = forward ? FVisible.FindNext(recordNo, WalkLength(n), position)
                                            : FVisible.FindPrior(recordNo, WalkLength(n), position);
  if (walk.reached) {
    Place(p, recordNo, position);
    return;
  }
  if (walk.passed == 0 && !IsVisible(recordNo)) {
    // The record the cursor was on is gone and nothing follows: the nearest one behind it.
    walk = forward ? FVisible.FindPrior(recordNo, 1, position)
                   : FVisible.FindNext(recordNo, 1, position);
    if (!walk.reached) {
      p.MakeEmpty();
      return;
    }
  }
  Place(p, recordNo, position);
  p.AtEOF = forward;
  p.AtBOF = !forward;
}

void TRecordOrderNavigator::SeekRecNo(TCursorPosition& p, std::int64_t n) {
  GoFirst(p);
  if (p.Empty()) return;
  if (n < 1) {
    p.AtBOF = true;
    return;
  }
  if (n > 1) MoveBy(p, n - 1);
}

void TRecordOrderNavigator::Goto(TCursorPosition& p, std::int64_t r) const {
  if (r == 0) return;
  if (FVisible.Size() == 0) {
    p.MakeEmpty();
    return;
  }
  const std::int64_t highest = FVisible.Size();
  auto target = static_cast<std::uint32_t>(std::clamp<std::int64_t>(r, 1, highest));
  std::uint32_t recordNo = target - 1;
  std::int64_t ignored = 0;
  if (!FVisible.FindNext(recordNo, 1, ignored).reached) {
    recordNo = target;
    if (!FVisible.FindPrior(recordNo, 1, ignored).reached) {
      p.MakeEmpty();
      return;
    }
  }
  Place(p, recordNo, 1 + static_cast<std::int64_t>(FVisible.CountBefore(recordNo)));
}

void TRecordOrderNavigator::GotoPhysical(std::int64_t r) {
  Commit([&](TCursorPosition& p) { Goto(p, r); });
}

std::vector<std::uint8_t> TRecordOrderNavigator::Bookmark() const {
  std::vector<std::uint8_t> bookmark(kRecordBookmarkSize, 0);
  PutI32LE(bookmark.data(), FPos.PhysicalRecNo);
  return bookmark;
}

bool TRecordOrderNavigator::GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks) {
  const std::int32_t recordNo = BookmarkRecord(bookmark);
  Commit([&](TCursorPosition& p) {
    const TCursorPosition before = p;
    Goto(p, recordNo);
    if (keepCracks) KeepCracks(p, before);
  });
  return keepCracks || (FPos.PhysicalRecNo == recordNo && recordNo != 0);
}

int TRecordOrderNavigator::CompareBookmarks(std::span<const std::uint8_t> a,
                                            std::span<const std::uint8_t> b) const {
  const std::int32_t left = BookmarkRecord(a);
  const std::int32_t right = BookmarkRecord(b);
  return left < right ? -1 : (left > right ? 1 : 0);
}

}  // namespace kura
