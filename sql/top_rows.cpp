#include "sql/top_rows.h"

#include <algorithm>
#include <utility>

namespace kura {

TTopRows::TTopRows(std::vector<TSortField> fields, bool caseInsensitive, TTableLocale locale,
                   std::size_t recordSize, std::int64_t limit)
    : FRecordSize(recordSize), FLimit(static_cast<std::size_t>(std::max<std::int64_t>(0, limit))) {
  FFormat.Kind = TKeyKind::Ordinary;
  FFormat.Unique = true;  // no RowId suffix: arrival breaks ties
  FFormat.CaseInsensitive = caseInsensitive;
  FFormat.Locale = locale;
  int length = 0;
  for (const TSortField& field : fields) {
    FFormat.Parts.push_back(TKeyPart{field.Field, KeySize(field.Field), field.Descending});
    length += KeySize(field.Field) + 1;
  }
  FFormat.KeyLength = length;
  FHeap.reserve(FLimit);
}

bool TTopRows::RanksBefore(const TEntry& a, const TEntry& b) const {
  const int result = CompareKeys(FFormat, a.Key.data(), b.Key.data());
  return result != 0 ? result < 0 : a.Arrival < b.Arrival;
}

void TTopRows::Offer(std::span<const std::uint8_t> record) {
  if (FLimit == 0) return;
  FScratch.Key.resize(static_cast<std::size_t>(FFormat.KeyLength));
  BuildKey(FFormat, record, FScratch.Key);
  FScratch.Arrival = FArrivals++;
  auto worstFirst = [this](const TEntry& a, const TEntry& b) { return RanksBefore(a, b); };
  if (FHeap.size() == FLimit) {
    if (!RanksBefore(FScratch, FHeap.front())) return;
    std::pop_heap(FHeap.begin(), FHeap.end(), worstFirst);
    std::swap(FScratch.Key, FHeap.back().Key);
    FHeap.back().Arrival = FScratch.Arrival;
  } else {
    FHeap.push_back(TEntry{FScratch.Key, {}, FScratch.Arrival});
  }
  FHeap.back().Record.assign(record.begin(), record.begin() + FRecordSize);
  std::push_heap(FHeap.begin(), FHeap.end(), worstFirst);
}

std::vector<std::vector<std::uint8_t>> TTopRows::TakeInArrivalOrder() {
  std::sort(FHeap.begin(), FHeap.end(),
            [](const TEntry& a, const TEntry& b) { return a.Arrival < b.Arrival; });
  std::vector<std::vector<std::uint8_t>> records;
  records.reserve(FHeap.size());
  for (TEntry& entry : FHeap) records.push_back(std::move(entry.Record));
  FHeap.clear();
  return records;
}

}  // namespace kura
