#include "storage/index_tree.h"

#include <algorithm>
#include <limits>

#include "base/engine_codes.h"
#include "base/engine_error.h"

namespace kura {
namespace {

[[noreturn]] void TreeCorrupt() {
  RaiseEngineError(codes::kIndexPagesCorrupt);
}

// Index files hold at most this many pages.
constexpr std::int32_t kMaxIndexPages = 2'000'000'000;

}  // namespace

// --- Searches of one page ------------------------------------------------------------------

int FindFirstGE(const TPage& page, const TKeyFormat& format, const std::uint8_t* key) {
  int lo = 1;
  int hi = page.Count() + 1;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (CompareKeys(format, page.Key(mid), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int FindFirstGreater(const TPage& page, const TKeyFormat& format, const std::uint8_t* key) {
  int lo = 1;
  int hi = page.Count() + 1;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (CompareKeys(format, page.Key(mid), key) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

int FindLastLE(const TPage& page, const TKeyFormat& format, const std::uint8_t* key) {
  return FindFirstGreater(page, format, key) - 1;
}

int FindExact(const TPage& page, const TKeyFormat& format, const std::uint8_t* key) {
  int pos = FindFirstGE(page, format, key);
  if (pos <= page.Count() && CompareKeys(format, page.Key(pos), key) == 0) return pos;
  return 0;
}

int FindCounting(const TPage& page, const TKeyFormat& format, const std::uint8_t* key,
                 std::int64_t* countLeft) {
  int pos = std::max(1, FindLastLE(page, format, key));
  if (countLeft != nullptr && page.Format().Counted) {
    for (int i = 1; i < pos; ++i) *countLeft += page.KeyCount(i);
  }
  return pos;
}

// --- Descent -------------------------------------------------------------------------------

TPageRef TIndexTree::Descend(const std::uint8_t* key, std::vector<TPathStep>& path,
                             std::int64_t* countLeft) {
  path.clear();
  std::int32_t pageNo = FStore.RootPage();
  for (int level = 0;; ++level) {
    if (level >= kMaxTreeLevels) TreeCorrupt();
    TPageRef page = Get(pageNo);
    bool rootType = page->Type == kPageRootBranch || page->Type == kPageRootLeaf;
    if (page->Freed || page->Type == kPageParams || rootType != (level == 0)) TreeCorrupt();
    if (page->IsLeaf()) {
      path.push_back({pageNo, 0});
      return page;
    }
    if (page->Count() == 0) TreeCorrupt();
    int pos = FindCounting(*page, FKeys, key, countLeft);
    path.push_back({pageNo, pos});
    pageNo = page->ChildOrRecord(pos);
  }
}

std::int32_t TIndexTree::CountOf(const TPage& page) const {
  if (!FFormat.Counted) return 0;
  std::int64_t total = page.TotalKeys();
  if (total < 0 || total > std::numeric_limits<std::int32_t>::max()) TreeCorrupt();
  return static_cast<std::int32_t>(total);
}

void TIndexTree::SetEntry(TPage& parent, int pos, const TPage& child) {
  parent.SetKey(pos, child.Key(1));
  if (FFormat.Counted) parent.SetKeyCount(pos, CountOf(child));
}

void TIndexTree::AdjustCounts(const std::vector<TPathStep>& path, int delta) {
  if (!FFormat.Counted) return;
  for (std::size_t level = 0; level + 1 < path.size(); ++level) {
    TPageRef page = Get(path[level].PageNo);
    page->SetKeyCount(path[level].Position, page->KeyCount(path[level].Position) + delta);
  }
}

void TIndexTree::UpdateSeparators(const std::vector<TPathStep>& path, int level) {
  for (int l = level; l > 0; --l) {
    TPageRef child = Get(path[l].PageNo);
    TPageRef parent = Get(path[l - 1].PageNo);
    if (child->Count() == 0) return;
    parent->SetKey(path[l - 1].Position, child->Key(1));
    if (path[l - 1].Position != 1) return;
  }
}

// --- Insert --------------------------------------------------------------------------------

bool TIndexTree::Insert(const std::uint8_t* key, std::int32_t recordNo) {
  if (FStore.RootPage() == 0) {
    TPageRef root = New();
    root->Type = kPageRootLeaf;
    root->InsertEntry(1, key, recordNo, 0);
    FStore.SetRootPage(root->PageNo());
    return true;
  }
  std::vector<TPathStep> path;
  TPageRef leaf = Descend(key, path, nullptr);
  int pos = FindFirstGE(*leaf, FKeys, key);
  if (pos <= leaf->Count() && CompareKeys(FKeys, leaf->Key(pos), key) == 0) return false;
  path.back().Position = pos;
  // The leaf stays pinned until it is split: an over-full page must never be written.
  leaf->InsertEntry(pos, key, recordNo, 0);
  AdjustCounts(path, +1);
  int level = static_cast<int>(path.size()) - 1;
  if (pos == 1) UpdateSeparators(path, level);
  SplitIfNeeded(path, level);
  return true;
}

void TIndexTree::BalanceCompressedSplit(TPage& left, TPage& right) {
  const int limit = left.Count() + right.Count();
  for (int moves = 0; left.OverCapacity() || right.OverCapacity(); ++moves) {
    if (moves > limit || (left.OverCapacity() && right.OverCapacity())) TreeCorrupt();
    if (left.OverCapacity()) {
      left.MoveTailToFrontOf(1, right);
    } else {
      right.MoveHeadToEndOf(1, left);
    }
    if (left.Count() == 0 || right.Count() == 0) TreeCorrupt();
  }
}

void TIndexTree::SplitIfNeeded(std::vector<TPathStep>& path, int level) {
  TPageRef page = Get(path[level].PageNo);
  if (!page->OverCapacity()) return;
  const bool wasRoot = page->IsRoot();
  const std::uint8_t type = page->IsLeaf() ? kPageLeaf : kPageBranch;
  TPageRef right = New();
  const int count = page->Count();
  page->Type = type;
  right->Type = type;
  page->MoveTailTo(count - count / 2 + 1, *right);
  if (page->IsCompressedLeaf()) BalanceCompressedSplit(*page, *right);
  right->PrevPage = page->PageNo();
  right->NextPage = page->NextPage;
  if (page->NextPage != 0) {
    TPageRef next = Get(page->NextPage);
    next->PrevPage = right->PageNo();
    next->Changed = true;
  }
  page->NextPage = right->PageNo();
  if (wasRoot) {
    TPageRef root = New();
    root->Type = kPageRootBranch;
    root->InsertEntry(1, page->Key(1), page->PageNo(), CountOf(*page));
    root->InsertEntry(2, right->Key(1), right->PageNo(), CountOf(*right));
    FStore.SetRootPage(root->PageNo());
    return;
  }
  TPageRef parent = Get(path[level - 1].PageNo);
  const int ppos = path[level - 1].Position;
  if (FFormat.Counted) parent->SetKeyCount(ppos, CountOf(*page));
  parent->InsertEntry(ppos + 1, right->Key(1), right->PageNo(), CountOf(*right));
  SplitIfNeeded(path, level - 1);  // the parent stays pinned until it fits
}

// --- Delete --------------------------------------------------------------------------------

bool TIndexTree::Delete(const std::uint8_t* key) {
  if (FStore.RootPage() == 0) return false;
  std::vector<TPathStep> path;
  TPageRef leaf = Descend(key, path, nullptr);
  int pos = FindExact(*leaf, FKeys, key);
  if (pos == 0) return false;
  path.back().Position = pos;
  leaf->RemoveEntry(pos);
  leaf.Reset();
  AdjustCounts(path, -1);
  FixAfterRemove(path, static_cast<int>(path.size()) - 1);
  return true;
}

void TIndexTree::FixAfterRemove(std::vector<TPathStep>& path, int level) {
  TPageRef page = Get(path[level].PageNo);
  if (page->Count() == 0) {
    page.Reset();
    RemoveEmptyPage(path, level);
    return;
  }
  if (level == 0) {
    bool collapse = !page->IsLeaf() && page->Count() == 1;
    page.Reset();
    if (collapse) CollapseRoot();
    return;
  }
  if (path[level].Position == 1) UpdateSeparators(path, level);
  bool rebalance = !page->IsCompressedLeaf() && page->Underfull();
  page.Reset();
  if (rebalance) Rebalance(path, level);
}

void TIndexTree::Unlink(TPage& page) {
  if (page.PrevPage != 0) {
    TPageRef previous = Get(page.PrevPage);
    previous->NextPage = page.NextPage;
    previous->Changed = true;
  }
  if (page.NextPage != 0) {
    TPageRef next = Get(page.NextPage);
    next->PrevPage = page.PrevPage;
    next->Changed = true;
  }
}

void TIndexTree::RemoveEmptyPage(std::vector<TPathStep>& path, int level) {
  TPageRef page = Get(path[level].PageNo);
  if (level == 0) {
    FStore.FreePage(page.Get());
    FStore.SetRootPage(0);
    return;
  }
  Unlink(*page);
  FStore.FreePage(page.Get());
  page.Reset();
  TPageRef parent = Get(path[level - 1].PageNo);
  parent->RemoveEntry(path[level - 1].Position);
  parent.Reset();
  FixAfterRemove(path, level - 1);
}

void TIndexTree::Rebalance(std::vector<TPathStep>& path, int level) {
  TPageRef parent = Get(path[level - 1].PageNo);
  const int ppos = path[level - 1].Position;
  if (parent->Count() < 2) return;
  TPageRef page = Get(path[level].PageNo);
  const bool withPrevious = ppos > 1;
  const int spos = withPrevious ? ppos - 1 : ppos + 1;
  const std::int32_t siblingNo = parent->ChildOrRecord(spos);
  const std::int32_t link = withPrevious ? page->PrevPage : page->NextPage;
  if (link == 0 || link != siblingNo) TreeCorrupt();
  TPageRef sibling = Get(siblingNo);
  if (sibling->IsLeaf() != page->IsLeaf() || sibling->IsRoot()) TreeCorrupt();
  const int total = page->Count() + sibling->Count();
  if (total < page->Capacity()) {
    if (withPrevious) {
      page->MoveTailTo(1, *sibling);
    } else {
      page->MoveTailToFrontOf(page->Count(), *sibling);
    }
    Unlink(*page);
    SetEntry(*parent, spos, *sibling);
    FStore.FreePage(page.Get());
    page.Reset();
    sibling.Reset();
    parent->RemoveEntry(ppos);
    parent.Reset();
    FixAfterRemove(path, level - 1);
    return;
  }
  TPage& left = withPrevious ? *sibling : *page;
  TPage& right = withPrevious ? *page : *sibling;
  const int leftTarget = withPrevious ? total - total / 2 : total / 2;
  if (left.Count() > leftTarget) {
    left.MoveTailToFrontOf(left.Count() - leftTarget, right);
  } else if (left.Count() < leftTarget) {
    right.MoveHeadToEndOf(leftTarget - left.Count(), left);
  }
  const int leftPos = withPrevious ? spos : ppos;
  SetEntry(*parent, leftPos, left);
  SetEntry(*parent, leftPos + 1, right);
}

void TIndexTree::CollapseRoot() {
  for (int level = 0; level < kMaxTreeLevels; ++level) {
    TPageRef root = Get(FStore.RootPage());
    if (root->IsLeaf() || root->Count() != 1) return;
    std::int32_t childNo = root->ChildOrRecord(1);
    FStore.FreePage(root.Get());
    root.Reset();
    TPageRef child = Get(childNo);
    child->Type = child->IsLeaf() ? kPageRootLeaf : kPageRootBranch;
    child->PrevPage = 0;
    child->NextPage = 0;
    child->Changed = true;
    FStore.SetRootPage(childNo);
  }
  TreeCorrupt();
}

// --- Positions -----------------------------------------------------------------------------

TTreePosition TIndexTree::SeekFirstGE(const std::uint8_t* key) {
  TTreePosition position;
  if (FStore.RootPage() == 0) {
    position.Ordinal = 1;
    return position;
  }
  std::int64_t countLeft = 0;
  TPageRef leaf = Descend(key, position.Path, &countLeft);
  int pos = FindFirstGE(*leaf, FKeys, key);
  position.Path.back().Position = pos;
  position.Found = pos <= leaf->Count() && CompareKeys(FKeys, leaf->Key(pos), key) == 0;
  position.Ordinal = FFormat.Counted ? countLeft + pos : 0;
  return position;
}

std::int64_t TIndexTree::CountBelow(const std::uint8_t* key) {
  return SeekFirstGE(key).Ordinal - 1;
}

std::int32_t TIndexTree::FindRecord(const std::uint8_t* key) {
  if (FStore.RootPage() == 0) return 0;
  std::vector<TPathStep> path;
  TPageRef leaf = Descend(key, path, nullptr);
  int pos = FindExact(*leaf, FKeys, key);
  return pos == 0 ? 0 : leaf->ChildOrRecord(pos);
}

std::int64_t TIndexTree::KeyCount() {
  if (FStore.RootPage() == 0) return 0;
  if (FFormat.Counted) {
    TPageRef root = Get(FStore.RootPage());
    return root->TotalKeys();
  }
  std::int64_t count = 0;
  ForEachKey([&count](const std::uint8_t*, std::int32_t) { ++count; });
  return count;
}

bool TIndexTree::KeyAtOrdinal(std::int64_t ordinal, std::span<std::uint8_t> key,
                              std::int32_t& recordNo) {
  if (!FFormat.Counted || FStore.RootPage() == 0 || ordinal < 1) return false;
  std::int32_t pageNo = FStore.RootPage();
  for (int level = 0; level < kMaxTreeLevels; ++level) {
    TPageRef page = Get(pageNo);
    if (page->IsLeaf()) {
      if (ordinal > page->Count()) return false;
      std::copy_n(page->Key(static_cast<int>(ordinal)), FFormat.KeyLength, key.begin());
      recordNo = page->ChildOrRecord(static_cast<int>(ordinal));
      return true;
    }
    int pos = 1;
    while (pos <= page->Count() && ordinal > page->KeyCount(pos)) {
      ordinal -= page->KeyCount(pos);
      ++pos;
    }
    if (pos > page->Count()) return false;
    pageNo = page->ChildOrRecord(pos);
  }
  TreeCorrupt();
}

// --- Memory store --------------------------------------------------------------------------

TPage* TMemoryPageStore::GetPage(std::int32_t pageNo) {
  auto it = FPages.find(pageNo);
  if (pageNo < 1 || pageNo >= FNextPageNo || it == FPages.end()) TreeCorrupt();
  TPage* page = it->second.Page.get();
  if (FImages && !page->Pinned()) {
    page->Reset(pageNo, FSlot, FFormat);
    page->Decode(it->second.Image);
    page->Changed = false;
  }
  ++page->PinCount;
  return page;
}

void TMemoryPageStore::ReleasePage(TPage* page) {
  if (page->PinCount > 0) --page->PinCount;
  if (FImages && page->PinCount == 0 && page->Changed) {
    page->Encode(FPages.at(page->PageNo()).Image);
    page->Changed = false;
  }
}

TPage* TMemoryPageStore::NewPage() {
  std::int32_t pageNo = FFreeHead;
  if (pageNo != 0) {
    TPage* page = GetPage(pageNo);
    FFreeHead = page->NextPage;
    page->Reset(pageNo, FSlot, FFormat);
    page->Changed = true;
    return page;
  }
  if (FNextPageNo >= kMaxIndexPages) RaiseEngineError(codes::kTableFull);
  pageNo = FNextPageNo++;
  auto& slot = FPages[pageNo];
  slot.Page = std::make_unique<TPage>();
  slot.Page->Reset(pageNo, FSlot, FFormat);
  slot.Page->Changed = true;
  ++slot.Page->PinCount;
  return slot.Page.get();
}

void TMemoryPageStore::FreePage(TPage* page) {
  std::int32_t pageNo = page->PageNo();
  page->Reset(pageNo, FSlot, FFormat);
  page->Freed = true;
  page->NextPage = FFreeHead;
  page->Changed = true;
  FFreeHead = pageNo;
}

int TMemoryPageStore::PinnedPages() const {
  int pinned = 0;
  for (const auto& [number, slot] : FPages) pinned += slot.Page->Pinned() ? 1 : 0;
  return pinned;
}

}  // namespace kura
