// The B+-tree algorithms of one index: per-page binary searches, descent from the root,
// insert with page splits, delete with merge or redistribution, root growth and collapse, and
// the positions and counts that the subtree counts of branch entries make cheap.
//
// Branch entries hold their child's first key, its page number and (in counted indexes) the
// number of keys below it. Every level is a doubly linked chain of pages in key order.
//
// Invariants the algorithms keep (and CheckIndexTree verifies):
//   1. The root has type root branch or root leaf; every other page branch or leaf, and all
//      leaves lie on the deepest level; the tree has at most 64 levels.
//   2. Keys ascend strictly within a page and from each page to the next on its level.
//   3. A branch entry's key equals its child's first key and its count the keys below it.
//   4. The pages of a level form one chain, prev and next links agreeing, 0 at both ends.
//   5. No page holds more than its capacity; every page of the tree is reachable once.
//   6. The free chain holds pages outside the tree, each once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "storage/index_key.h"
#include "storage/index_page.h"

namespace kura {

// A tree deeper than this is corrupt (8965).
inline constexpr int kMaxTreeLevels = 64;

// The pages of one index as the tree algorithms reach them.
class TIndexPageStore {
 public:
  virtual ~TIndexPageStore() = default;
  // The page, pinned. Raises 8965 for a number outside 1 .. NextPageNo - 1.
  virtual TPage* GetPage(std::int32_t pageNo) = 0;
  // Unpins a page got from GetPage or NewPage.
  virtual void ReleasePage(TPage* page) = 0;
  // A new empty page, pinned: the head of the index's free chain, else a page at the end of
  // the file. Raises 9479 when the file would grow past its limits.
  virtual TPage* NewPage() = 0;
  // Makes the page the head of the index's free chain (the caller still releases it).
  virtual void FreePage(TPage* page) = 0;
  virtual std::int32_t RootPage() const = 0;
  virtual void SetRootPage(std::int32_t pageNo) = 0;
  virtual std::int32_t FreePageHead() const = 0;
  virtual std::int32_t NextPageNo() const = 0;
};

// A pinned page, released when the reference goes.
class TPageRef {
 public:
  TPageRef() = default;
  TPageRef(TIndexPageStore& store, TPage* page) : FStore(&store), FPage(page) {}
  TPageRef(TPageRef&& other) noexcept : FStore(other.FStore), FPage(other.FPage) {
    other.FPage = nullptr;
  }
  TPageRef& operator=(TPageRef&& other) noexcept {
    if (this != &other) {
      Reset();
      FStore = other.FStore;
      FPage = other.FPage;
      other.FPage = nullptr;
    }
    return *this;
  }
  ~TPageRef() { Reset(); }
  TPage* operator->() const { return FPage; }
  TPage& operator*() const { return *FPage; }
  TPage* Get() const { return FPage; }
  explicit operator bool() const { return FPage != nullptr; }
  void Reset() {
    if (FPage != nullptr) FStore->ReleasePage(FPage);
    FPage = nullptr;
  }

 private:
  TIndexPageStore* FStore = nullptr;
  TPage* FPage = nullptr;
};

// --- Searches of one page (positions 1 .. Count) --------------------------------------------

// The first entry whose key is >= key; Count + 1 when there is none.
int FindFirstGE(const TPage& page, const TKeyFormat& format, const std::uint8_t* key);
// The first entry whose key is > key; Count + 1 when there is none.
int FindFirstGreater(const TPage& page, const TKeyFormat& format, const std::uint8_t* key);
// The last entry whose key is <= key; 0 when there is none.
int FindLastLE(const TPage& page, const TKeyFormat& format, const std::uint8_t* key);
// The entry whose key equals key; 0 when there is none.
int FindExact(const TPage& page, const TKeyFormat& format, const std::uint8_t* key);
// The branch entry to descend into for key (the last <= key, else the first), adding the
// subtree counts of the entries before it to *countLeft; a descent that needs no ordinal
// passes nullptr and spares the sum (a walk of half the page on average).
int FindCounting(const TPage& page, const TKeyFormat& format, const std::uint8_t* key,
                 std::int64_t* countLeft);

// One level of a path from the root: the page and the entry position on it.
struct TPathStep {
  std::int32_t PageNo = 0;
  int Position = 0;
};

// A leaf position found by a search.
struct TTreePosition {
  std::vector<TPathStep> Path;  // root first, the leaf last
  // 1-based ordinal of the entry at the leaf position among all keys (Count + 1 past the
  // last key); 0 in an uncounted index.
  std::int64_t Ordinal = 0;
  bool Found = false;  // the exact key is there
};

class TIndexTree {
 public:
  TIndexTree(TIndexPageStore& store, const TKeyFormat& keyFormat, const TPageFormat& pageFormat)
      : FStore(store), FKeys(keyFormat), FFormat(pageFormat) {}

  // Inserts a key with its record number. Answers false, changing nothing, when the key is
  // already there. Raises 8965 on a damaged tree and 9479 when the file is full.
  bool Insert(const std::uint8_t* key, std::int32_t recordNo);
  // Deletes the key; false when it is not there.
  bool Delete(const std::uint8_t* key);

  // The leaf position of the first key >= key (with the path and the ordinal).
  TTreePosition SeekFirstGE(const std::uint8_t* key);
  // The number of keys < key (counted indexes).
  std::int64_t CountBelow(const std::uint8_t* key);
  // The record number of the key, or 0 when it is not there.
  std::int32_t FindRecord(const std::uint8_t* key);
  // The key and record number at a 1-based ordinal; false past the ends.
  bool KeyAtOrdinal(std::int64_t ordinal, std::span<std::uint8_t> key, std::int32_t& recordNo);
  // Keys in the index (the root's total; walks the root page only in a counted index).
  std::int64_t KeyCount();
  // Visits every key in order along the leaf chain: visit(key, recordNo).
  template <typename TVisit>
  void ForEachKey(TVisit visit);

 private:
  TPageRef Get(std::int32_t pageNo) { return TPageRef(FStore, FStore.GetPage(pageNo)); }
  TPageRef New() { return TPageRef(FStore, FStore.NewPage()); }
  // Descends to the leaf for key, checking each page's type; fills path (with branch
  // positions) and answers the leaf.
  TPageRef Descend(const std::uint8_t* key, std::vector<TPathStep>& path, std::int64_t* countLeft);
  void AdjustCounts(const std::vector<TPathStep>& path, int delta);
  void UpdateSeparators(const std::vector<TPathStep>& path, int level);
  void SplitIfNeeded(std::vector<TPathStep>& path, int level);
  void BalanceCompressedSplit(TPage& left, TPage& right);
  void FixAfterRemove(std::vector<TPathStep>& path, int level);
  void RemoveEmptyPage(std::vector<TPathStep>& path, int level);
  void Rebalance(std::vector<TPathStep>& path, int level);
  void CollapseRoot();
  void Unlink(TPage& page);
  std::int32_t CountOf(const TPage& page) const;
  void SetEntry(TPage& parent, int pos, const TPage& child);

  TIndexPageStore& FStore;
  const TKeyFormat& FKeys;
  TPageFormat FFormat;
};

template <typename TVisit>
void TIndexTree::ForEachKey(TVisit visit) {
  std::int32_t pageNo = FStore.RootPage();
  for (int level = 0; pageNo != 0; ++level) {
    if (level > kMaxTreeLevels) RaiseEngineError(codes::kIndexPagesCorrupt);
    TPageRef page = Get(pageNo);
    if (page->IsLeaf()) break;
    if (page->Count() == 0) RaiseEngineError(codes::kIndexPagesCorrupt);
    pageNo = page->ChildOrRecord(1);
  }
  std::set<std::int32_t> visited;  // a leaf chain that loops is corrupt
  while (pageNo != 0) {
    if (!visited.insert(pageNo).second) RaiseEngineError(codes::kIndexPagesCorrupt);
    TPageRef page = Get(pageNo);
    for (int pos = 1; pos <= page->Count(); ++pos) visit(page->Key(pos), page->ChildOrRecord(pos));
    pageNo = page->NextPage;
  }
}

// Pages kept in memory: the store of temporary indexes and of tests. With images set, every
// page is kept as its 4096-byte disk image and decoded on each GetPage, so the encodings are
// exercised as a file would.
class TMemoryPageStore : public TIndexPageStore {
 public:
  TMemoryPageStore(int slot, const TPageFormat& format, bool images = false)
      : FSlot(slot), FFormat(format), FImages(images) {}

  TPage* GetPage(std::int32_t pageNo) override;
  void ReleasePage(TPage* page) override;
  TPage* NewPage() override;
  void FreePage(TPage* page) override;
  std::int32_t RootPage() const override { return FRoot; }
  void SetRootPage(std::int32_t pageNo) override { FRoot = pageNo; }
  std::int32_t FreePageHead() const override { return FFreeHead; }
  std::int32_t NextPageNo() const override { return FNextPageNo; }
  // Pages pinned right now (0 between operations).
  int PinnedPages() const;

 private:
  struct TSlotPage {
    std::unique_ptr<TPage> Page;
    TPageImage Image{};
  };
  int FSlot;
  TPageFormat FFormat;
  bool FImages;
  std::map<std::int32_t, TSlotPage> FPages;
  std::int32_t FRoot = 0;
  std::int32_t FFreeHead = 0;
  std::int32_t FNextPageNo = 1;
};

}  // namespace kura
