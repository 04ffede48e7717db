// Navigation in index order: the cursor walks the leaf level of the active index's B+-tree
// through the leaves' previous and next links, on its private copy of the current leaf, and
// turns position numbers into entries (and back) with the subtree counts of the branch
// entries, so that RecNo, RecordCount, SetRecNo and the range bounds cost one path from the
// root, never a scan (in indexes that carry the counts).
//
// Steps come in four variants: plain; with a range (an entry past the range limit ends the
// walk); with a filter (entries whose record is not in the visible bitmap are passed over);
// with both (the range test first). Position counts every entry passed, visible or not.
//
// The navigator reads pages through a TIndexPageStore: the table's page cache, whose reads may
// raise (a storage error, or the cursor's request to start the step over after a change was
// seen). Either way the position stays as it was before the step.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/cursor_position.h"
#include "storage/index_key.h"
#include "storage/index_page.h"
#include "storage/index_tree.h"
#include "storage/records_bitmap.h"

namespace kura {

class TIndexNavigator : public TNavigator {
 public:
  // The index's pages, key format and page format. Without subtree counts (indexes built
  // for a query, the text index) positions are counted along the leaf chain instead.
  TIndexNavigator(TIndexPageStore& store, const TKeyFormat& keys, const TPageFormat& pages);

  // The records a filter lets through (null: every entry is visible). The bitmap is read, not
  // kept in step: call Resynchronise (or SetVisible again) after changing it. With a range it
  // must hold only records inside the range, as RecordCount is its count.
  void SetVisible(const TRecordsBitmap* visible);

  // A range over the keys: the start limit padded with the lowest sort values after
  // startFieldCount fields (0: all fields), the end limit with the highest. An empty limit
  // leaves that side open. The cursor re-synchronises on its record.
  void SetRange(std::span<const std::uint8_t> start, int startFieldCount,
                std::span<const std::uint8_t> end, int endFieldCount);
  void CancelRange();
  // The limits alone, for a caller that rebuilds what depends on them (the cursor's bitmaps)
  // before it re-synchronises.
  void SetRangeLimits(std::span<const std::uint8_t> start, int startFieldCount,
                      std::span<const std::uint8_t> end, int endFieldCount);
  void ClearRangeLimits();
  // The range as it is, so that a range change that failed half-way can be taken back.
  struct TRangeState {
    bool Active = false;
    std::vector<std::uint8_t> Start;
    std::vector<std::uint8_t> End;
    std::int64_t First = 1;
    std::int64_t Last = 0;
  };
  TRangeState SaveRange() const;
  void RestoreRange(TRangeState state);
  bool RangeActive() const { return FRangeActive; }
  // Ordinals of the first and last entries inside the range (1 and the entry count without a
  // range); both 0 for an empty range.
  std::int64_t RangeFirst() const { return FRangeFirst; }
  std::int64_t RangeLast() const { return FRangeLast; }
  const std::vector<std::uint8_t>& RangeStart() const { return FRangeStart; }
  const std::vector<std::uint8_t>& RangeEnd() const { return FRangeEnd; }

  // Positions on the entry with exactly this key (answer true), or, when there is none and
  // nearest is set, on the first entry after it (the last one, with the end crack, when none
  // follows). Without nearest a miss leaves the cursor where it was.
  bool SearchKey(const std::uint8_t* key, bool nearest, bool keepCracks);
  // The key lookup of a cursor: a partial lookup (fewer fields, a partial length, or a
  // non-unique index) lands on the first key starting with the given part and answers whether
  // there is one; a full key of a unique index is searched exactly. A miss without nearest
  // leaves the cursor where it was; the end crack is never kept (the cursor goes to the last
  // record). The key is KeyLength bytes.
  bool FindKey(std::span<const std::uint8_t> key, int fieldCount, int partialLength, bool nearest);

  // The key of the current entry (also on a crack), null when empty.
  const std::uint8_t* CurrentKey() const;

  std::int64_t RecNo() const override;
  std::int64_t RecordCount() const override;
  std::int32_t PhysicalRecordNo() const override;
  int BookmarkSize() const override { return FKeys.KeyLength; }
  std::vector<std::uint8_t> Bookmark() const override;
  bool GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks) override;
  int CompareBookmarks(std::span<const std::uint8_t> a,
                       std::span<const std::uint8_t> b) const override;

  // Recomputes the range bounds and the visible count (Resynchronise does it too).
  void Recount() override;

 protected:
  void GoFirst(TCursorPosition& p) override;
  void GoLast(TCursorPosition& p) override;
  void MoveBy(TCursorPosition& p, std::int64_t n) override;
  void SeekRecNo(TCursorPosition& p, std::int64_t n) override;

 private:
  // A step of the applicable variant: whether it reached an acceptable entry, and (when not)
  // whether the walk stopped at the end of the leaf chain.
  struct TStepResult {
    bool Moved = false;
    bool ChainEnd = false;
  };
  // A leaf position a descent reached: Pos may be Count + 1 (past the leaf's last entry).
  struct TLeafHit {
    std::shared_ptr<const TLeafCopy> Leaf;
    int Pos = 0;
    std::int64_t Ordinal = 0;
    bool Found = false;
  };

  TPageRef Read(std::int32_t pageNo) { return TPageRef(FStore, FStore.GetPage(pageNo)); }
  TPageRef ReadLeaf(std::int32_t pageNo);
  // Checks a page met on the way down at `level` (0 = the root).
  void CheckDescentPage(const TPage& page, int level) const;
  // The first entry >= key (> key with pastEqual), with its ordinal; the leaf is copied only
  // when asked for.
  TLeafHit DescendToKey(const std::uint8_t* key, bool pastEqual, bool copyLeaf);
  TLeafHit DescendToOrdinal(std::int64_t ordinal);
  std::int64_t EntryCount();
  // Indexes without subtree counts: positions along the leaf chain.
  std::int32_t FirstLeaf();
  template <typename TVisit>
  void WalkLeaves(std::int32_t pageNo, int direction, TVisit visit);
  std::int64_t EntriesBefore(std::int32_t previousLeaf);
  TLeafHit WalkToOrdinal(std::int64_t ordinal);
  std::int64_t CountBelow(const std::uint8_t* key);
  std::int64_t CountNotAbove(const std::uint8_t* key);

  static void Place(TCursorPosition& p, std::shared_ptr<const TLeafCopy> leaf, int entry,
                    std::int64_t ordinal);
  // Re-reads the page the leaf copy came from (through the cache, so that a change is seen)
  // and takes a fresh copy when it no longer looks the same.
  void RefreshLeaf(TCursorPosition& p);
  bool RawStep(TCursorPosition& p, int direction);
  TStepResult Step(TCursorPosition& p, int direction);
  // After a walk that stopped early: the nearest acceptable entry at or behind the place it
  // stopped, else empty.
  void SettleBack(TCursorPosition& p, int direction, bool chainEnd);
  bool InRange(const std::uint8_t* key) const;
  bool Visible(std::int32_t recordNo) const;
  bool Acceptable(const TCursorPosition& p) const;
  std::int64_t RangeFirstOrOne() const { return FRangeActive ? FRangeFirst : 1; }
  std::int64_t RecNoOf(const TCursorPosition& p) const;
  bool Search(TCursorPosition& p, const std::uint8_t* key, bool nearest, bool keepCracks);

  TIndexPageStore& FStore;
  const TKeyFormat& FKeys;
  TPageFormat FPages;
  const TRecordsBitmap* FVisible = nullptr;
  std::int64_t FVisibleCount = 0;
  bool FRangeActive = false;
  std::vector<std::uint8_t> FRangeStart;
  std::vector<std::uint8_t> FRangeEnd;
  std::int64_t FEntryCount = 0;  // entries of the index when last counted
  std::int64_t FRangeFirst = 1;
  std::int64_t FRangeLast = 0;
};

}  // namespace kura
