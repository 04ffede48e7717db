// The n best rows of an ORDER BY ... TOP n, kept while the rows are generated so that only
// they reach the result table (whose sort then orders them and cuts at n as before).
//
// A row's rank is the sort's: its key built like the result sort's key (each ORDER BY field's
// null byte and encoded value, descending fields and case as the sort has them), ties broken
// by arrival, as the sort breaks them by RowId. The worst kept row sits at the top of a heap;
// a new row replaces it only when it ranks strictly better, so of equal rows the earlier ones
// stay, exactly the rows the sort would keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "storage/index_key.h"
#include "storage/record_image.h"
#include "storage/record_sorter.h"

namespace kura {

class TTopRows {
 public:
  // `limit` rows at most (not negative), ranked by `fields` in the locale of the result table.
  TTopRows(std::vector<TSortField> fields, bool caseInsensitive, TTableLocale locale,
           std::size_t recordSize, std::int64_t limit);

  // Keeps a copy of the record image when it ranks among the best so far.
  void Offer(std::span<const std::uint8_t> record);

  // The kept images in arrival order.
  std::vector<std::vector<std::uint8_t>> TakeInArrivalOrder();

 private:
  struct TEntry {
    std::vector<std::uint8_t> Key;
    std::vector<std::uint8_t> Record;
    std::uint64_t Arrival = 0;
  };
  // Whether a ranks before b.
  bool RanksBefore(const TEntry& a, const TEntry& b) const;

  TKeyFormat FFormat;
  std::size_t FRecordSize;
  std::size_t FLimit;
  std::uint64_t FArrivals = 0;
  std::vector<TEntry> FHeap;  // worst at the front
  TEntry FScratch;
};

}  // namespace kura
