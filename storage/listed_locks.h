// The byte-range locks one file object holds, kept ordered by their first byte. The ranges
// never overlap (a range is listed only after Overlaps said no), so the only listed range
// that can overlap a new one is the last one starting at or before its end: every check is a
// logarithmic search, however many record locks a long transaction holds.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <span>

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
  // The listed ranges lying wholly inside range, or -1 when a listed range crosses one of
  // its borders (it is then neither inside nor outside).
  std::int64_t CountInside(const TLockRange& range) const {
    auto first = FByStart.lower_bound(range.Start);
    if (first != FByStart.begin() && std::prev(first)->second.End >= range.Start) return -1;
    std::int64_t count = 0;
    for (auto it = first; it != FByStart.end() && it->first <= range.End; ++it) {
      if (it->second.End > range.End) return -1;
      ++count;
    }
    return count;
  }
  // Replaces the listed ranges inside range (CountInside said how many) by range itself.
  void Absorb(const TLockRange& range) {
    auto first = FByStart.lower_bound(range.Start);
    auto last = FByStart.upper_bound(range.End);
    FByStart.erase(first, last);
    Add(range);
  }
  // Replaces the listed range of exactly this start and length by one-byte ranges at the
  // given positions inside it; false (nothing changes) when no such range is listed.
  bool Split(std::int64_t length, std::int64_t start, std::span<const std::int64_t> keptBytes) {
    if (!Contains(length, start)) return false;
    FByStart.erase(start);
    for (std::int64_t byte : keptBytes) Add({byte, byte, 1});
    return true;
  }
  void Clear() { FByStart.clear(); }
  std::size_t Size() const { return FByStart.size(); }

 private:
  std::map<std::int64_t, TLockRange> FByStart;
};

}  // namespace kura
