// A model test of the cursor on real table files: random tables (unique and non-unique
// indexes, ascending and descending, with a locale and without) and random sequences of
// moves, position numbers, key lookups, ranges, index changes, bookmarks and rows inserted
// and deleted behind the cursor's back by another cursor of the process, each step checked
// against the sorted in-memory model of the navigation tests. Record-number order runs over
// the same model, keyed by record number (where ranges are ignored). Filtering is switched on
// and off at random: the cursor then keeps its bitmaps (Live, InRange, Visible) in index
// order too and walks Visible, which must change nothing the model sees, and after every
// step the bitmaps are checked against the rows and the range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/navigation_model.h"
#include "engine/search_key.h"
#include "engine/table_test_support.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using test::AnswerOf;
using test::TEntry;
using test::TIndexModel;
using test::TKey;
using test::TState;
using testing::DeleteRow;
using testing::IdOf;
using testing::InsertRow;
using testing::RowImage;
using testing::RowsTable;
using testing::TEngineSandbox;
using testing::TRowsTableOptions;
using testing::TScratchFolder;

constexpr std::int16_t kGermanStandard = 0x0407;

struct TCursorConfig {
  const char* Label;
  TRowsTableOptions Options;
  bool Strict;
  int Steps;
};

// Record-number order as an index: 4-byte big-endian record numbers compared as bytes.
TKeyFormat RecordNumberKeys() {
  TKeyFormat keys;
  keys.Kind = TKeyKind::SysDeleted;
  keys.KeyLength = 4;
  return keys;
}

TKey RecordNumberKey(std::int32_t recordNo) {
  TKey key(4);
  PutUnsignedBE(key.data(), static_cast<std::uint32_t>(recordNo), 4);
  return key;
}

class TCursorModelRun {
 public:
  TCursorModelRun(const TCursorConfig& config, std::uint32_t seed)
      : FConfig(config), FRandom(seed), FSandbox(FFolder.Path()) {
    FSandbox.Session().SetStrictChangeDetection(config.Strict);
    TDataDirectory& directory = FSandbox.Directory();
    directory.CloseTable(directory.CreateTable("T", false, RowsTable(config.Options), false));
    FCursor = std::make_unique<TDataCursor>(directory);
    FCursor->SetTableName("T");
    FCursor->Open();
    const int initial = std::uniform_int_distribution<int>(0, 250)(FRandom);
    for (int i = 0; i < initial; ++i) InsertRandom();
    SwitchModel();
    FCursor->First();
    FModel->First();
  }

  void Run() {
    test::RunCheckedSteps(
        FConfig.Steps, FStep, [this] { RandomOperation(); }, [this] { Check(); });
  }

 private:
  bool Chance(int percent) { return test::Chance(FRandom, percent); }
  std::string RandomName() { return test::RandomName(FRandom); }
  std::int32_t RandomId() { return std::uniform_int_distribution<std::int32_t>(-50, 400)(FRandom); }
  bool RecordOrder() const { return FCursor->RecordOrder(); }

  // --- The rows, as this test knows them ---------------------------------------------------

  void InsertRandom() {
    const std::int32_t id = FNextId++;
    const std::int32_t recordNo = InsertRow(*FCursor->Table(), id, RandomName());
    if (recordNo != 0) FLive[recordNo] = id;
  }

  void DeleteRandom() {
    if (FLive.empty()) return;
    auto it = FLive.begin();
    std::advance(it, std::uniform_int_distribution<std::size_t>(0, FLive.size() - 1)(FRandom));
    DeleteRow(*FCursor->Table(), it->first);
    FLive.erase(it);
  }

  // The live entries of the active order, keys built from the records on file.
  std::int32_t Entries(std::vector<TEntry>& entries) {
    TDataFile& data = FCursor->Table()->Data();
    for (const auto& [recordNo, id] : FLive) {
      TRecord* record = data.GetRecord(recordNo);
      const std::vector<std::uint8_t> image = record->Image;
      data.ReleaseRecord(record);
      EXPECT_EQ(IdOf(*FCursor, image), id) << Where();
      entries.push_back(
          {RecordOrder() ? RecordNumberKey(recordNo) : FCursor->BuildKeyOf(image), recordNo});
    }
    return data.RecordCount();
  }

  // A fresh model of the cursor's order, on the record the old model was on.
  void SwitchModel() {
    FKeys = RecordOrder() ? RecordNumberKeys() : FCursor->KeyFormat();
    const TState state = FModel ? FModel->State : TState::Empty;
    const std::int32_t recordNo =
        FModel && FModel->Index >= 0 ? FModel->Entries[FModel->Index].RecordNo : 0;
    FModel = std::make_unique<TIndexModel>(
        FKeys, [this](std::vector<TEntry>& entries) { return Entries(entries); });
    FModel->Rebuild();
    if (state == TState::Empty || state == TState::Bof) {
      FModel->First();
    } else if (state == TState::Eof) {
      FModel->Last();
    } else {
      const auto& all = FModel->Entries;
      const auto at = std::find_if(all.begin(), all.end(),
                                   [&](const TEntry& e) { return e.RecordNo == recordNo; });
      FModel->Set(TState::On, static_cast<int>(at - all.begin()));
    }
  }

  // --- Operations ------------------------------------------------------------------------

  void RandomOperation() {
    const int op = std::uniform_int_distribution<int>(0, 99)(FRandom);
    std::vector<std::uint8_t> buffer(FCursor->RecordSize());
    if (op < 6) {
      FCursor->First();
      FModel->First();
    } else if (op < 12) {
      FCursor->Last();
      FModel->Last();
    } else if (op < 32) {
      EXPECT_EQ(FCursor->GetNextRecord(buffer), FModel->Next()) << Where() << " next";
    } else if (op < 48) {
      EXPECT_EQ(FCursor->GetPriorRecord(buffer), FModel->Prior()) << Where() << " prior";
    } else if (op < 56) {
      const std::int64_t n =
          std::uniform_int_distribution<std::int64_t>(-1, FModel->RecordCount() + 2)(FRandom);
      EXPECT_EQ(FCursor->SetRecNo(n), FModel->SetRecNo(n)) << Where() << " SetRecNo " << n;
    } else if (op < 66) {
      FindKey();
    } else if (op < 71) {
      ChangeRange();
    } else if (op < 79) {
      Bookmark();
    } else if (op < 82) {
      NextRecords();
    } else if (op < 92) {
      ChangeRows();
    } else if (op < 96) {
      ChangeIndex();
    } else if (op < 98) {
      GotoPhysical();
    } else {
      ToggleFiltered();
    }
  }

  void FindKey() {
    if (RecordOrder()) return;
    const TKey key = FCursor->BuildKeyOf(RowImage(*FCursor, RandomId(), RandomName()));
    const bool nearest = Chance(50);
    const int parts = static_cast<int>(FKeys.Parts.size());
    const int fieldCount = std::uniform_int_distribution<int>(0, parts)(FRandom);
    const int partial = Chance(30) ? std::uniform_int_distribution<int>(1, 2)(FRandom) : 0;
    std::vector<std::uint8_t> buffer(FCursor->RecordSize());
    const bool found = FCursor->FindKey(true, key, buffer, partial, nearest, fieldCount);
    const bool expected = FModel->FindKey(key, fieldCount, partial, nearest);
    EXPECT_EQ(found, expected) << Where() << " FindKey fields " << fieldCount << " partial "
                               << partial << " nearest " << nearest;
  }

  void ChangeRange() {
    if (RecordOrder()) {
      // No ranges in record-number order: both calls leave everything as it was.
      if (Chance(50)) {
        FCursor->CancelRange();
      } else {
        const TKey image = RowImage(*FCursor, RandomId(), RandomName());
        FCursor->SetRange(false, image, 0, image, 0);
      }
      EXPECT_FALSE(FCursor->RangeActive()) << Where();
      return;
    }
    if (Chance(30)) {
      FCursor->CancelRange();
      FModel->RangeActive = false;
      FModel->Resynchronise();
      return;
    }
    const int parts = static_cast<int>(FKeys.Parts.size());
    const int startFields = std::uniform_int_distribution<int>(0, parts)(FRandom);
    const int endFields = std::uniform_int_distribution<int>(0, parts)(FRandom);
    const TKey start = FCursor->BuildKeyOf(RowImage(*FCursor, RandomId(), RandomName()));
    const TKey end = FCursor->BuildKeyOf(RowImage(*FCursor, RandomId(), RandomName()));
    FCursor->SetRange(true, start, startFields, end, endFields);
    const TKey bookmark = FModel->Bookmark();
    FModel->RangeActive = true;
    FModel->Start = RangeLimitKey(FKeys, start, startFields, false);
    FModel->End = RangeLimitKey(FKeys, end, endFields, true);
    FModel->Rebuild();
    FModel->GotoBookmark(bookmark, true);
  }

  void Bookmark() {
    if (RecordOrder()) return;
    if (FBookmarks.empty() || Chance(40)) {
      const TKey bookmark = FCursor->GetBookmark();
      EXPECT_EQ(bookmark, FModel->Bookmark()) << Where() << " bookmark";
      FBookmarks.push_back(bookmark);
      return;
    }
    const TKey& a =
        FBookmarks[std::uniform_int_distribution<std::size_t>(0, FBookmarks.size() - 1)(FRandom)];
    const TKey& b =
        FBookmarks[std::uniform_int_distribution<std::size_t>(0, FBookmarks.size() - 1)(FRandom)];
    const int order = FModel->Compare(a, b);
    EXPECT_EQ(FCursor->CompareBookmarks(a, b), (order > 0) - (order < 0)) << Where();
    const bool keepCracks = Chance(50);
    EXPECT_EQ(FCursor->GotoBookmark(a, keepCracks), FModel->GotoBookmark(a, keepCracks))
        << Where() << " GotoBookmark";
  }

  void NextRecords() {
    // Large blocks in record order are read from the file a run at a time.
    int count = Chance(25) ? std::uniform_int_distribution<int>(16, 40)(FRandom)
                           : std::uniform_int_distribution<int>(1, 6)(FRandom);
    const int asked = count;
    std::vector<std::uint8_t> buffers(static_cast<std::size_t>(count) * FCursor->RecordSize());
    const std::uint16_t answer = FCursor->GetNextRecords(count, buffers);
    std::uint16_t expected = 0;
    int expectedRead = 0;
    for (int i = 0; i < asked; ++i) {
      expected = FModel->Next();
      if (expected != 0) break;
      const std::span<const std::uint8_t> got = std::span(buffers).subspan(
          static_cast<std::size_t>(i) * FCursor->RecordSize(), FCursor->RecordSize());
      EXPECT_EQ(IdOf(*FCursor, got), FLive[FModel->Entries[FModel->Index].RecordNo]) << Where();
      ++expectedRead;
    }
    EXPECT_EQ(answer, expected) << Where() << " GetNextRecords";
    EXPECT_EQ(count, expectedRead) << Where();
  }

  // Another cursor of the process inserts and deletes; the cursor notices at its next step.
  void ChangeRows() {
    const int changes = std::uniform_int_distribution<int>(1, 8)(FRandom);
    for (int i = 0; i < changes; ++i) {
      if (Chance(55) || FLive.empty()) {
        InsertRandom();
      } else {
        DeleteRandom();
      }
    }
    FModel->Resynchronise();
  }

  void ChangeIndex() {
    std::vector<int> choices = {kPrimaryIndexSlot, kRecordOrderIndexNo};
    for (int slot = 1; slot <= FCursor->SecondaryIndexCount(); ++slot) choices.push_back(slot);
    const int indexNo =
        choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(FRandom)];
    if (indexNo == FCursor->IndexNo()) return;
    FCursor->SetIndexNo(indexNo);
    FBookmarks.clear();
    if (FModel->RangeActive) {
      // The range belongs to the old index: the new order starts without one.
      FModel->RangeActive = false;
    }
    SwitchModel();
  }

  // Filtering on with no filter that hides anything: index order then walks Visible (the
  // range's records that are live), which must change nothing the model can see.
  void ToggleFiltered() {
    FFilterOn = !FFilterOn;
    TDataCursorTestAccess::SetFiltered(*FCursor, FFilterOn);
  }

  void GotoPhysical() {
    if (!RecordOrder() || FLive.empty()) return;
    auto it = FLive.begin();
    std::advance(it, std::uniform_int_distribution<std::size_t>(0, FLive.size() - 1)(FRandom));
    FCursor->GotoPhysical(it->first);
    FModel->Search(RecordNumberKey(it->first), false);
  }

  // --- Checks ----------------------------------------------------------------------------

  void Check() {
    std::vector<std::uint8_t> buffer(FCursor->RecordSize());
    ASSERT_EQ(FCursor->GetCurrentRecord(buffer), AnswerOf(FModel->State)) << Where();
    if (FModel->State == TState::Empty) {
      EXPECT_EQ(FCursor->PhysicalRecordNo(), 0) << Where();
    } else {
      const TEntry& e = FModel->Entries[FModel->Index];
      ASSERT_EQ(FCursor->PhysicalRecordNo(), e.RecordNo) << Where();
      if (FModel->State == TState::On) {
        EXPECT_EQ(IdOf(*FCursor, buffer), FLive[e.RecordNo]) << Where();
      }
    }
    EXPECT_EQ(FCursor->RecNo(), FModel->RecNo()) << Where();
    EXPECT_EQ(FCursor->RecordCount(), FModel->RecordCount()) << Where();
    if (!RecordOrder()) {
      EXPECT_EQ(FCursor->RangeFirst(), FModel->RangeFirst) << Where();
      EXPECT_EQ(FCursor->RangeLast(), FModel->RangeLast) << Where();
    }
    EXPECT_FALSE(FCursor->Table()->ReadLocked()) << Where() << " a read lock outlived its step";
    CheckBitmaps();
  }

  // Live holds the live records, InRange (on live records) those whose key lies in the range,
  // Visible both, and VisibleCount counts Visible; none are kept while not filtered.
  void CheckBitmaps() {
    EXPECT_EQ(FCursor->Filtered(), RecordOrder() || FFilterOn) << Where();
    if (!FCursor->Filtered()) {
      EXPECT_EQ(FCursor->VisibleRecords().Size(), 0u) << Where();
      return;
    }
    const TRecordsBitmap& live = FCursor->LiveRecords();
    const TRecordsBitmap& inRange = FCursor->InRangeRecords();
    const TRecordsBitmap& visible = FCursor->VisibleRecords();
    const auto highest = static_cast<std::uint32_t>(FCursor->Table()->Data().RecordCount());
    ASSERT_EQ(visible.Size(), highest) << Where();
    ASSERT_EQ(live.Size(), highest) << Where();
    const bool ranged = !RecordOrder() && FModel->RangeActive;
    if (!ranged) {
      EXPECT_EQ(inRange.Count(), 0u) << Where();
    }
    std::int64_t expectedCount = 0;
    for (std::uint32_t r = 1; r <= highest; ++r) {
      const auto it = FLive.find(static_cast<std::int32_t>(r));
      const bool isLive = it != FLive.end();
      bool inside = isLive;
      if (ranged && isLive) {
        TDataFile& data = FCursor->Table()->Data();
        TRecord* record = data.GetRecord(static_cast<std::int32_t>(r));
        const TKey key = FCursor->BuildKeyOf(record->Image);
        data.ReleaseRecord(record);
        inside = FModel->InRange(key);
        ASSERT_EQ(inRange.IsSet(r), inside) << Where() << " InRange of record " << r;
      }
      ASSERT_EQ(live.IsSet(r), isLive) << Where() << " Live of record " << r;
      ASSERT_EQ(visible.IsSet(r), inside) << Where() << " Visible of record " << r;
      expectedCount += inside ? 1 : 0;
    }
    EXPECT_EQ(FCursor->VisibleCount(), expectedCount) << Where();
  }

  std::string Where() const {
    return std::string(FConfig.Label) + " step " + std::to_string(FStep) + " index " +
           std::to_string(FCursor->IndexNo());
  }

  const TCursorConfig& FConfig;
  std::mt19937 FRandom;
  TScratchFolder FFolder;
  TEngineSandbox FSandbox;
  std::unique_ptr<TDataCursor> FCursor;
  std::map<std::int32_t, std::int32_t> FLive;  // record number -> ID
  std::int32_t FNextId = 1;
  TKeyFormat FKeys;
  std::unique_ptr<TIndexModel> FModel;
  std::vector<TKey> FBookmarks;
  bool FFilterOn = false;
  int FStep = 0;
};

TEST(DataCursorModel, NavigationFollowsASortedModel) {
  const TCursorConfig configs[] = {
      {"unique name, non-unique name, lazy", {.SecondaryByNameNonUnique = true}, false, 2500},
      {"descending non-unique name, strict",
       {.SecondaryByNameNonUnique = true, .Descending = true},
       true,
       2000},
      {"locale, non-unique name",
       {.SecondaryByNameNonUnique = true, .LanguageId = kGermanStandard},
       false,
       2000},
      {"no primary index", {.PrimaryOnName = false, .SecondaryByNameNonUnique = true}, false, 2000},
  };
  std::uint32_t seed = 20261210;
  for (const TCursorConfig& config : configs) {
    SCOPED_TRACE(config.Label);
    for (int round = 0; round < 3; ++round) {
      TCursorModelRun run(config, seed++);
      run.Run();
    }
  }
}

}  // namespace
}  // namespace kura
