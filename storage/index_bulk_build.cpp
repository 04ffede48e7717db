#include "storage/index_bulk_build.h"

#include <algorithm>
#include <numeric>

#include "storage/key_order.h"

namespace kura {
namespace {

// One entry of the level being built: for leaves a key and its record, for branches a
// child's first key, its page and the keys below it.
struct TLevelEntry {
  const std::uint8_t* Key;
  std::int32_t Number;
  std::int32_t Count;
};

class TLevelBuilder {
 public:
  TLevelBuilder(TIndexPageStore& store, const TPageFormat& format)
      : FStore(store), FFormat(format) {}

  // Fills pages of the level with the entries in order and answers the entries of the
  // level above: one per page made.
  std::vector<TLevelEntry> Build(const std::vector<TLevelEntry>& entries, bool leaf) {
    std::vector<TLevelEntry> above;
    TPageRef previous;
    TPageRef page;
    const std::uint8_t* firstKey = nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const TLevelEntry& entry = entries[i];
      if (!page) {
        page = TPageRef(FStore, FStore.NewPage());
        page->Type = leaf ? kPageLeaf : kPageBranch;
        page->Changed = true;
        firstKey = entry.Key;
        if (previous) {
          page->PrevPage = previous->PageNo();
          previous->NextPage = page->PageNo();
          previous->Changed = true;
        }
      }
      page->InsertEntry(page->Count() + 1, entry.Key, entry.Number, leaf ? 0 : entry.Count);
      if (!page->OverCapacity()) continue;
      // Full: the entry opens the next page instead (a page over capacity is never kept).
      page->RemoveEntry(page->Count());
      above.push_back({firstKey, page->PageNo(), CountOf(*page)});
      previous = std::move(page);
      --i;
    }
    if (page) {
      above.push_back({firstKey, page->PageNo(), CountOf(*page)});
      if (above.size() == 1) {
        page->Type = leaf ? kPageRootLeaf : kPageRootBranch;
        FStore.SetRootPage(page->PageNo());
      }
    }
    return above;
  }

 private:
  std::int32_t CountOf(const TPage& page) const {
    return FFormat.Counted ? static_cast<std::int32_t>(page.TotalKeys()) : 0;
  }

  TIndexPageStore& FStore;
  const TPageFormat& FFormat;
};

}  // namespace

bool BuildTreeFromKeys(TIndexPageStore& store, const TKeyFormat& keys, const TPageFormat& format,
                       const TKeyBatch& batch) {
  std::vector<std::uint32_t> order(batch.Size());
  std::iota(order.begin(), order.end(), 0u);
  SortKeyIndexes(order, keys, [&](std::uint32_t i) { return batch.Key(i); });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (CompareKeys(keys, batch.Key(order[i - 1]), batch.Key(order[i])) == 0) return false;
  }
  std::vector<TLevelEntry> level;
  level.reserve(order.size());
  for (const std::uint32_t i : order) level.push_back({batch.Key(i), batch.Records[i], 0});
  TLevelBuilder builder(store, format);
  bool leaf = true;
  // Each level has fewer entries than the one below (a page holds at least two), so this
  // ends; a single page is the root.
  while (level.size() > 1 || leaf) {
    if (level.empty()) break;
    level = builder.Build(level, leaf);
    leaf = false;
  }
  return true;
}

}  // namespace kura
