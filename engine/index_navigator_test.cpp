// Index-order navigation on small tables: the crack model's answers, position numbers,
// ranges, key lookups, filters, bookmarks, re-synchronisation, and a step interrupted by a
// failing page read.
#include "engine/index_navigator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/navigation_test_support.h"
#include "storage/field_types.h"
#include "storage/index_file.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::test {
namespace {

constexpr std::uint16_t kBOF = codes::kBeginningOfTable;
constexpr std::uint16_t kEOF = codes::kEndOfTable;
constexpr std::uint16_t kNone = codes::kNoCurrentRecord;

// "K" and the number (appended piece by piece: GCC's -Wrestrict misreads "K" + string).
std::string KName(int number) {
  std::string name = "K";
  name += std::to_string(number);
  return name;
}

// A table of one-field keys (name only, unique) and its navigator.
struct TNamesFixture {
  explicit TNamesFixture(const std::vector<std::string>& names, TNavTableOptions options = {}) {
    options.NumberField = false;
    Table = std::make_unique<TNavTable>(options);
    for (const std::string& name : names) EXPECT_NE(Table->Insert(name), 0) << name;
    Navigator = std::make_unique<TIndexNavigator>(*Table->Store, Table->Keys, Table->Pages);
    Navigator->First();
  }
  std::string Name() const {
    std::int32_t recordNo = Navigator->PhysicalRecordNo();
    return recordNo == 0 ? std::string("-") : Table->NameOf(recordNo);
  }
  // Next() and the name read.
  std::string NextName() { return Navigator->Next() == 0 ? Name() : "eof"; }
  std::string PriorName() { return Navigator->Prior() == 0 ? Name() : "bof"; }

  std::unique_ptr<TNavTable> Table;
  std::unique_ptr<TIndexNavigator> Navigator;
};

TEST(IndexNavigator, AnEmptyTableAnswersEndOfTableNoCurrentRecordAndZeroCounts) {
  TNamesFixture t({});
  TIndexNavigator& n = *t.Navigator;
  EXPECT_EQ(n.Current(), kNone);
  EXPECT_EQ(n.Next(), kEOF);
  EXPECT_EQ(n.Prior(), kBOF);
  n.Last();
  EXPECT_EQ(n.Current(), kNone);
  EXPECT_EQ(n.RecordCount(), 0);
  EXPECT_EQ(n.RecNo(), 0);
  EXPECT_EQ(n.PhysicalRecordNo(), 0);
  EXPECT_FALSE(n.SetRecNo(1));
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("a"), 0, 0, true));
  EXPECT_EQ(n.Current(), kNone);
  EXPECT_EQ(n.Bookmark(), TKey(static_cast<std::size_t>(n.BookmarkSize()), 0));
}

TEST(IndexNavigator, ThreeRecordsForwardAndBackWithTheCracksAtBothEnds) {
  TNamesFixture t({"C", "A", "B"});
  TIndexNavigator& n = *t.Navigator;
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_EQ(t.NextName(), "A");
  EXPECT_EQ(t.NextName(), "B");
  EXPECT_EQ(t.NextName(), "C");
  EXPECT_EQ(t.NextName(), "eof");
  EXPECT_EQ(n.Current(), kEOF);
  EXPECT_EQ(t.PriorName(), "C");
  EXPECT_EQ(n.RecNo(), 3);
  n.Last();
  EXPECT_EQ(n.Current(), kEOF);
  EXPECT_EQ(t.PriorName(), "C");
  n.First();
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_EQ(t.PriorName(), "bof");
  EXPECT_EQ(t.NextName(), "A");
  EXPECT_EQ(n.RecordCount(), 3);
}

TEST(IndexNavigator, SetRecNoBelowAndPastTheEndsLeavesTheCracks) {
  TNamesFixture t({"A", "B", "C"});
  TIndexNavigator& n = *t.Navigator;
  EXPECT_FALSE(n.SetRecNo(0));
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_FALSE(n.SetRecNo(n.RecordCount() + 1));
  EXPECT_EQ(n.Current(), kEOF);
  EXPECT_TRUE(n.SetRecNo(2));
  EXPECT_EQ(n.RecNo(), 2);
  EXPECT_EQ(t.Name(), "B");
  EXPECT_EQ(n.Current(), 0);
}

TEST(IndexNavigator, ARangeFromBToDOverAToFCountsThreeAndNumbersFromItsStart) {
  TNamesFixture t({"A", "B", "C", "D", "E", "F"});
  TIndexNavigator& n = *t.Navigator;
  n.SetRange(t.Table->KeyFor("B"), 0, t.Table->KeyFor("D"), 0);
  EXPECT_EQ(n.RecordCount(), 3);
  n.First();
  EXPECT_EQ(t.NextName(), "B");
  EXPECT_EQ(t.NextName(), "C");
  EXPECT_EQ(n.RecNo(), 2);
  EXPECT_EQ(t.NextName(), "D");
  EXPECT_EQ(t.NextName(), "eof");
  EXPECT_EQ(t.PriorName(), "D");
  // A lookup outside the range goes to the range's nearer end.
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("F"), 0, 0, false));
  EXPECT_EQ(t.Name(), "D");
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("A"), 0, 0, false));
  EXPECT_EQ(t.Name(), "B");
  n.CancelRange();
  EXPECT_EQ(n.RecordCount(), 6);
  EXPECT_EQ(n.RecNo(), 2);  // still on B
}

TEST(IndexNavigator, RangesThatHoldNothing) {
  TNamesFixture t({"A", "B", "F"});
  TIndexNavigator& n = *t.Navigator;
  struct TCase {
    const char* Start;
    const char* End;
  };
  // Start above end; a gap between keys; past the last key; before the first.
  for (TCase c : {TCase{"D", "B"}, TCase{"C", "E"}, TCase{"G", "H"}, TCase{"0", "1"}}) {
    n.SetRange(t.Table->KeyFor(c.Start), 0, t.Table->KeyFor(c.End), 0);
    EXPECT_EQ(n.RecordCount(), 0) << c.Start << ".." << c.End;
    n.First();
    EXPECT_EQ(n.Current(), kNone) << c.Start << ".." << c.End;
    EXPECT_EQ(n.Next(), kEOF);
  }
}

TEST(IndexNavigator, ARangeWithOneLimitOpenRunsToTheEndOfTheIndex) {
  TNamesFixture t({"A", "B", "C", "D"});
  TIndexNavigator& n = *t.Navigator;
  n.SetRange(t.Table->KeyFor("B"), 0, {}, 0);
  EXPECT_EQ(n.RecordCount(), 3);
  n.SetRange({}, 0, t.Table->KeyFor("B"), 0);
  EXPECT_EQ(n.RecordCount(), 2);
}

TEST(IndexNavigator, ARangeOnTheFirstFieldTakesEveryNumber) {
  TNavTable table({.Unique = false});
  for (int i = 0; i < 5; ++i) {
    table.Insert("A", i);
    table.Insert("B", i);
    table.Insert("C", i);
  }
  TIndexNavigator n(*table.Store, table.Keys, table.Pages);
  n.SetRange(table.KeyFor("B", 0), 1, table.KeyFor("B", 0), 1);
  EXPECT_EQ(n.RecordCount(), 5);
  n.First();
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(n.Next(), 0);
    EXPECT_EQ(table.NameOf(n.PhysicalRecordNo()), "B");
  }
  EXPECT_EQ(n.Next(), kEOF);
}

TEST(IndexNavigator, FindKeyWithAPartialLengthFindsTheSmallestKeyStartingWithIt) {
  TNamesFixture t({"aa", "abd", "abc", "b", "ac"});
  TIndexNavigator& n = *t.Navigator;
  EXPECT_TRUE(n.FindKey(t.Table->KeyFor("ab"), 1, 2, false));
  EXPECT_EQ(t.Name(), "abc");
  EXPECT_TRUE(n.FindKey(t.Table->KeyFor("ab"), 0, 2, false));
  EXPECT_EQ(t.Name(), "abc");
  // No key starts with "ad": without nearest the cursor stays, with nearest it moves on.
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("ad"), 1, 2, false));
  EXPECT_EQ(t.Name(), "abc");
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("ad"), 1, 2, true));
  EXPECT_EQ(t.Name(), "b");
}

TEST(IndexNavigator, FindKeyPastTheLastKeyStaysWithoutNearestAndTakesTheLastRecordWithIt) {
  TNamesFixture t({"A", "B", "C"});
  TIndexNavigator& n = *t.Navigator;
  ASSERT_TRUE(n.FindKey(t.Table->KeyFor("B"), 0, 0, false));
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("Z"), 0, 0, false));
  EXPECT_EQ(t.Name(), "B");
  EXPECT_EQ(n.Current(), 0);
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("Z"), 0, 0, true));
  EXPECT_EQ(t.Name(), "C");
  EXPECT_EQ(n.Current(), 0);  // on the record, not on the end crack
  EXPECT_EQ(n.RecNo(), 3);
  // From the end crack a miss still lands on the last record.
  n.Last();
  EXPECT_FALSE(n.FindKey(t.Table->KeyFor("Z"), 0, 0, false));
  EXPECT_EQ(n.Current(), 0);
}

TEST(IndexNavigator, FindKeyOnANonUniqueIndexFindsTheFirstRecordOfTheValue) {
  TNavTable table({.Unique = false});
  table.Insert("B", 2);
  table.Insert("A", 1);
  const std::int32_t first = table.Insert("B", 1);
  table.Insert("B", 1);
  TIndexNavigator n(*table.Store, table.Keys, table.Pages);
  n.Last();
  // The RowId of the given key does not matter: the lookup compares the fields only.
  EXPECT_TRUE(n.FindKey(table.KeyFor("B", 1, 999), 0, 0, false));
  EXPECT_EQ(n.PhysicalRecordNo(), first);
  EXPECT_TRUE(n.FindKey(table.KeyFor("B", 0), 1, 0, false));
  EXPECT_EQ(n.RecNo(), 2);
  EXPECT_FALSE(n.FindKey(table.KeyFor("B", 3), 0, 0, false));
  EXPECT_EQ(n.RecNo(), 2);
}

TEST(IndexNavigator, AFilterHidingTheFirstRecordCountsTwoButNumbersCountTheHiddenEntry) {
  TNamesFixture t({"A", "B", "C", "D"});
  TIndexNavigator& n = *t.Navigator;
  TRecordsBitmap visible;
  visible.SetSize(4);
  visible.SetBit(2);
  visible.SetBit(3);  // B and C: A is hidden, D lies outside the range
  n.SetVisible(&visible);
  n.SetRange(t.Table->KeyFor("A"), 0, t.Table->KeyFor("C"), 0);
  EXPECT_EQ(n.RecordCount(), 2);
  n.First();
  EXPECT_EQ(t.NextName(), "B");
  EXPECT_EQ(n.RecNo(), 2);
  EXPECT_EQ(t.NextName(), "C");
  EXPECT_EQ(n.RecNo(), 3);
  EXPECT_EQ(t.NextName(), "eof");
  EXPECT_FALSE(n.SetRecNo(1));
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_EQ(t.NextName(), "B");
  EXPECT_EQ(t.PriorName(), "bof");
}

TEST(IndexNavigator, GotoBookmarkOfADeletedRecordAnswersFalseOnTheNextRecord) {
  TNamesFixture t({"A", "B", "C"});
  TIndexNavigator& n = *t.Navigator;
  ASSERT_TRUE(n.SetRecNo(2));
  const TKey bookmark = n.Bookmark();
  EXPECT_EQ(bookmark, t.Table->KeyFor("B"));
  t.Table->Delete(2);
  n.Resynchronise();
  EXPECT_EQ(t.Name(), "C");
  n.First();
  EXPECT_FALSE(n.GotoBookmark(bookmark, false));
  EXPECT_EQ(t.Name(), "C");
  EXPECT_EQ(n.RecNo(), 2);
  EXPECT_EQ(n.CompareBookmarks(bookmark, n.Bookmark()), -1);
  EXPECT_EQ(n.CompareBookmarks(n.Bookmark(), bookmark), 1);
  EXPECT_EQ(n.CompareBookmarks(bookmark, bookmark), 0);
}

TEST(IndexNavigator, ACrackSurvivesResynchronisationOnlyWhileItsNeighbourIsStillFirst) {
  TNamesFixture t({"B", "C"});
  TIndexNavigator& n = *t.Navigator;
  t.Table->Insert("D");
  n.Resynchronise();
  EXPECT_EQ(n.Current(), kBOF);
  EXPECT_EQ(n.RecordCount(), 3);
  t.Table->Insert("A");
  n.Resynchronise();
  EXPECT_EQ(n.Current(), 0);  // a record came before the one next to the crack
  EXPECT_EQ(t.Name(), "B");
  EXPECT_EQ(n.RecNo(), 2);
  n.Last();
  t.Table->Insert("E");
  n.Resynchronise();
  EXPECT_EQ(n.Current(), 0);
  EXPECT_EQ(t.Name(), "D");
  EXPECT_EQ(t.NextName(), "E");
}

TEST(IndexNavigator, AnotherWriterInsertingBeforeTheCurrentRecordMovesItsNumberOnByOne) {
  TNamesFixture t({"B", "D", "F"});
  TIndexNavigator& n = *t.Navigator;
  ASSERT_TRUE(n.FindKey(t.Table->KeyFor("D"), 0, 0, false));
  EXPECT_EQ(n.RecNo(), 2);
  t.Table->Insert("A");
  t.Table->Insert("E");
  n.Resynchronise();
  EXPECT_EQ(n.RecNo(), 3);
  EXPECT_EQ(t.NextName(), "E");
}

TEST(IndexNavigator, AnEmptyCursorFindsTheRecordsInsertedSinceAtTheBeginningCrack) {
  TNamesFixture t({});
  TIndexNavigator& n = *t.Navigator;
  t.Table->Insert("A");
  n.Resynchronise();
  EXPECT_EQ(n.Current(), kBOF);
  t.Table->Delete(1);
  n.Resynchronise();
  EXPECT_EQ(n.Current(), kNone);
}

TEST(IndexNavigator, PositionsOfADeepTreeComeFromTheSubtreeCounts) {
  TNavTable table({.NameSize = 40, .Unique = false});
  const int count = 5000;
  for (int i = 0; i < count; ++i) table.Insert(KName(10000 + (i * 7919) % count), i);
  TFailingStore store(*table.Store);
  TIndexNavigator n(store, table.Keys, table.Pages);
  const int before = store.Reads();
  ASSERT_TRUE(n.SetRecNo(2500));
  EXPECT_LT(store.Reads() - before, 20);  // a few paths from the root, not a walk
  EXPECT_EQ(table.NameOf(n.PhysicalRecordNo()), "K12499");
  for (int i = 0; i < 600; ++i) ASSERT_EQ(n.Next(), 0);
  EXPECT_EQ(n.RecNo(), 3100);
  EXPECT_EQ(table.NameOf(n.PhysicalRecordNo()), "K13099");
  for (int i = 0; i < 1200; ++i) ASSERT_EQ(n.Prior(), 0);
  EXPECT_EQ(n.RecNo(), 1900);
  EXPECT_EQ(table.NameOf(n.PhysicalRecordNo()), "K11899");
  n.SetRange(table.KeyFor("K11000"), 1, table.KeyFor("K11999"), 1);
  EXPECT_EQ(n.RecordCount(), 1000);
  EXPECT_EQ(n.RecNo(), 900);
  table.ExpectSound();
}

TEST(IndexNavigator, AStepInterruptedByAFailingReadLeavesThePositionAsItWas) {
  TNavTable table({.NameSize = 40});
  for (int i = 0; i < 400; ++i) table.Insert(KName(1000 + i), i);
  TFailingStore store(*table.Store);
  TIndexNavigator n(store, table.Keys, table.Pages);
  n.First();
  // Walk to the last entry of the first leaf, then fail the read of the next leaf.
  std::int32_t firstLeaf = 0;
  while (true) {
    ASSERT_EQ(n.Next(), 0);
    if (firstLeaf == 0) firstLeaf = n.Position().Leaf->PageNo;
    if (n.Position().Entry == n.Position().Leaf->Count()) break;
  }
  const TCursorPosition before = n.Position();
  const std::int64_t recNo = n.RecNo();
  store.FailAfter(1);  // the refresh of the current leaf is allowed, the next leaf is not
  try {
    n.Next();
    FAIL() << "the read did not fail";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(e.ErrorCode, codes::kIndexPagesCorrupt);
  }
  EXPECT_EQ(n.RecNo(), recNo);
  EXPECT_EQ(n.Position().Leaf, before.Leaf);
  EXPECT_EQ(n.Position().Entry, before.Entry);
  store.FailAfter(0);
  EXPECT_THROW(n.SetRecNo(300), EKuraEngineError);
  EXPECT_THROW(n.FindKey(table.KeyFor("K1300", 300), 0, 0, false), EKuraEngineError);
  EXPECT_EQ(n.RecNo(), recNo);
  store.Heal();
  ASSERT_EQ(n.Next(), 0);
  EXPECT_EQ(n.RecNo(), recNo + 1);
  EXPECT_NE(n.Position().Leaf->PageNo, firstLeaf);
}

TEST(IndexNavigator, DescendingIndexesAndLocalesOrderTheWalkAndTheLookups) {
  struct TCase {
    const char* Label;
    TNavTableOptions Options;
    std::vector<std::string> Expected;
  };
  const std::vector<std::string> names = {"b", "a", "c"};
  const TCase cases[] = {
      {"descending", {.NumberField = false, .Descending = true}, {"c", "b", "a"}},
      {"descending field", {.NumberField = false, .NameDescending = true}, {"c", "b", "a"}},
      {"locale descending field",
       {.NumberField = false, .NameDescending = true, .WithLocale = true},
       {"c", "b", "a"}},
      {"locale", {.NumberField = false, .WithLocale = true}, {"a", "b", "c"}},
  };
  for (const TCase& c : cases) {
    TNamesFixture t(names, c.Options);
    std::vector<std::string> walked;
    while (t.Navigator->Next() == 0) walked.push_back(t.Name());
    EXPECT_EQ(walked, c.Expected) << c.Label;
    // A range from the first to the second key in the index's own order.
    t.Navigator->SetRange(t.Table->KeyFor(c.Expected[0]), 0, t.Table->KeyFor(c.Expected[1]), 0);
    EXPECT_EQ(t.Navigator->RecordCount(), 2) << c.Label;
    t.Navigator->CancelRange();
    EXPECT_TRUE(t.Navigator->FindKey(t.Table->KeyFor("b"), 1, 0, false)) << c.Label;
    EXPECT_EQ(t.Name(), "b") << c.Label;
    EXPECT_EQ(t.Navigator->RecNo(), 2) << c.Label;
  }
}

TEST(IndexNavigator, ADamagedLeafChainOrCountGivesAnEngineErrorNotALoop) {
  TNavTable table({.NameSize = 200});
  for (int i = 0; i < 60; ++i) table.Insert(KName(1000 + i), i);
  // Find the first two leaves.
  std::int32_t first = 0;
  {
    TPageRef root(*table.Store, table.Store->GetPage(table.Store->RootPage()));
    ASSERT_FALSE(root->IsLeaf());
    first = root->ChildOrRecord(1);
  }
  TRecordsBitmap nothing;
  nothing.SetSize(60);
  struct TDamage {
    const char* Label;
    std::function<void(TPage& first, TPage& second)> Apply;
  };
  const TDamage damages[] = {
      {"chain in a circle",
       [](TPage& a, TPage& b) {
         b.NextPage = a.PageNo();
         a.PrevPage = b.PageNo();
       }},
      {"next link to a branch", [&](TPage&, TPage& b) { b.NextPage = table.Store->RootPage(); }},
      {"links that disagree", [](TPage& a, TPage&) { a.NextPage = a.PageNo(); }},
  };
  for (const TDamage& damage : damages) {
    TNavTable damaged({.NameSize = 200});
    for (int i = 0; i < 60; ++i) damaged.Insert(KName(1000 + i), i);
    {
      TPageRef a(*damaged.Store, damaged.Store->GetPage(first));
      TPageRef b(*damaged.Store, damaged.Store->GetPage(a->NextPage));
      damage.Apply(*a, *b);
    }
    TIndexNavigator n(*damaged.Store, damaged.Keys, damaged.Pages);
    n.SetVisible(&nothing);
    std::uint16_t code = 0;
    try {
      n.First();
      n.Last();
      n.SetVisible(nullptr);
      n.First();
      for (int i = 0; i < 200; ++i) n.Next();
    } catch (const EKuraEngineError& e) {
      code = e.ErrorCode;
    }
    EXPECT_EQ(code, codes::kIndexPagesCorrupt) << damage.Label;
  }
}

// The index of a table file, read through its page cache of 2 pages: what the cursor will use.
TEST(IndexNavigator, WalksAnIndexFileThroughItsSmallPageCacheAndLeavesNoPagePinned) {
  TFieldDescriptor field;
  field.FieldName = "N";
  field.FieldType = kFieldTypeInteger;
  std::vector<TFieldDescriptor> fields = {field};
  const std::size_t recordSize = LayoutFields(fields);
  TIndexFile file;
  file.SetFileName("index_navigator_test.IDX");
  file.SetInMemory(true);
  file.SetTable(fields, {}, false);
  file.CreateFile();
  TIndexDefinition definition;
  definition.Name = "ByN";
  definition.Fields = {1};
  const int slot = file.AddSecondaryIndex(definition);
  std::mt19937 random(5);
  std::vector<std::int32_t> values;
  TIndexTree tree = file.Tree(slot);
  auto insert = [&](std::int32_t value) {
    std::vector<std::uint8_t> record(recordSize, 0);
    std::uint8_t bytes[4];
    PutI32LE(bytes, value);
    SetField(record, fields[0], bytes, false, {});
    const auto recordNo = static_cast<std::int32_t>(values.size() + 1);
    SetRowId(record, recordNo);
    TKey key(static_cast<std::size_t>(file.KeyFormat(slot).KeyLength));
    BuildKey(file.KeyFormat(slot), record, key);
    ASSERT_TRUE(tree.Insert(key.data(), recordNo));
    values.push_back(value);
  };
  for (int i = 0; i < 3000; ++i) insert(static_cast<std::int32_t>(random() % 1000) - 500);
  file.WriteChangedPages();
  TIndexNavigator n(file.Store(slot), file.KeyFormat(slot), file.PageFormat(slot));
  auto pinned = [&] {
    int count = 0;
    file.Cache(slot).ForEach([&count](const TPage* page) { count += page->Pinned() ? 1 : 0; });
    return count;
  };
  std::vector<std::int32_t> walked;
  n.First();
  while (n.Next() == 0)
    walked.push_back(values[static_cast<std::size_t>(n.PhysicalRecordNo() - 1)]);
  std::vector<std::int32_t> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(walked, sorted);
  EXPECT_EQ(pinned(), 0);
  ASSERT_TRUE(n.SetRecNo(1500));
  EXPECT_EQ(values[static_cast<std::size_t>(n.PhysicalRecordNo() - 1)], sorted[1499]);
  for (int i = 0; i < 500; ++i) insert(static_cast<std::int32_t>(random() % 1000) - 500);
  n.Resynchronise();
  EXPECT_EQ(n.RecordCount(), 3500);
  EXPECT_EQ(pinned(), 0);
  EXPECT_TRUE(file.CheckTree(slot).Ok());
  file.DiscardPages();
  file.Close();
  file.DeleteFile();
}

}  // namespace
}  // namespace kura::test
