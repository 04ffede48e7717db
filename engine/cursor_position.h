// The position of a cursor and the crack model every order of navigation shares.
//
// A cursor is on a record, at the beginning crack (before the first visible record; the
// current entry is that first record), at the end crack (after the last; the current entry is
// the last record), or empty (both crack flags set, no current entry, Position 0):
//
//   state        AtBOF  AtEOF  current entry
//   on a record  no     no     the record
//   beginning    yes    no     the first visible record
//   end          no     yes    the last visible record
//   empty        yes    yes    none
//
// TNavigator runs the operations of the crack model (First, Last, Next, Prior, SetRecNo,
// bookmarks, re-synchronisation) over three primitives its two variants supply: go to the
// first visible record, go to the last, move by n. Every primitive works on a copy of the
// position; an operation commits the copy only after it completed, so a step interrupted by a
// storage error (or by a read that asks for a retry) leaves the cursor where it was.
//
// How a cursor drives a navigator: each step runs inside the cursor's read bracket. When the
// table's change counters moved since the cursor last looked, the cursor re-counts its
// bitmaps and calls Resynchronise() before the step. A page read that sees a change raises
// through the page store the cursor handed in; the step has then changed nothing, and the
// cursor re-synchronises and runs it again. Records are read by the cursor, from the record
// number PhysicalRecordNo() names.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/index_page.h"

namespace kura {

// The cursor's private copy of the leaf that holds its current entry: keys decompressed, the
// record numbers and the page's links. Steps inside one leaf read only this copy.
struct TLeafCopy {
  std::int32_t PageNo = 0;
  std::int32_t PrevPage = 0;
  std::int32_t NextPage = 0;
  int KeyLength = 0;
  // The page's in-memory entries, copied in one piece: Count() entries of Stride bytes, each
  // the key and then the record number (see TPage::EntryImage).
  std::vector<std::uint8_t> Entries;
  std::size_t Stride = 0;
  int EntryCount = 0;

  int Count() const { return EntryCount; }
  const std::uint8_t* Key(int pos) const {
    return Entries.data() + static_cast<std::size_t>(pos - 1) * Stride;
  }
  std::int32_t Record(int pos) const { return TPage::NumberOf(Key(pos), KeyLength); }

  static std::shared_ptr<const TLeafCopy> Of(const TPage& page);
  // A cheap test that the page still looks like this copy: number, links, entry count and the
  // key at `pos`.
  bool LooksLike(const TPage& page, int pos) const;
};

struct TCursorPosition {
  bool AtBOF = true;
  bool AtEOF = true;
  // Index order: ordinal of the current entry among all entries of the index. Record order:
  // ordinal of the current record among the visible records.
  std::int64_t Position = 0;
  // Index order: the leaf copy (shared between copies of the position until a step leaves
  // the leaf) and the 1-based entry in it.
  std::shared_ptr<const TLeafCopy> Leaf;
  int Entry = 0;
  // Record order: the current record number.
  std::int32_t PhysicalRecNo = 0;

  bool Empty() const { return AtBOF && AtEOF; }
  void MakeEmpty() { *this = TCursorPosition{}; }
  bool HasEntry() const { return Leaf != nullptr && Entry >= 1 && Entry <= Leaf->Count(); }
  void ClearCracks() { AtBOF = AtEOF = false; }
};

class TNavigator {
 public:
  virtual ~TNavigator() = default;
  TNavigator() = default;
  TNavigator(const TNavigator&) = delete;
  TNavigator& operator=(const TNavigator&) = delete;

  const TCursorPosition& Position() const { return FPos; }
  // Puts back a position taken from Position() before a step its caller could not complete
  // (the record read after a committed move failed): the step then changed nothing.
  void RestorePosition(const TCursorPosition& position) { FPos = position; }

  // To the beginning crack (empty when nothing is visible).
  void First();
  // To the end crack.
  void Last();
  // 0 on a record; 8709 when empty, 8705 at the beginning crack, 8706 at the end crack.
  std::uint16_t Current() const;
  // One record forward (from the beginning crack: the first record): 0, or 8706 at the end.
  std::uint16_t Next();
  // One record back (from the end crack: the last record): 0, or 8705 at the beginning.
  std::uint16_t Prior();
  // Next() up to recordNos.size() times, storing the record number reached each time; stops
  // at the first non-zero answer and answers it (0 when every step read a record), with the
  // number of records reached in `read`.
  std::uint16_t NextRecords(std::span<std::int32_t> recordNos, int& read);
  // To the record with position number n (below the first: the beginning crack; past the
  // last: the end crack); answers whether RecNo() is n afterwards.
  bool SetRecNo(std::int64_t n);

  // The 1-based position number of the current record in this order, 0 when there is none.
  virtual std::int64_t RecNo() const = 0;
  // The number of records this order visits.
  virtual std::int64_t RecordCount() const = 0;
  // The record number of the current entry, 0 when there is none.
  virtual std::int32_t PhysicalRecordNo() const = 0;

  virtual int BookmarkSize() const = 0;
  // The current entry's bookmark (all zero bytes when there is none).
  virtual std::vector<std::uint8_t> Bookmark() const = 0;
  // Goes to the bookmarked record or, when it is gone or hidden, the nearest following one.
  // With keepCracks a crack the cursor was on survives when the record next to it is still
  // the first (last) one, and the answer is true; otherwise the answer is whether the cursor
  // reached the bookmarked record itself.
  virtual bool GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks) = 0;
  // -1, 0 or 1.
  virtual int CompareBookmarks(std::span<const std::uint8_t> a,
                               std::span<const std::uint8_t> b) const = 0;

  // After the table changed: counts and bounds afresh, then back to the current record by
  // its bookmark keeping the cracks (a record that went away leaves the cursor on the one
  // that followed it).
  void Resynchronise();

 protected:
  // The primitives, on a copy of the position.
  virtual void GoFirst(TCursorPosition& p) = 0;
  virtual void GoLast(TCursorPosition& p) = 0;
  // n != 0 steps; when fewer are possible the cursor ends on the nearest visible record at
  // or behind the place the walk stopped and sets the crack of the direction of travel.
  virtual void MoveBy(TCursorPosition& p, std::int64_t n) = 0;
  virtual void SeekRecNo(TCursorPosition& p, std::int64_t n) = 0;
  // Recomputes the counts and bounds the order keeps.
  virtual void Recount() = 0;

  // The cracks rule of a search made with KeepCracks, given the position before it.
  void KeepCracks(TCursorPosition& p, const TCursorPosition& before);

  // Runs step on a copy of the position and commits it when the step returns.
  template <typename TStep>
  void Commit(TStep step) {
    TCursorPosition work = FPos;
    step(work);
    FPos = std::move(work);
  }

  TCursorPosition FPos;
};

}  // namespace kura
