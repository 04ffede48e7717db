// The record bitmaps of a cursor: Live (not deleted, from "Sys Deleted"), InRange (the
// records whose key in the active index lies inside the range) and Visible (what the cursor
// visits). They are kept only while the cursor is Filtered, that is in record-number order
// and, in index order, while a filter is active; they are rebuilt on opening, on an index,
// range or filter change and whenever change detection re-synchronises the cursor.
//
//   Live    = all ones when the live record count is the highest record number, otherwise
//             the complement of the "Sys Deleted" keys whose deleted flag is 1
//   InRange = empty without a range; with one, the range's entries of the active index (a
//             range holding more than half of the live records is built the cheaper way
//             round: the entries below and above it, inverted — which also sets the bits of
//             deleted records; Live takes them out of Visible)
//   Visible = InRange (when there is a range) and Live and every active filter
//             (data_cursor_filters.cpp builds the filters' bitmaps from that base)
#include <algorithm>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_page_store.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/index_navigator.h"
#include "engine/leaf_chain_walk.h"
#include "storage/index_tree.h"

namespace kura {

void TDataCursor::RebuildBitmaps() {
  const bool withRange = !FRecordOrder && RangeActive();
  // InRange is scanned from the range bounds: count them afresh first.
  if (FFiltered && withRange) FIndexNav->Recount();
  BuildBitmaps(withRange);
}

void TDataCursor::BuildBitmaps(bool withRange) {
  if (!FFiltered) {
    DropBitmaps();
    return;
  }
  const auto highest = static_cast<std::uint32_t>(std::max(0, FTable->Data().RecordCount()));
  const std::int32_t liveCount = FTable->Index().LiveRecordCount();
  TRecordsBitmap live;
  TRecordsBitmap inRange;
  live.SetSize(highest);
  inRange.SetSize(highest);
  if (liveCount > 0) {
    if (liveCount == static_cast<std::int32_t>(highest)) {
      live.SetAll();
    } else {
      ScanDeletedRecords(live);
      live.Invert();
    }
    if (withRange) ScanRange(inRange);
  }
  TRecordsBitmap visible;
  visible.SetSize(highest);
  visible.Assign(live);
  if (withRange) visible.AndWith(inRange);
  std::vector<TRecordsBitmap> filters;
  if (highest > 0) filters = BuildFilterBitmaps(visible);
  for (std::size_t i = 0; i < filters.size(); ++i) {
    if (FFilters[i]->FActive) visible.AndWith(filters[i]);
  }
  // Everything was built: the cursor takes it.
  FLive = std::move(live);
  FInRange = std::move(inRange);
  for (std::size_t i = 0; i < FFilters.size(); ++i) {
    if (i < filters.size() && FFilters[i]->FActive) {
      FFilters[i]->FBitmap = std::move(filters[i]);
    } else {
      FFilters[i]->FBitmap.SetSize(0);  // meaningful only while active
    }
  }
  FVisible = std::move(visible);
  FVisibleCount = FVisible.Count();
}

void TDataCursor::DropBitmaps() {
  FVisible.SetSize(0);
  FInRange.SetSize(0);
  FLive.SetSize(0);
  FVisibleCount = 0;
}

// Sets the bit of every record "Sys Deleted" lists as deleted (keys starting with 1).
void TDataCursor::ScanDeletedRecords(TRecordsBitmap& deleted) {
  TIndexPageStore& store = *FDeletedStore;
  if (store.RootPage() == 0) return;
  TIndexFile& index = FTable->Index();
  const TKeyFormat& keys = index.KeyFormat(kSysDeletedSlot);
  TIndexTree tree(store, keys, index.PageFormat(kSysDeletedSlot));
  std::vector<std::uint8_t> lowest(static_cast<std::size_t>(keys.KeyLength), 0);
  lowest[0] = 1;
  const TTreePosition at = tree.SeekFirstGE(lowest.data());
  if (at.Path.empty()) return;
  WalkLeafChain(store, at.Path.back().PageNo, at.Path.back().Position, 1, FTableName,
                [&](const std::uint8_t* key, std::int32_t recordNo) {
                  if (key[0] != 1) return false;
                  SetBitIfInside(deleted, recordNo);
                  return true;
                });
}

// The records whose key in the active index lies within RangeStart..RangeEnd. The range
// bounds must be current (the navigator's Recount).
void TDataCursor::ScanRange(TRecordsBitmap& inRange) {
  const std::int64_t first = FIndexNav->RangeFirst();
  const std::int64_t last = FIndexNav->RangeLast();
  if (first <= 0 || last < first) return;  // an empty range
  TIndexPageStore& store = *FStore;
  if (store.RootPage() == 0) return;
  const TKeyFormat& keys = *FKeys;
  const std::vector<std::uint8_t>& start = FIndexNav->RangeStart();
  const std::vector<std::uint8_t>& end = FIndexNav->RangeEnd();
  TIndexTree tree(store, keys, FTable->Index().PageFormat(FIndexNo));
  const TTreePosition low = tree.SeekFirstGE(start.data());
  if (low.Path.empty()) return;
  const auto mark = [&](const std::uint8_t*, std::int32_t recordNo) {
    SetBitIfInside(inRange, recordNo);
    return true;
  };
  const bool complement = (last - first + 1) * 2 > FTable->Index().LiveRecordCount();
  if (!complement) {
    WalkLeafChain(store, low.Path.back().PageNo, low.Path.back().Position, 1, FTableName,
                  [&](const std::uint8_t* key, std::int32_t recordNo) {
                    return CompareKeys(keys, key, end.data()) <= 0 && mark(key, recordNo);
                  });
    return;
  }
  // Everything before the first entry of the range, everything after its last one.
  WalkLeafChain(store, low.Path.back().PageNo, low.Path.back().Position - 1, -1, FTableName, mark);
  const TTreePosition high = tree.SeekFirstGE(end.data());
  if (!high.Path.empty()) {
    WalkLeafChain(store, high.Path.back().PageNo, high.Path.back().Position, 1, FTableName,
                  [&](const std::uint8_t* key, std::int32_t recordNo) {
                    return CompareKeys(keys, key, end.data()) <= 0 || mark(key, recordNo);
                  });
  }
  inRange.Invert();
}

}  // namespace kura
