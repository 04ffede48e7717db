// The byte-range locks one file object holds, kept ordered by their first byte. The ranges
// never overlap (a range is listed only after Overlaps said no), so the only listed range
// that can overlap a new one is the last one starting at or before its end: every check is a
// logarithmic search, however many record locks a long transaction holds.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>

namespace kura {

// One byte-range lock: bytes start .. end inclusive, end = start + length - 1.
struct TLockRange {
  std::int64_t Start;
  std::int64_t End;
  std::int64_t Length;
};

class TListedLocks {
 public:
  bool Overlaps(const TLockRange& range) const {
    auto next = FByStart.upper_bound(range.End);
    if (next == FByStart.begin()) return false;
    return std::prev(next)->second.End >= range.Start;
  }
  void Add(const TLockRange& range) { FByStart.emplace(range.Start, range); }
  // Whether a range of exactly this start and length is listed.
  bool Contains(std::int64_t length, std::int64_t start) const {
    auto found = FByStart.find(start);
    return found != FByStart.end() && found->second.Length == length;
  }
  // Removes the range of exactly this start and length; false when none is listed.
  bool Remove(std::int64_t length, std::int64_t start) {
    if (!Contains(length, start)) return false;
    FByStart.erase(start);
    return true;
  }
  void Clear() { FByStart.clear(); }
  std::size_t Size() const { return FByStart.size(); }

 private:
  std::map<std::int64_t, TLockRange> FByStart;
};

}  // namespace kura
