// Model tests of cursor navigation: random tables (unique and non-unique indexes, ascending
// and descending, with a locale and without, compressed and plain leaves, trees of one to
// several levels) and long random sequences of moves, position numbers, key lookups, ranges,
// filters, bookmarks and changes made behind the cursor's back, each step checked against a
// sorted in-memory model; the tree checker runs after every batch of changes. Record-number
// order gets the same treatment over the visible bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/index_navigator.h"
#include "engine/navigation_model.h"
#include "engine/navigation_test_support.h"
#include "engine/record_order_navigator.h"
#include "engine/search_key.h"

namespace kura::test {
namespace {

struct TIndexConfig {
  const char* Label;
  TNavTableOptions Options;
  int Steps;
};

class TIndexModelRun {
 public:
  TIndexModelRun(const TIndexConfig& config, std::uint32_t seed)
      : FConfig(config), FTable(config.Options), FModel(FTable), FRandom(seed) {
    const int initial = std::uniform_int_distribution<int>(0, 400)(FRandom);
    for (int i = 0; i < initial; ++i) InsertRandom();
    FModel.Rebuild();
    FNavigator = std::make_unique<TIndexNavigator>(*FTable.Store, FTable.Keys, FTable.Pages);
    FNavigator->First();
    FModel.First();
    FTable.ExpectSound();
  }

  void Run() {
    RunCheckedSteps(
        FConfig.Steps, FStep, [this] { RandomOperation(); }, [this] { Check(); });
  }

 private:
  std::string RandomName() { return test::RandomName(FRandom); }
  std::int32_t RandomNumber() {
    return std::uniform_int_distribution<std::int32_t>(-3, 3)(FRandom);
  }
  TKey RandomKey() { return FTable.KeyFor(RandomName(), RandomNumber(), 0); }
  bool Chance(int percent) { return test::Chance(FRandom, percent); }

  void InsertRandom() { FTable.Insert(RandomName(), RandomNumber()); }

  void ChangeBehindTheCursor() {
    const int changes = std::uniform_int_distribution<int>(1, 12)(FRandom);
    for (int i = 0; i < changes; ++i) {
      if (Chance(55) || FModel.Entries.empty()) {
        InsertRandom();
      } else {
        std::vector<std::int32_t> live;
        for (std::int32_t r = 1; r <= FTable.HighestRecordNo(); ++r) {
          if (FTable.IsLive(r)) live.push_back(r);
        }
        if (!live.empty()) {
          FTable.Delete(
              live[std::uniform_int_distribution<std::size_t>(0, live.size() - 1)(FRandom)]);
        }
      }
    }
    FTable.ExpectSound();
    FModel.Resynchronise();
    FNavigator->Resynchronise();
  }

  void ChangeRange() {
    if (Chance(25)) {
      FModel.RangeActive = false;
      FModel.Rebuild();
      FNavigator->CancelRange();
      FModel.GotoBookmark(FModel.Bookmark(), true);
      return;
    }
    const int startFields = std::uniform_int_distribution<int>(0, 2)(FRandom);
    const int endFields = std::uniform_int_distribution<int>(0, 2)(FRandom);
    const TKey start = Chance(10) ? TKey{} : RandomKey();
    const TKey end = Chance(10) ? TKey{} : RandomKey();
    // The caller works the limits out first, so that filters can be re-counted over them
    // before the cursor re-synchronises.
    const TKey bookmark = FModel.Bookmark();
    FModel.RangeActive = true;
    FModel.Start = RangeLimitKey(FTable.Keys, start, startFields, false);
    FModel.End = RangeLimitKey(FTable.Keys, end, endFields, true);
    FModel.Rebuild();
    FModel.GotoBookmark(bookmark, true);
    FNavigator->SetRange(start, startFields, end, endFields);
    EXPECT_EQ(FNavigator->RangeStart(), FModel.Start);
    EXPECT_EQ(FNavigator->RangeEnd(), FModel.End);
  }

  void ToggleFilter() {
    FModel.Filtered = Chance(60);
    FModel.FilterSeed = static_cast<std::uint32_t>(FRandom());
    FModel.Resynchronise();
    FNavigator->SetVisible(FModel.Filtered ? &FModel.Visible : nullptr);
    FNavigator->Resynchronise();
  }

  void FindKey() {
    const TKey key = RandomKey();
    const bool nearest = Chance(50);
    const int fieldCount = std::uniform_int_distribution<int>(0, 2)(FRandom);
    const int partial = Chance(30) ? std::uniform_int_distribution<int>(1, 2)(FRandom) : 0;
    const bool found = FNavigator->FindKey(key, fieldCount, partial, nearest);
    bool expected = false;
    if (!IsPartialLookup(FTable.Keys, fieldCount, partial)) {
      expected = FModel.Search(key, nearest);
    } else {
      const int length = LeadingKeyLength(FTable.Keys, fieldCount, partial);
      TKey padded = key;
      PadKey(FTable.Keys, padded, length, false);
      const TState state = FModel.State;
      const int index = FModel.Index;
      FModel.Search(padded, true);
      expected = FModel.State == TState::On && Matches(FModel.Index, padded, length);
      if (!expected && !nearest) FModel.Set(state, index);
      CheckPrefixLookup(expected, padded, length);
    }
    if (FModel.State == TState::Eof) FModel.GoLast();
    EXPECT_EQ(found, expected) << Where() << " FindKey fields " << fieldCount << " partial "
                               << partial << " nearest " << nearest;
  }

  bool Matches(int index, const TKey& key, int length) const {
    return index >= 0 && std::memcmp(FModel.Entries[index].Key.data(), key.data(),
                                     static_cast<std::size_t>(length)) == 0;
  }

  // The padding on its own terms: a lookup that matched landed on the first visible key
  // starting with the given part; without a locale (where such keys lie together) a lookup
  // that did not match had none to find.
  void CheckPrefixLookup(bool matched, const TKey& key, int length) const {
    const int landed = matched ? FModel.Index : static_cast<int>(FModel.Entries.size());
    for (int i = 0; i < landed; ++i) {
      if (!FModel.Acceptable(i) || !Matches(i, key, length)) continue;
      if (matched || !FConfig.Options.WithLocale) {
        ADD_FAILURE() << Where() << " entry " << i << " starts with the key part too";
        return;
      }
    }
  }

  void SaveOrGotoBookmark() {
    if (FBookmarks.empty() || Chance(40)) {
      const TKey bookmark = FNavigator->Bookmark();
      EXPECT_EQ(bookmark, FModel.Bookmark()) << Where();
      FBookmarks.push_back(bookmark);
      return;
    }
    const TKey& bookmark =
        FBookmarks[std::uniform_int_distribution<std::size_t>(0, FBookmarks.size() - 1)(FRandom)];
    const bool keepCracks = Chance(50);
    EXPECT_EQ(FNavigator->GotoBookmark(bookmark, keepCracks),
              FModel.GotoBookmark(bookmark, keepCracks))
        << Where() << " GotoBookmark";
  }

  void CompareTwoEntries() {
    if (FModel.Entries.empty()) return;
    std::uniform_int_distribution<int> pick(0, static_cast<int>(FModel.Entries.size()) - 1);
    const int a = pick(FRandom);
    const int b = pick(FRandom);
    EXPECT_EQ(FNavigator->CompareBookmarks(FModel.Entries[a].Key, FModel.Entries[b].Key),
              (a > b) - (a < b))
        << Where();
  }

  void NextRecords() {
    std::vector<std::int32_t> records(std::uniform_int_distribution<std::size_t>(1, 6)(FRandom));
    int read = 0;
    const std::uint16_t answer = FNavigator->NextRecords(records, read);
    std::uint16_t expected = 0;
    int expectedRead = 0;
    for (std::int32_t recordNo : records) {
      expected = FModel.Next();
      if (expected != 0) break;
      EXPECT_EQ(recordNo, FModel.Entries[FModel.Index].RecordNo) << Where();
      ++expectedRead;
    }
    EXPECT_EQ(answer, expected) << Where();
    EXPECT_EQ(read, expectedRead) << Where();
  }

  void RandomOperation() {
    const int op = std::uniform_int_distribution<int>(0, 99)(FRandom);
    if (op < 6) {
      FNavigator->First();
      FModel.First();
    } else if (op < 12) {
      FNavigator->Last();
      FModel.Last();
    } else if (op < 34) {
      EXPECT_EQ(FNavigator->Next(), FModel.Next()) << Where() << " Next";
    } else if (op < 52) {
      EXPECT_EQ(FNavigator->Prior(), FModel.Prior()) << Where() << " Prior";
    } else if (op < 60) {
      const std::int64_t n = std::uniform_int_distribution<std::int64_t>(
          -1, FModel.RecordCount() + RangeShift() + 2)(FRandom);
      EXPECT_EQ(FNavigator->SetRecNo(n), FModel.SetRecNo(n)) << Where() << " SetRecNo " << n;
    } else if (op < 70) {
      FindKey();
    } else if (op < 75) {
      ChangeRange();
    } else if (op < 83) {
      SaveOrGotoBookmark();
    } else if (op < 86) {
      CompareTwoEntries();
    } else if (op < 90) {
      NextRecords();
    } else if (op < 97) {
      ChangeBehindTheCursor();
    } else {
      ToggleFilter();
    }
  }

  // Position numbers count hidden entries too, so SetRecNo may go past the visible count.
  std::int64_t RangeShift() const { return FModel.Filtered ? 5 : 0; }

  void Check() {
    const TIndexNavigator& n = *FNavigator;
    ASSERT_EQ(n.Current(), AnswerOf(FModel.State)) << Where();
    if (FModel.State == TState::Empty) {
      EXPECT_EQ(n.PhysicalRecordNo(), 0) << Where();
      EXPECT_EQ(n.Position().Position, 0) << Where();
    } else {
      const TEntry& e = FModel.Entries[FModel.Index];
      ASSERT_EQ(n.PhysicalRecordNo(), e.RecordNo) << Where();
      EXPECT_EQ(n.Position().Position, FModel.Index + 1) << Where();
      ASSERT_NE(n.CurrentKey(), nullptr);
      EXPECT_EQ(std::memcmp(n.CurrentKey(), e.Key.data(), e.Key.size()), 0) << Where();
    }
    EXPECT_EQ(n.RecNo(), FModel.RecNo()) << Where();
    EXPECT_EQ(n.RecordCount(), FModel.RecordCount()) << Where();
    EXPECT_EQ(n.RangeFirst(), FModel.RangeFirst) << Where();
    EXPECT_EQ(n.RangeLast(), FModel.RangeLast) << Where();
    EXPECT_EQ(FTable.Store->PinnedPages(), 0) << Where();
  }

  std::string Where() const {
    return std::string(FConfig.Label) + " step " + std::to_string(FStep);
  }

  const TIndexConfig& FConfig;
  TNavTable FTable;
  TIndexModel FModel;
  std::mt19937 FRandom;
  std::unique_ptr<TIndexNavigator> FNavigator;
  std::vector<TKey> FBookmarks;
  int FStep = 0;
};

TEST(NavigationModel, IndexOrderFollowsASortedModel) {
  const TIndexConfig configs[] = {
      {"unique ascending", {.NameSize = 120}, 2500},
      {"non-unique full compression",
       {.NameSize = 60, .Unique = false, .Compression = kCompressFull, .Images = true},
       2000},
      {"unique descending dup bytes",
       {.NameSize = 200, .Descending = true, .Compression = kCompressDupBytes},
       2000},
      {"non-unique descending field",
       {.NameSize = 240, .Unique = false, .NameDescending = true},
       2000},
      {"unique locale", {.NameSize = 150, .WithLocale = true}, 1200},
      {"non-unique locale descending field trailing bytes",
       {.NameSize = 100,
        .Unique = false,
        .NameDescending = true,
        .WithLocale = true,
        .Compression = kCompressTrailBytes,
        .Images = true},
       1200},
      {"name only unique", {.NameSize = 30, .NumberField = false}, 1500},
      {"non-unique without subtree counts",
       {.NameSize = 200, .Unique = false, .Uncounted = true},
       1500},
  };
  std::uint32_t seed = 20261210;
  for (const TIndexConfig& config : configs) {
    SCOPED_TRACE(config.Label);
    for (int round = 0; round < 2; ++round) {
      TIndexModelRun run(config, seed++);
      run.Run();
    }
  }
}

// ---- Record-number order -----------------------------------------------------------------

class TRecordOrderModelRun {
 public:
  explicit TRecordOrderModelRun(std::uint32_t seed) : FRandom(seed) {
    const int initial = std::uniform_int_distribution<int>(0, 300)(FRandom);
    for (int i = 0; i < initial; ++i) Add();
    Rebuild();
    FNavigator = std::make_unique<TRecordOrderNavigator>(FVisible);
    FNavigator->First();
    Set(TState::Bof, Visible.empty() ? -1 : 0);
  }

  void Run(int steps) {
    RunCheckedSteps(
        steps, FStep, [this] { RandomOperation(); }, [this] { Check(); });
  }

 private:
  void Add() { FLive.push_back(true); }
  bool Chance(int percent) { return test::Chance(FRandom, percent); }
  void Rebuild() {
    Visible.clear();
    FVisible.SetSize(static_cast<std::uint32_t>(FLive.size()));
    FVisible.ClearAll();
    for (std::size_t i = 0; i < FLive.size(); ++i) {
      const auto r = static_cast<std::int32_t>(i + 1);
      if (FLive[i] && (!FFiltered || FilterPasses(r, FSeed))) {
        Visible.push_back(r);
        FVisible.SetBit(static_cast<std::uint32_t>(r));
      }
    }
  }
  void Set(TState state, int index) {
    FState = index < 0 ? TState::Empty : state;
    FIndex = index < 0 ? -1 : index;
  }
  int Last() const { return static_cast<int>(Visible.size()) - 1; }
  std::int32_t Current() const { return FIndex < 0 ? 0 : Visible[FIndex]; }

  std::uint16_t Next() {
    if (FState == TState::Bof || FState == TState::Empty) {
      Set(TState::On, Visible.empty() ? -1 : 0);
    } else if (FIndex < Last()) {
      Set(TState::On, FIndex + 1);
    } else {
      Set(TState::Eof, FIndex);
    }
    return FState == TState::Eof || FState == TState::Empty ? codes::kEndOfTable : 0;
  }
  std::uint16_t Prior() {
    if (FState == TState::Eof || FState == TState::Empty) {
      Set(TState::On, Last());
    } else if (FIndex > 0) {
      Set(TState::On, FIndex - 1);
    } else {
      Set(TState::Bof, FIndex);
    }
    return FState == TState::Bof || FState == TState::Empty ? codes::kBeginningOfTable : 0;
  }
  // To record r: the first visible at or after it, else the last before it.
  void Goto(std::int64_t r) {
    if (r == 0) return;
    if (FLive.empty()) {
      Set(TState::Empty, -1);
      return;
    }
    r = std::clamp<std::int64_t>(r, 1, static_cast<std::int64_t>(FLive.size()));
    auto at = std::lower_bound(Visible.begin(), Visible.end(), r);
    if (at != Visible.end()) {
      Set(TState::On, static_cast<int>(at - Visible.begin()));
    } else {
      Set(TState::On, Last());
    }
  }
  bool GotoBookmark(std::int32_t recordNo, bool keepCracks) {
    const TState before = FState;
    Goto(recordNo);
    if (keepCracks) {
      if (before == TState::Empty) {
        Set(TState::Bof, Visible.empty() ? -1 : 0);
      } else if (FState != TState::Empty) {
        if (before == TState::Bof) {
          Set(FIndex == 0 ? TState::Bof : TState::On, FIndex);
        } else if (before == TState::Eof) {
          Set(FIndex == Last() ? TState::Eof : TState::On, FIndex);
        } else {
          Set(TState::On, FIndex);
        }
      }
      return true;
    }
    return Current() == recordNo && recordNo != 0;
  }
  static TKey BookmarkOf(std::int32_t recordNo) {
    TKey bookmark(4);
    std::memcpy(bookmark.data(), &recordNo, 4);  // little-endian hosts only run these tests
    return bookmark;
  }

  void RandomOperation() {
    const int op = std::uniform_int_distribution<int>(0, 99)(FRandom);
    const auto count = static_cast<std::int64_t>(Visible.size());
    if (op < 8) {
      FNavigator->First();
      Set(TState::Bof, Visible.empty() ? -1 : 0);
    } else if (op < 16) {
      FNavigator->Last();
      Set(TState::Eof, Last());
    } else if (op < 40) {
      EXPECT_EQ(FNavigator->Next(), Next()) << Where();
    } else if (op < 60) {
      EXPECT_EQ(FNavigator->Prior(), Prior()) << Where();
    } else if (op < 68) {
      const std::int64_t n = std::uniform_int_distribution<std::int64_t>(-1, count + 2)(FRandom);
      if (count == 0) {
        Set(TState::Empty, -1);
      } else if (n < 1) {
        Set(TState::Bof, 0);
      } else if (n > count) {
        Set(TState::Eof, Last());
      } else {
        Set(TState::On, static_cast<int>(n - 1));
      }
      EXPECT_EQ(FNavigator->SetRecNo(n), FState != TState::Empty && FIndex + 1 == n) << Where();
    } else if (op < 76) {
      const std::int64_t r = std::uniform_int_distribution<std::int64_t>(
          -2, static_cast<std::int64_t>(FLive.size()) + 3)(FRandom);
      FNavigator->GotoPhysical(r);
      Goto(r);
    } else if (op < 86) {
      if (FBookmarks.empty() || Chance(40)) {
        EXPECT_EQ(FNavigator->Bookmark(), BookmarkOf(Current())) << Where();
        FBookmarks.push_back(Current());
      } else {
        const std::int32_t recordNo = FBookmarks[std::uniform_int_distribution<std::size_t>(
            0, FBookmarks.size() - 1)(FRandom)];
        const bool keepCracks = Chance(50);
        EXPECT_EQ(FNavigator->GotoBookmark(BookmarkOf(recordNo), keepCracks),
                  GotoBookmark(recordNo, keepCracks))
            << Where();
      }
    } else {
      ChangeBehindTheCursor();
    }
  }

  void ChangeBehindTheCursor() {
    if (Chance(20)) {
      FFiltered = !FFiltered;
      FSeed = static_cast<std::uint32_t>(FRandom());
    }
    const int changes = std::uniform_int_distribution<int>(0, 40)(FRandom);
    for (int i = 0; i < changes; ++i) {
      if (Chance(50) || FLive.empty()) {
        Add();
      } else {
        FLive[std::uniform_int_distribution<std::size_t>(0, FLive.size() - 1)(FRandom)] = false;
      }
    }
    const std::int32_t bookmark = Current();
    Rebuild();
    GotoBookmark(bookmark, true);
    FNavigator->Resynchronise();
  }

  void Check() {
    const TRecordOrderNavigator& n = *FNavigator;
    ASSERT_EQ(n.Current(), AnswerOf(FState)) << Where();
    ASSERT_EQ(n.PhysicalRecordNo(), Current()) << Where();
    EXPECT_EQ(n.RecNo(), FIndex + 1) << Where();
    EXPECT_EQ(n.RecordCount(), static_cast<std::int64_t>(Visible.size())) << Where();
  }

  std::string Where() const { return "record order step " + std::to_string(FStep); }

  std::mt19937 FRandom;
  std::vector<bool> FLive;
  bool FFiltered = false;
  std::uint32_t FSeed = 0;
  std::vector<std::int32_t> Visible;
  TRecordsBitmap FVisible;
  std::unique_ptr<TRecordOrderNavigator> FNavigator;
  TState FState = TState::Empty;
  int FIndex = -1;
  std::vector<std::int32_t> FBookmarks;
  int FStep = 0;
};

TEST(NavigationModel, RecordNumberOrderFollowsTheVisibleRecords) {
  for (std::uint32_t seed = 7; seed < 17; ++seed) {
    SCOPED_TRACE(seed);
    TRecordOrderModelRun run(seed);
    run.Run(3000);
  }
}

}  // namespace
}  // namespace kura::test
