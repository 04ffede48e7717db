#include "storage/index_tree_check.h"

#include <map>
#include <set>
#include <sstream>

#include "base/engine_error.h"

namespace kura {
namespace {

constexpr std::size_t kMaxProblems = 100;

// What a page's parent says about it.
struct TParentEntry {
  std::vector<std::uint8_t> Key;
  std::int32_t Count = 0;
};

class TTreeChecker {
 public:
  TTreeChecker(TIndexPageStore& store, const TKeyFormat& keys, const TPageFormat& format)
      : FStore(store), FKeys(keys), FFormat(format) {}

  TTreeCheckReport Run() {
    if (FStore.RootPage() != 0) WalkLevels();
    CheckCounts();
    WalkFreeChain();
    return std::move(FReport);
  }

 private:
  template <typename... TParts>
  void Problem(const TParts&... parts) {
    if (FReport.Problems.size() >= kMaxProblems) return;
    std::ostringstream text;
    (text << ... << parts);
    FReport.Problems.push_back(text.str());
  }

  bool Full() const { return FReport.Problems.size() >= kMaxProblems; }

  bool InRange(std::int32_t pageNo) const { return pageNo >= 1 && pageNo < FStore.NextPageNo(); }

  void WalkLevels() {
    std::vector<std::int32_t> level = {FStore.RootPage()};
    for (int depth = 0; !level.empty() && !Full(); ++depth) {
      if (depth >= kMaxTreeLevels) {
        Problem("more than 64 levels");
        return;
      }
      FReport.Levels = depth + 1;
      std::vector<std::int32_t> next;
      bool leaves = WalkLevel(level, depth, next);
      if (leaves && !next.empty()) Problem("pages below the leaf level");
      if (leaves) return;
      level = std::move(next);
    }
  }

  // Checks one level's pages; collects the next level's children. Answers whether the level
  // is the leaf level.
  bool WalkLevel(const std::vector<std::int32_t>& level, int depth,
                 std::vector<std::int32_t>& next) {
    std::vector<std::uint8_t> previousKey;
    bool leafLevel = false;
    for (std::size_t j = 0; j < level.size() && !Full(); ++j) {
      std::int32_t pageNo = level[j];
      if (!InRange(pageNo)) {
        Problem("page ", pageNo, " lies past NextPageNo");
        continue;
      }
      if (!FTreePages.insert(pageNo).second) {
        Problem("page ", pageNo, " is reached twice");
        continue;
      }
      ++FReport.TreePages;
      FReport.PageNumbers.push_back(pageNo);
      TPage* raw = nullptr;
      try {
        raw = FStore.GetPage(pageNo);
      } catch (const EKuraEngineError& e) {
        Problem("page ", pageNo, " is unreadable (", e.ErrorCode, ")");
        continue;
      }
      TPageRef page(FStore, raw);
      if (j == 0) leafLevel = page->IsLeaf();
      CheckPage(*page, depth, leafLevel);
      CheckLinks(*page, j == 0 ? 0 : level[j - 1], j + 1 < level.size() ? level[j + 1] : 0);
      CheckKeys(*page, previousKey);
      if (page->IsLeaf()) {
        FReport.KeyCount += page->Count();
        FActualCount[pageNo] = page->Count();
        continue;
      }
      FChildren[pageNo] = {};
      for (int pos = 1; pos <= page->Count(); ++pos) {
        std::int32_t child = page->ChildOrRecord(pos);
        next.push_back(child);
        FChildren[pageNo].push_back(child);
        const std::uint8_t* key = page->Key(pos);
        FParent[child] = {std::vector<std::uint8_t>(key, key + FFormat.KeyLength),
                          page->KeyCount(pos)};
      }
    }
    return leafLevel;
  }

  void CheckPage(const TPage& page, int depth, bool leafLevel) {
    std::int32_t no = page.PageNo();
    bool rootType = page.Type == kPageRootBranch || page.Type == kPageRootLeaf;
    if (page.Type == kPageParams || page.Freed)
      Problem("page ", no, " in the tree is not an index page");
    if (rootType != (depth == 0))
      Problem("page ", no, " has type ", int{page.Type}, " on level ", depth);
    if (page.IsLeaf() != leafLevel)
      Problem("page ", no, " mixes leaves and branches on level ", depth);
    if (page.Count() == 0) Problem("page ", no, " is empty");
    if (page.OverCapacity()) Problem("page ", no, " holds more than its capacity");
    auto parent = FParent.find(no);
    if (parent != FParent.end() && page.Count() > 0) {
      const auto& key = parent->second.Key;
      if (CompareBytes(key.data(), page.Key(1), key.size()) != 0) {
        Problem("the separator of page ", no, " differs from its first key");
      }
    }
  }

  void CheckLinks(const TPage& page, std::int32_t previous, std::int32_t next) {
    if (page.PrevPage != previous) {
      Problem("page ", page.PageNo(), " links back to ", page.PrevPage, " not ", previous);
    }
    if (page.NextPage != next) {
      Problem("page ", page.PageNo(), " links on to ", page.NextPage, " not ", next);
    }
  }

  void CheckKeys(const TPage& page, std::vector<std::uint8_t>& previousKey) {
    for (int pos = 1; pos <= page.Count(); ++pos) {
      const std::uint8_t* key = page.Key(pos);
      if (!previousKey.empty() && CompareKeys(FKeys, previousKey.data(), key) >= 0) {
        Problem("page ", page.PageNo(), " entry ", pos, " is out of key order");
      }
      previousKey.assign(key, key + FFormat.KeyLength);
    }
  }

  // Sums the leaves below every branch page, deepest first, and compares with the counts.
  std::int64_t Actual(std::int32_t pageNo, int depth) {
    auto known = FActualCount.find(pageNo);
    if (known != FActualCount.end()) return known->second;
    std::int64_t total = 0;
    auto children = FChildren.find(pageNo);
    if (children != FChildren.end() && depth < kMaxTreeLevels) {
      FActualCount[pageNo] = 0;  // a page reached twice counts once
      for (std::int32_t child : children->second) total += Actual(child, depth + 1);
    }
    FActualCount[pageNo] = total;
    return total;
  }

  void CheckCounts() {
    if (!FFormat.Counted || FStore.RootPage() == 0) return;
    for (const auto& [pageNo, children] : FChildren) {
      for (std::int32_t child : children) {
        auto parent = FParent.find(child);
        if (parent == FParent.end()) continue;
        std::int64_t actual = Actual(child, 0);
        if (parent->second.Count != actual) {
          Problem("the count of page ", child, " in page ", pageNo, " is ", parent->second.Count,
                  ", the keys below are ", actual);
        }
      }
    }
  }

  void WalkFreeChain() {
    std::set<std::int32_t> seen;
    for (std::int32_t pageNo = FStore.FreePageHead(); pageNo != 0 && !Full();) {
      if (!InRange(pageNo)) {
        Problem("free page ", pageNo, " lies past NextPageNo");
        return;
      }
      if (!seen.insert(pageNo).second) {
        Problem("the free chain loops at page ", pageNo);
        return;
      }
      if (FTreePages.count(pageNo) != 0) Problem("free page ", pageNo, " is in the tree");
      ++FReport.FreePages;
      FReport.PageNumbers.push_back(pageNo);
      try {
        TPageRef page(FStore, FStore.GetPage(pageNo));
        if (page->Count() != 0) Problem("free page ", pageNo, " holds entries");
        pageNo = page->NextPage;
      } catch (const EKuraEngineError& e) {
        Problem("free page ", pageNo, " is unreadable (", e.ErrorCode, ")");
        return;
      }
    }
  }

  TIndexPageStore& FStore;
  const TKeyFormat& FKeys;
  TPageFormat FFormat;
  TTreeCheckReport FReport;
  std::set<std::int32_t> FTreePages;
  std::map<std::int32_t, TParentEntry> FParent;
  std::map<std::int32_t, std::vector<std::int32_t>> FChildren;
  std::map<std::int32_t, std::int64_t> FActualCount;
};

}  // namespace

std::string TTreeCheckReport::Text() const {
  std::string text;
  for (const std::string& problem : Problems) text += problem + "\n";
  return text;
}

TTreeCheckReport CheckIndexTree(TIndexPageStore& store, const TKeyFormat& keyFormat,
                                const TPageFormat& pageFormat) {
  return TTreeChecker(store, keyFormat, pageFormat).Run();
}

}  // namespace kura
