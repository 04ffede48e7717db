// The sorted in-memory model of a cursor on one index that the navigation model tests (of the
// navigators and of the cursor) check every step against: the live entries in key order, the
// range bounds, a random filter, and the cursor as a state and the index of its entry.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/navigation_test_support.h"
#include "engine/search_key.h"
#include "storage/index_key.h"
#include "storage/records_bitmap.h"

namespace kura::test {

enum class TState { Empty, Bof, Eof, On };

constexpr std::uint16_t AnswerOf(TState state) {
  switch (state) {
    case TState::Empty:
      return codes::kNoCurrentRecord;
    case TState::Bof:
      return codes::kBeginningOfTable;
    case TState::Eof:
      return codes::kEndOfTable;
    case TState::On:
      return 0;
  }
  return 0;
}

// Whether the record passes the random filter of this round.
inline bool FilterPasses(std::int32_t recordNo, std::uint32_t seed) {
  return ((static_cast<std::uint32_t>(recordNo) * 2654435761u) ^ seed) % 10 < 7;
}

// True with the given chance in percent.
inline bool Chance(std::mt19937& random, int percent) {
  return std::uniform_int_distribution<int>(1, 100)(random) <= percent;
}

// Runs `steps` random operations, each checked at once, until the first failure; `current`
// names the step for the failure messages.
template <typename TOperation, typename TCheck>
void RunCheckedSteps(int steps, int& current, TOperation operation, TCheck check) {
  for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
    current = step;
    operation();
    check();
  }
}

// A short name over a small alphabet, so that names repeat and share prefixes.
inline std::string RandomName(std::mt19937& random) {
  static const char kLetters[] = "abcAB";
  std::string name;
  const int length = std::uniform_int_distribution<int>(1, 3)(random);
  for (int i = 0; i < length; ++i)
    name += kLetters[std::uniform_int_distribution<int>(0, 4)(random)];
  return name;
}

struct TEntry {
  TKey Key;
  std::int32_t RecordNo = 0;
};

// The sorted model of one index with a cursor on it: entries in key order; the cursor is a
// state and the index of its entry.
class TIndexModel {
 public:
  // Fills the live entries (any order) and answers the highest record number.
  using TSource = std::function<std::int32_t(std::vector<TEntry>& entries)>;

  TIndexModel(const TKeyFormat& keys, TSource source) : FKeys(keys), FSource(std::move(source)) {}
  // The entries of a navigation test table.
  explicit TIndexModel(TNavTable& table)
      : TIndexModel(table.Keys, [&table](std::vector<TEntry>& entries) {
          for (std::int32_t r = 1; r <= table.HighestRecordNo(); ++r) {
            if (table.IsLive(r)) entries.push_back({table.KeyOf(r), r});
          }
          return table.HighestRecordNo();
        }) {}

  std::vector<TEntry> Entries;
  bool RangeActive = false;
  TKey Start, End;
  bool Filtered = false;
  std::uint32_t FilterSeed = 0;
  TRecordsBitmap Visible;  // the navigator reads this one
  std::int64_t RangeFirst = 1, RangeLast = 0;
  TState State = TState::Empty;
  int Index = -1;

  // Entries, range bounds and the visible bitmap afresh from the table.
  void Rebuild() {
    Entries.clear();
    const std::int32_t highest = FSource(Entries);
    std::sort(Entries.begin(), Entries.end(), [&](const TEntry& a, const TEntry& b) {
      return CompareKeys(FKeys, a.Key.data(), b.Key.data()) < 0;
    });
    const auto n = static_cast<std::int64_t>(Entries.size());
    RangeFirst = 1;
    RangeLast = n;
    if (RangeActive) {
      if (Compare(Start, End) > 0) {
        RangeFirst = RangeLast = 0;
      } else {
        RangeFirst = 0;
        RangeLast = 0;
        for (std::int64_t i = 0; i < n; ++i) {
          if (RangeFirst == 0 && Compare(Entries[i].Key, Start) >= 0) RangeFirst = i + 1;
          if (Compare(Entries[i].Key, End) <= 0) RangeLast = i + 1;
        }
      }
    }
    Visible.SetSize(static_cast<std::uint32_t>(highest));
    Visible.ClearAll();
    for (const TEntry& e : Entries) {
      if (FilterPasses(e.RecordNo, FilterSeed) && InRange(e.Key)) {
        Visible.SetBit(static_cast<std::uint32_t>(e.RecordNo));
      }
    }
  }

  int Compare(const TKey& a, const TKey& b) const { return CompareKeys(FKeys, a.data(), b.data()); }
  bool InRange(const TKey& key) const {
    return !RangeActive || (Compare(key, Start) >= 0 && Compare(key, End) <= 0);
  }
  bool Acceptable(int i) const {
    const TEntry& e = Entries[static_cast<std::size_t>(i)];
    return InRange(e.Key) && (!Filtered || FilterPasses(e.RecordNo, FilterSeed));
  }
  int NextAcceptable(int i) const {
    for (int j = i + 1; j < static_cast<int>(Entries.size()); ++j) {
      if (Acceptable(j)) return j;
    }
    return -1;
  }
  int PriorAcceptable(int i) const {
    for (int j = std::min(i, static_cast<int>(Entries.size())) - 1; j >= 0; --j) {
      if (Acceptable(j)) return j;
    }
    return -1;
  }
  int FirstAcceptable() const { return NextAcceptable(-1); }
  int LastAcceptable() const { return PriorAcceptable(static_cast<int>(Entries.size())); }
  int LowerBound(const TKey& key) const {
    int i = 0;
    while (i < static_cast<int>(Entries.size()) && Compare(Entries[i].Key, key) < 0) ++i;
    return i;
  }

  void Set(TState state, int index) {
    State = index < 0 ? TState::Empty : state;
    Index = index < 0 ? -1 : index;
  }
  void GoFirst() { Set(TState::On, FirstAcceptable()); }
  void GoLast() { Set(TState::On, LastAcceptable()); }
  void First() { Set(TState::Bof, FirstAcceptable()); }
  void Last() { Set(TState::Eof, LastAcceptable()); }

  std::uint16_t Next() {
    if (State == TState::Bof || State == TState::Empty) {
      GoFirst();
    } else {
      const int next = NextAcceptable(Index);
      if (next >= 0) {
        Set(TState::On, next);
      } else {
        Set(TState::Eof, LastAcceptable());
      }
    }
    return State == TState::Eof || State == TState::Empty ? codes::kEndOfTable : 0;
  }
  std::uint16_t Prior() {
    if (State == TState::Eof || State == TState::Empty) {
      GoLast();
    } else {
      const int prior = PriorAcceptable(Index);
      if (prior >= 0) {
        Set(TState::On, prior);
      } else {
        Set(TState::Bof, FirstAcceptable());
      }
    }
    return State == TState::Bof || State == TState::Empty ? codes::kBeginningOfTable : 0;
  }

  std::int64_t RangeFirstOrOne() const { return RangeActive ? RangeFirst : 1; }
  std::int64_t RecNoOf(int index) const {
    return index < 0 ? 0 : index + 1 - RangeFirstOrOne() + 1;
  }
  std::int64_t RecNo() const { return RecNoOf(Index); }
  std::int64_t RecordCount() const {
    if (Filtered) {
      std::int64_t count = 0;
      for (int i = 0; i < static_cast<int>(Entries.size()); ++i) count += Acceptable(i) ? 1 : 0;
      return count;
    }
    if (RangeFirst <= 0 || RangeLast <= 0) return 0;
    return std::max<std::int64_t>(0, RangeLast - RangeFirst + 1);
  }

  bool SetRecNo(std::int64_t n) {
    const int first = FirstAcceptable();
    const int last = LastAcceptable();
    if (first < 0) {
      Set(TState::Empty, -1);
    } else if (n < RecNoOf(first)) {
      Set(TState::Bof, first);
    } else if (n > RecNoOf(last)) {
      Set(TState::Eof, last);
    } else {
      const auto target = static_cast<int>(RangeFirstOrOne() + n - 2);
      int index = Acceptable(target) ? target : NextAcceptable(target);
      if (index < 0) index = PriorAcceptable(target);
      Set(TState::On, index);
    }
    return RecNo() == n;
  }

  // The cursor's key search (nearest or not); answers whether the exact key was found.
  bool Search(const TKey& key, bool nearest) {
    if (Entries.empty()) {
      Set(TState::Empty, -1);
      return false;
    }
    if (RangeActive && Compare(key, Start) < 0) {
      GoFirst();
      return false;
    }
    if (RangeActive && Compare(key, End) > 0) {
      GoLast();
      return false;
    }
    const int bound = LowerBound(key);
    if (bound < static_cast<int>(Entries.size()) && Compare(Entries[bound].Key, key) == 0 &&
        Acceptable(bound)) {
      Set(TState::On, bound);
      return true;
    }
    if (!nearest) return false;
    const int at = Acceptable(bound < static_cast<int>(Entries.size()) ? bound : 0) &&
                           bound < static_cast<int>(Entries.size())
                       ? bound
                       : NextAcceptable(bound);
    if (at >= 0) {
      Set(TState::On, at);
    } else {
      Set(TState::Eof, PriorAcceptable(bound));
    }
    return false;
  }

  // The cursor's key lookup: a partial lookup (fewer fields, a partial length, a non-unique
  // index) lands on the first key starting with the given part; the end crack is never kept.
  // Answers whether a matching record was found.
  bool FindKey(const TKey& key, int fieldCount, int partialLength, bool nearest) {
    bool found = false;
    if (!IsPartialLookup(FKeys, fieldCount, partialLength)) {
      found = Search(key, nearest);
    } else {
      const int length = LeadingKeyLength(FKeys, fieldCount, partialLength);
      TKey padded = key;
      PadKey(FKeys, padded, length, false);
      const TState state = State;
      const int index = Index;
      Search(padded, true);
      found = State == TState::On && Matches(Index, padded, length);
      if (!found && !nearest) Set(state, index);
    }
    if (State == TState::Eof) GoLast();
    return found;
  }

  bool Matches(int index, const TKey& key, int length) const {
    return index >= 0 && std::memcmp(Entries[static_cast<std::size_t>(index)].Key.data(),
                                     key.data(), static_cast<std::size_t>(length)) == 0;
  }

  void KeepCracks(TState before) {
    if (before == TState::Empty) {
      First();
      return;
    }
    if (State == TState::Empty) return;
    if (before == TState::Bof) {
      Set(Index == FirstAcceptable() ? TState::Bof : TState::On, Index);
    } else if (before == TState::Eof) {
      Set(Index == LastAcceptable() ? TState::Eof : TState::On, Index);
    } else {
      Set(TState::On, Index);
    }
  }

  bool GotoBookmark(const TKey& bookmark, bool keepCracks) {
    const TState before = State;
    Search(bookmark, true);
    if (keepCracks) {
      KeepCracks(before);
      return true;
    }
    return State == TState::On && Entries[Index].Key == bookmark;
  }

  TKey Bookmark() const {
    return Index < 0 ? TKey(static_cast<std::size_t>(FKeys.KeyLength), 0) : Entries[Index].Key;
  }

  // Rebuilds after the table changed and goes back to the cursor's record keeping cracks.
  void Resynchronise() {
    const TKey bookmark = Bookmark();
    Rebuild();
    GotoBookmark(bookmark, true);
  }

 private:
  const TKeyFormat& FKeys;
  TSource FSource;
};

}  // namespace kura::test
