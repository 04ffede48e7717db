#include "engine/index_navigator.h"

#include <algorithm>
#include <cstring>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/search_key.h"

namespace kura {
namespace {

[[noreturn]] void PagesCorrupt() {
  RaiseEngineError(codes::kIndexPagesCorrupt);
}

}  // namespace

TIndexNavigator::TIndexNavigator(TIndexPageStore& store, const TKeyFormat& keys,
                                 const TPageFormat& pages)
    : FStore(store), FKeys(keys), FPages(pages) {
  // Every index a cursor can walk has keys; a slot without (a table without a primary index
  // of its own) is walked in record-number order instead.
  if (pages.KeyLength != keys.KeyLength || keys.KeyLength < 1) PagesCorrupt();
  FRangeStart = RangeLimitKey(FKeys, {}, 0, false);
  FRangeEnd = RangeLimitKey(FKeys, {}, 0, true);
  Recount();
}

void TIndexNavigator::SetVisible(const TRecordsBitmap* visible) {
  FVisible = visible;
  FVisibleCount = visible != nullptr ? visible->Count() : 0;
}

// --- Pages and descents --------------------------------------------------------------------

void TIndexNavigator::CheckDescentPage(const TPage& page, int level) const {
  if (level >= kMaxTreeLevels) PagesCorrupt();
  const bool rootType = page.Type == kPageRootBranch || page.Type == kPageRootLeaf;
  if (page.Freed || page.Type == kPageParams || rootType != (level == 0)) PagesCorrupt();
  if (page.Count() == 0 || page.Format().KeyLength != FKeys.KeyLength) PagesCorrupt();
}

TPageRef TIndexNavigator::ReadLeaf(std::int32_t pageNo) {
  TPageRef page = Read(pageNo);
  if (page->Freed || page->Type != kPageLeaf || page->Count() == 0) PagesCorrupt();
  return page;
}

TIndexNavigator::TLeafHit TIndexNavigator::DescendToKey(const std::uint8_t* key, bool pastEqual,
                                                        bool copyLeaf) {
  std::int64_t countLeft = 0;
  std::int32_t pageNo = FStore.RootPage();
  for (int level = 0;; ++level) {
    TPageRef page = Read(pageNo);
    CheckDescentPage(*page, level);
    if (page->IsLeaf()) {
      TLeafHit hit;
      hit.Pos = pastEqual ? FindFirstGreater(*page, FKeys, key) : FindFirstGE(*page, FKeys, key);
      hit.Found = !pastEqual && hit.Pos <= page->Count() &&
                  CompareKeys(FKeys, page->Key(hit.Pos), key) == 0;
      if (copyLeaf) hit.Leaf = TLeafCopy::Of(*page);
      if (!FPages.Counted) countLeft = EntriesBefore(page->PrevPage);
      hit.Ordinal = countLeft + hit.Pos;
      return hit;
    }
    pageNo = page->ChildOrRecord(FindCounting(*page, FKeys, key, &countLeft));
  }
}

TIndexNavigator::TLeafHit TIndexNavigator::DescendToOrdinal(std::int64_t ordinal) {
  const std::int64_t target = ordinal;
  if (!FPages.Counted) return WalkToOrdinal(ordinal);
  std::int32_t pageNo = FStore.RootPage();
  for (int level = 0;; ++level) {
    TPageRef page = Read(pageNo);
    CheckDescentPage(*page, level);
    if (page->IsLeaf()) {
      if (ordinal < 1 || ordinal > page->Count()) PagesCorrupt();
      return {TLeafCopy::Of(*page), static_cast<int>(ordinal), target, true};
    }
    int pos = 1;
    while (pos < page->Count() && ordinal > page->KeyCount(pos)) {
      ordinal -= page->KeyCount(pos);
      ++pos;
    }
    pageNo = page->ChildOrRecord(pos);
  }
}

std::int64_t TIndexNavigator::EntryCount() {
  if (FStore.RootPage() == 0) return 0;
  TPageRef root = Read(FStore.RootPage());
  CheckDescentPage(*root, 0);
  if (!FPages.Counted && !root->IsLeaf()) {
    root.Reset();
    std::int64_t count = 0;
    WalkLeaves(FirstLeaf(), 1, [&count](const TPage& leaf) {
      count += leaf.Count();
      return true;
    });
    return count;
  }
  return root->TotalKeys();
}

// --- Indexes without subtree counts ----------------------------------------------------------
// Their branch entries hold no counts (indexes built for a query, the text index): positions
// are counted along the leaf chain instead, which costs a walk over the leaves.

std::int32_t TIndexNavigator::FirstLeaf() {
  std::int32_t pageNo = FStore.RootPage();
  for (int level = 0;; ++level) {
    TPageRef page = Read(pageNo);
    CheckDescentPage(*page, level);
    if (page->IsLeaf()) return pageNo;
    pageNo = page->ChildOrRecord(1);
  }
}

template <typename TVisit>
void TIndexNavigator::WalkLeaves(std::int32_t pageNo, int direction, TVisit visit) {
  // A chain never holds more leaves than the file has pages; one that does runs in a circle.
  for (std::int64_t steps = 0; pageNo != 0; ++steps) {
    if (steps > FStore.NextPageNo()) PagesCorrupt();
    TPageRef page = Read(pageNo);
    if (page->Freed || !page->IsLeaf() || page->Count() == 0) PagesCorrupt();
    if (!visit(*page)) return;
    pageNo = direction > 0 ? page->NextPage : page->PrevPage;
  }
}

std::int64_t TIndexNavigator::EntriesBefore(std::int32_t previousLeaf) {
  std::int64_t count = 0;
  WalkLeaves(previousLeaf, -1, [&count](const TPage& page) {
    count += page.Count();
    return true;
  });
  return count;
}

TIndexNavigator::TLeafHit TIndexNavigator::WalkToOrdinal(std::int64_t ordinal) {
  TLeafHit hit;
  std::int64_t left = ordinal;
  WalkLeaves(FirstLeaf(), 1, [&](const TPage& page) {
    if (left > page.Count()) {
      left -= page.Count();
      return true;
    }
    hit = {TLeafCopy::Of(page), static_cast<int>(left), ordinal, true};
    return false;
  });
  if (!hit.Leaf || left < 1) PagesCorrupt();
  return hit;
}

std::int64_t TIndexNavigator::CountBelow(const std::uint8_t* key) {
  if (FStore.RootPage() == 0) return 0;
  return DescendToKey(key, false, false).Ordinal - 1;
}

std::int64_t TIndexNavigator::CountNotAbove(const std::uint8_t* key) {
  if (FStore.RootPage() == 0) return 0;
  return DescendToKey(key, true, false).Ordinal - 1;
}

// --- Ranges and counts ---------------------------------------------------------------------

void TIndexNavigator::Recount() {
  if (FVisible != nullptr) FVisibleCount = FVisible->Count();
  const std::int64_t entries = EntryCount();
  FEntryCount = entries;
  if (!FRangeActive) {
    FRangeFirst = 1;
    FRangeLast = entries;
    return;
  }
  if (CompareKeys(FKeys, FRangeStart.data(), FRangeEnd.data()) > 0) {
    FRangeFirst = FRangeLast = 0;
    return;
  }
  FRangeFirst = CountBelow(FRangeStart.data()) + 1;
  if (FRangeFirst > entries) FRangeFirst = 0;
  FRangeLast = CountNotAbove(FRangeEnd.data());
}

void TIndexNavigator::SetRange(std::span<const std::uint8_t> start, int startFieldCount,
                               std::span<const std::uint8_t> end, int endFieldCount) {
  SetRangeLimits(start, startFieldCount, end, endFieldCount);
  Resynchronise();
}

void TIndexNavigator::CancelRange() {
  ClearRangeLimits();
  Resynchronise();
}

void TIndexNavigator::SetRangeLimits(std::span<const std::uint8_t> start, int startFieldCount,
                                     std::span<const std::uint8_t> end, int endFieldCount) {
  FRangeStart = RangeLimitKey(FKeys, start, startFieldCount, false);
  FRangeEnd = RangeLimitKey(FKeys, end, endFieldCount, true);
  FRangeActive = true;
}

void TIndexNavigator::ClearRangeLimits() {
  FRangeStart = RangeLimitKey(FKeys, {}, 0, false);
  FRangeEnd = RangeLimitKey(FKeys, {}, 0, true);
  FRangeActive = false;
}

TIndexNavigator::TRangeState TIndexNavigator::SaveRange() const {
  return {FRangeActive, FRangeStart, FRangeEnd, FRangeFirst, FRangeLast};
}

void TIndexNavigator::RestoreRange(TRangeState state) {
  FRangeActive = state.Active;
  FRangeStart = std::move(state.Start);
  FRangeEnd = std::move(state.End);
  FRangeFirst = state.First;
  FRangeLast = state.Last;
}

std::int64_t TIndexNavigator::RecordCount() const {
  if (FVisible != nullptr) return FVisibleCount;
  if (FRangeFirst <= 0 || FRangeLast <= 0) return 0;
  return std::max<std::int64_t>(0, FRangeLast - FRangeFirst + 1);
}

std::int64_t TIndexNavigator::RecNoOf(const TCursorPosition& p) const {
  if (p.Position <= 0) return 0;
  return p.Position - RangeFirstOrOne() + 1;
}

std::int64_t TIndexNavigator::RecNo() const {
  return RecNoOf(FPos);
}

std::int32_t TIndexNavigator::PhysicalRecordNo() const {
  return FPos.HasEntry() ? FPos.Leaf->Record(FPos.Entry) : 0;
}

const std::uint8_t* TIndexNavigator::CurrentKey() const {
  return FPos.HasEntry() ? FPos.Leaf->Key(FPos.Entry) : nullptr;
}

// --- Steps ---------------------------------------------------------------------------------

void TIndexNavigator::Place(TCursorPosition& p, std::shared_ptr<const TLeafCopy> leaf, int entry,
                            std::int64_t ordinal) {
  p.Leaf = std::move(leaf);
  p.Entry = entry;
  p.Position = ordinal;
  p.PhysicalRecNo = 0;
}

bool TIndexNavigator::InRange(const std::uint8_t* key) const {
  if (!FRangeActive) return true;
  return CompareKeys(FKeys, key, FRangeStart.data()) >= 0 &&
         CompareKeys(FKeys, key, FRangeEnd.data()) <= 0;
}

bool TIndexNavigator::Visible(std::int32_t recordNo) const {
  if (FVisible == nullptr) return true;
  return recordNo >= 1 && static_cast<std::uint32_t>(recordNo) <= FVisible->Size() &&
         FVisible->IsSet(static_cast<std::uint32_t>(recordNo));
}

bool TIndexNavigator::Acceptable(const TCursorPosition& p) const {
  return p.HasEntry() && InRange(p.Leaf->Key(p.Entry)) && Visible(p.Leaf->Record(p.Entry));
}

void TIndexNavigator::RefreshLeaf(TCursorPosition& p) {
  TPageRef page = Read(p.Leaf->PageNo);
  if (p.Leaf->LooksLike(*page, p.Entry)) return;
  if (page->Freed || !page->IsLeaf() || page->Count() == 0) PagesCorrupt();
  p.Leaf = TLeafCopy::Of(*page);
  p.Entry = std::clamp(p.Entry, 1, p.Leaf->Count());
}

bool TIndexNavigator::RawStep(TCursorPosition& p, int direction) {
  const int next = p.Entry + direction;
  if (next >= 1 && next <= p.Leaf->Count()) {
    p.Entry = next;
  } else {
    const std::int32_t pageNo = direction > 0 ? p.Leaf->NextPage : p.Leaf->PrevPage;
    if (pageNo == 0) return false;
    TPageRef page = ReadLeaf(pageNo);
    // The neighbour must link back, or the chain is broken.
    if ((direction > 0 ? page->PrevPage : page->NextPage) != p.Leaf->PageNo) PagesCorrupt();
    p.Leaf = TLeafCopy::Of(*page);
    p.Entry = direction > 0 ? 1 : p.Leaf->Count();
  }
  p.Position += direction;
  return true;
}

TIndexNavigator::TStepResult TIndexNavigator::Step(TCursorPosition& p, int direction) {
  // One step never passes more entries than the index holds; a leaf chain that runs in a
  // circle would, and is corrupt.
  const std::int64_t limit = 2 * FEntryCount + 2 * kPageEntryArea;
  for (std::int64_t passed = 0;; ++passed) {
    if (passed > limit) PagesCorrupt();
    if (!RawStep(p, direction)) return {false, true};
    if (!InRange(p.Leaf->Key(p.Entry))) return {false, false};
    if (Visible(p.Leaf->Record(p.Entry))) return {true, false};
  }
}

void TIndexNavigator::SettleBack(TCursorPosition& p, int direction, bool chainEnd) {
  if (chainEnd && Acceptable(p)) return;
  if (!Step(p, -direction).Moved) p.MakeEmpty();
}

void TIndexNavigator::MoveBy(TCursorPosition& p, std::int64_t n) {
  if (!p.HasEntry()) {
    p.MakeEmpty();
    return;
  }
  RefreshLeaf(p);
  const int direction = n > 0 ? 1 : -1;
  for (std::int64_t i = 0; i < (n > 0 ? n : -n); ++i) {
    TStepResult step = Step(p, direction);
    if (!step.Moved) {
      SettleBack(p, direction, step.ChainEnd);
      if (p.Empty()) return;
      p.AtEOF = direction > 0;
      p.AtBOF = direction < 0;
      return;
    }
  }
  p.ClearCracks();
}

void TIndexNavigator::GoFirst(TCursorPosition& p) {
  if (FStore.RootPage() == 0 || (FRangeActive && (FRangeFirst <= 0 || FRangeLast < FRangeFirst))) {
    p.MakeEmpty();
    return;
  }
  TLeafHit hit = DescendToOrdinal(RangeFirstOrOne());
  Place(p, hit.Leaf, hit.Pos, hit.Ordinal);
  if (!InRange(p.Leaf->Key(p.Entry))) {
    p.MakeEmpty();
    return;
  }
  if (!Visible(p.Leaf->Record(p.Entry)) && !Step(p, 1).Moved) {
    p.MakeEmpty();
    return;
  }
  p.ClearCracks();
}

void TIndexNavigator::GoLast(TCursorPosition& p) {
  const std::int64_t last = FRangeActive ? FRangeLast : EntryCount();
  if (FStore.RootPage() == 0 || last <= 0 || (FRangeActive && FRangeFirst <= 0)) {
    p.MakeEmpty();
    return;
  }
  TLeafHit hit = DescendToOrdinal(last);
  Place(p, hit.Leaf, hit.Pos, hit.Ordinal);
  if (!InRange(p.Leaf->Key(p.Entry))) {
    p.MakeEmpty();
    return;
  }
  if (!Visible(p.Leaf->Record(p.Entry)) && !Step(p, -1).Moved) {
    p.MakeEmpty();
    return;
  }
  p.ClearCracks();
}

void TIndexNavigator::SeekRecNo(TCursorPosition& p, std::int64_t n) {
  // Without a filter the first and last records' numbers are 1 and the record count, so only
  // a jump past either end needs the walk to that end.
  if (FVisible == nullptr && n >= 1 && n <= RecordCount()) {
    TLeafHit hit = DescendToOrdinal(RangeFirstOrOne() + n - 1);
    Place(p, hit.Leaf, hit.Pos, hit.Ordinal);
    p.ClearCracks();
    return;
  }
  GoFirst(p);
  if (p.Empty()) return;
  if (n < RecNoOf(p)) {
    p.AtBOF = true;
    return;
  }
  TCursorPosition last = p;
  GoLast(last);
  if (last.Empty() || n > RecNoOf(last)) {
    p = last;
    if (!p.Empty()) p.AtEOF = true;
    return;
  }
  TLeafHit hit = DescendToOrdinal(RangeFirstOrOne() + n - 1);
  Place(p, hit.Leaf, hit.Pos, hit.Ordinal);
  if (!Visible(p.Leaf->Record(p.Entry))) {
    TStepResult step = Step(p, 1);
    if (!step.Moved) SettleBack(p, 1, step.ChainEnd);
    if (p.Empty()) return;
  }
  p.ClearCracks();
}

// --- Key search ----------------------------------------------------------------------------

bool TIndexNavigator::Search(TCursorPosition& p, const std::uint8_t* key, bool nearest,
                             bool keepCracks) {
  const TCursorPosition before = p;
  if (FStore.RootPage() == 0) {
    p.MakeEmpty();
    return false;
  }
  bool found = false;
  if (FRangeActive && CompareKeys(FKeys, key, FRangeStart.data()) < 0) {
    GoFirst(p);
  } else if (FRangeActive && CompareKeys(FKeys, key, FRangeEnd.data()) > 0) {
    GoLast(p);
  } else {
    TLeafHit hit = DescendToKey(key, false, true);
    TCursorPosition reached;
    const bool pastLeaf = hit.Pos > hit.Leaf->Count();
    Place(reached, hit.Leaf, pastLeaf ? hit.Pos - 1 : hit.Pos,
          pastLeaf ? hit.Ordinal - 1 : hit.Ordinal);
    reached.ClearCracks();
    if (hit.Found && Visible(hit.Leaf->Record(hit.Pos))) {
      found = true;
      p = reached;
    } else if (!nearest) {
      return false;
    } else if (!pastLeaf && Acceptable(reached)) {
      p = reached;
    } else {
      TCursorPosition forward = reached;
      if (Step(forward, 1).Moved) {
        p = std::move(forward);
      } else {
        // Nothing acceptable at or after the key: the last acceptable entry before it, on
        // the end crack.
        if (!(pastLeaf && Acceptable(reached)) && !Step(reached, -1).Moved) reached.MakeEmpty();
        if (!reached.Empty()) reached.AtEOF = true;
        p = std::move(reached);
      }
    }
  }
  if (keepCracks) KeepCracks(p, before);
  return found;
}

bool TIndexNavigator::SearchKey(const std::uint8_t* key, bool nearest, bool keepCracks) {
  bool found = false;
  Commit([&](TCursorPosition& p) { found = Search(p, key, nearest, keepCracks); });
  return found;
}

bool TIndexNavigator::FindKey(std::span<const std::uint8_t> key, int fieldCount, int partialLength,
                              bool nearest) {
  std::vector<std::uint8_t> search(static_cast<std::size_t>(FKeys.KeyLength), 0);
  std::copy_n(key.begin(), std::min(key.size(), search.size()), search.begin());
  bool found = false;
  Commit([&](TCursorPosition& p) {
    if (!IsPartialLookup(FKeys, fieldCount, partialLength)) {
      found = Search(p, search.data(), nearest, false);
    } else {
      const int length = LeadingKeyLength(FKeys, fieldCount, partialLength);
      PadKey(FKeys, search, length, false);
      TCursorPosition work = p;
      Search(work, search.data(), true, false);
      found = work.HasEntry() && !work.AtEOF &&
              std::memcmp(work.Leaf->Key(work.Entry), search.data(),
                          static_cast<std::size_t>(length)) == 0;
      // A miss without nearest leaves the cursor where it was, as the exact search does.
      if (found || nearest) p = std::move(work);
    }
    if (p.AtEOF && !p.Empty()) GoLast(p);
  });
  return found;
}

// --- Bookmarks -----------------------------------------------------------------------------

std::vector<std::uint8_t> TIndexNavigator::Bookmark() const {
  std::vector<std::uint8_t> bookmark(static_cast<std::size_t>(FKeys.KeyLength), 0);
  if (const std::uint8_t* key = CurrentKey()) std::copy_n(key, bookmark.size(), bookmark.begin());
  return bookmark;
}

bool TIndexNavigator::GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(FKeys.KeyLength), 0);
  std::copy_n(bookmark.begin(), std::min(bookmark.size(), key.size()), key.begin());
  SearchKey(key.data(), true, keepCracks);
  if (keepCracks) return true;
  const std::uint8_t* current = CurrentKey();
  return current != nullptr && !FPos.AtEOF && std::memcmp(current, key.data(), key.size()) == 0;
}

int TIndexNavigator::CompareBookmarks(std::span<const std::uint8_t> a,
                                      std::span<const std::uint8_t> b) const {
  std::vector<std::uint8_t> left(static_cast<std::size_t>(FKeys.KeyLength), 0);
  std::vector<std::uint8_t> right(left.size(), 0);
  std::copy_n(a.begin(), std::min(a.size(), left.size()), left.begin());
  std::copy_n(b.begin(), std::min(b.size(), right.size()), right.begin());
  const int result = CompareKeys(FKeys, left.data(), right.data());
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace kura
