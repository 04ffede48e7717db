// Walking an index's leaf chain: the scans of key ranges into record bitmaps (ranges,
// filters, "Sys Deleted") follow the leaves' next and previous links from a sought entry.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/index_tree.h"

namespace kura {

// Walks the leaf chain a page at a time from entry `pos` of leaf `pageNo` in one direction (1
// forward, -1 backward): visitPage(page, from) takes the page's entries from `from` on (1 or
// the last entry after the first page) and answers whether to go on. A chain longer than the
// file has pages, or a page on it that is no leaf, is damage.
template <typename TVisitPage>
void WalkLeafPages(TIndexPageStore& store, std::int32_t pageNo, int pos, int direction,
                   std::string_view tableName, TVisitPage visitPage) {
  for (std::int64_t pages = 0; pageNo != 0; ++pages) {
    if (pages > store.NextPageNo()) RaiseTableError(codes::kIndexPagesCorrupt, tableName);
    TPageRef page(store, store.GetPage(pageNo));
    if (!page->IsLeaf()) RaiseTableError(codes::kIndexPagesCorrupt, tableName);
    if (pos < 0) pos = page->Count();
    if (!visitPage(*page, pos)) return;
    pageNo = direction > 0 ? page->NextPage : page->PrevPage;
    pos = direction > 0 ? 1 : -1;  // -1: the last entry of the page reached
  }
}

// Walks the leaf chain from entry `pos` of leaf `pageNo` in one direction (1 forward, -1
// backward), calling visit(key, recordNo) until it answers false or the chain ends. A chain
// longer than the file has pages, or a page on it that is no leaf, is damage.
template <typename TVisit>
void WalkLeafChain(TIndexPageStore& store, std::int32_t pageNo, int pos, int direction,
                   std::string_view tableName, TVisit visit) {
  WalkLeafPages(store, pageNo, pos, direction, tableName, [&](const TPage& page, int from) {
    for (int at = from; at >= 1 && at <= page.Count(); at += direction) {
      if (!visit(page.Key(at), page.ChildOrRecord(at))) return false;
    }
    return true;
  });
}

}  // namespace kura
