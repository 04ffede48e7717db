// Navigation in record-number order: over the bitmap of visible records (live, and passing
// every active filter), in record number order, skipping whole bitmap words that are all zero
// or all one. Tables without a primary index are navigated this way, and so is every cursor
// asked for record-number order. There are no ranges in this order.
//
// The bookmark is the 4-byte record number (little-endian).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/cursor_position.h"
#include "storage/records_bitmap.h"

namespace kura {

inline constexpr int kRecordBookmarkSize = 4;

class TRecordOrderNavigator : public TNavigator {
 public:
  // The visible records; the bitmap's size is the table's highest record number. It is read,
  // not kept in step: call Resynchronise after changing it. An owner that keeps the number of
  // set bits in step with every change passes it (visibleCount), so that a recount after
  // each change does not walk the whole bitmap.
  explicit TRecordOrderNavigator(const TRecordsBitmap& visible,
                                 const std::int64_t* visibleCount = nullptr);

  // To record r: the first visible record at or after it, else the last visible one before
  // it (empty when there is none); r = 0 does nothing, r beyond the ends is taken as the
  // first or last record number.
  void GotoPhysical(std::int64_t r);

  std::int64_t RecNo() const override { return FPos.Position > 0 ? FPos.Position : 0; }
  std::int64_t RecordCount() const override { return FVisibleCount; }
  std::int32_t PhysicalRecordNo() const override { return FPos.PhysicalRecNo; }
  int BookmarkSize() const override { return kRecordBookmarkSize; }
  std::vector<std::uint8_t> Bookmark() const override;
  bool GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks) override;
  int CompareBookmarks(std::span<const std::uint8_t> a,
                       std::span<const std::uint8_t> b) const override;
  void Recount() override;

 protected:
  void GoFirst(TCursorPosition& p) override;
  void GoLast(TCursorPosition& p) override;
  void MoveBy(TCursorPosition& p, std::int64_t n) override;
  void SeekRecNo(TCursorPosition& p, std::int64_t n) override;

 private:
  bool IsVisible(std::uint32_t recordNo) const;
  void Goto(TCursorPosition& p, std::int64_t r) const;
  static void Place(TCursorPosition& p, std::uint32_t recordNo, std::int64_t position);

  const TRecordsBitmap& FVisible;
  const std::int64_t* FKnownCount;
  std::int64_t FVisibleCount = 0;
};

}  // namespace kura
