#include "storage/index_bulk_build.h"

#include <algorithm>
#include <numeric>

#include "storage/key_order.h"

namespace kura {

// One level of the tree being built: its open page (the rightmost so far), that page's first
// key (the separator its parent entry gets) and how many pages the level has had.
struct TTreeAppender::TLevel {
  TPageRef Page;
  std::vector<std::uint8_t> FirstKey;
  std::int32_t PreviousPageNo = 0;
  int Pages = 0;
};

TTreeAppender::TTreeAppender(TIndexPageStore& store, const TPageFormat& format)
    : FStore(store), FFormat(format) {}

TTreeAppender::~TTreeAppender() = default;

void TTreeAppender::Add(const std::uint8_t* key, std::int32_t recordNo) {
  AddTo(0, key, recordNo, 0);
}

void TTreeAppender::AddTo(std::size_t level, const std::uint8_t* key, std::int32_t number,
                          std::int32_t count) {
  if (FLevels.size() == level) FLevels.push_back(std::make_unique<TLevel>());
  TLevel& open = *FLevels[level];
  if (!open.Page) OpenPage(level, key);
  open.Page->InsertEntry(open.Page->Count() + 1, key, number, level == 0 ? 0 : count);
  if (!open.Page->OverCapacity()) return;
  // Full: the entry opens the next page instead (a page over capacity is never kept).
  open.Page->RemoveEntry(open.Page->Count());
  ClosePage(level);
  OpenPage(level, key);
  open.Page->InsertEntry(1, key, number, level == 0 ? 0 : count);
}

void TTreeAppender::OpenPage(std::size_t level, const std::uint8_t* firstKey) {
  TLevel& open = *FLevels[level];
  open.Page = TPageRef(FStore, FStore.NewPage());
  open.Page->Type = level == 0 ? kPageLeaf : kPageBranch;
  open.Page->Changed = true;
  open.FirstKey.assign(firstKey, firstKey + FFormat.KeyLength);
  ++open.Pages;
  if (open.PreviousPageNo == 0) return;
  open.Page->PrevPage = open.PreviousPageNo;
  TPageRef previous(FStore, FStore.GetPage(open.PreviousPageNo));
  previous->NextPage = open.Page->PageNo();
  previous->Changed = true;
}

// The open page is done: its entry goes to the level above.
void TTreeAppender::ClosePage(std::size_t level) {
  TLevel& open = *FLevels[level];
  const std::int32_t pageNo = open.Page->PageNo();
  const auto count = FFormat.Counted ? static_cast<std::int32_t>(open.Page->TotalKeys()) : 0;
  const std::vector<std::uint8_t> firstKey = std::move(open.FirstKey);
  open.PreviousPageNo = pageNo;
  open.Page.Reset();
  AddTo(level + 1, firstKey.data(), pageNo, count);
}

void TTreeAppender::Finish() {
  for (std::size_t level = 0; level < FLevels.size(); ++level) {
    TLevel& open = *FLevels[level];
    if (!open.Page) continue;
    // The only page of the highest level is the root.
    if (level + 1 == FLevels.size() && open.Pages == 1) {
      open.Page->Type = level == 0 ? kPageRootLeaf : kPageRootBranch;
      FStore.SetRootPage(open.Page->PageNo());
      open.Page.Reset();
      break;
    }
    ClosePage(level);
  }
  FLevels.clear();
}

bool BuildTreeFromKeys(TIndexPageStore& store, const TKeyFormat& keys, const TPageFormat& format,
                       const TKeyBatch& batch) {
  std::vector<std::uint32_t> order(batch.Size());
  std::iota(order.begin(), order.end(), 0u);
  SortKeyIndexes(order, keys, [&](std::uint32_t i) { return batch.Key(i); });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (CompareKeys(keys, batch.Key(order[i - 1]), batch.Key(order[i])) == 0) return false;
  }
  TTreeAppender appender(store, format);
  for (const std::uint32_t i : order) appender.Add(batch.Key(i), batch.Records[i]);
  appender.Finish();
  return true;
}

}  // namespace kura
