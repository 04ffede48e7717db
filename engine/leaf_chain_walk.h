// Walking an index's leaf chain: the scans of key ranges into record bitmaps (ranges,
// filters, "Sys Deleted") follow the leaves' next and previous links from a sought entry.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/index_tree.h"

namespace kura {

// Walks the leaf chain from entry `pos` of leaf `pageNo` in one direction (1 forward, -1
// backward), calling visit(key, recordNo) until it answers false or the chain ends. A chain
// longer than the file has pages, or a page on it that is no leaf, is damage.
template <typename TVisit>
void WalkLeafChain(TIndexPageStore& store, std::int32_t pageNo, int pos, int direction,
                   std::string_view tableName, TVisit visit) {
  for (std::int64_t pages = 0; pageNo != 0; ++pages) {
    if (pages > store.NextPageNo()) RaiseTableError(codes::kIndexPagesCorrupt, tableName);
    TPageRef page(store, store.GetPage(pageNo));
    if (!page->IsLeaf()) RaiseTableError(codes::kIndexPagesCorrupt, tableName);
    if (pos < 0) pos = page->Count();
    for (; pos >= 1 && pos <= page->Count(); pos += direction) {
      if (!visit(page->Key(pos), page->ChildOrRecord(pos))) return;
    }
    pageNo = direction > 0 ? page->NextPage : page->PrevPage;
    pos = direction > 0 ? 1 : -1;  // -1: the last entry of the page reached
  }
}

}  // namespace kura
