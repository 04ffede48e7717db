// Filters on real table files: compiling filter texts and their refusals, the filter list,
// conditions answered from indexes without reading records, the records read where they are
// not, ranges with filters, the upkeep after the cursor's own changes, clones, callbacks and
// text search.
#include "sql/filter_condition.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/table_test_support.h"
#include "sql/filter_test_support.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::BruteForceIds;
using testing::FilterRowBuffer;
using testing::FilterRowOf;
using testing::FilterTable;
using testing::InsertFilterRow;
using testing::RaisedCode;
using testing::TEngineSandbox;
using testing::TFilterRow;
using testing::TFilterTableOptions;
using testing::TScratchFolder;
using testing::WalkIds;

using TIds = std::vector<std::int32_t>;

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox = std::make_unique<TEngineSandbox>(folder.Path()); }

  std::unique_ptr<TDataCursor> MakeTable(const TFilterTableOptions& options,
                                         const std::vector<TFilterRow>& rows) {
    TDataDirectory& directory = sandbox->Directory();
    TDataTable& table = directory.CreateTable("F", false, FilterTable(options), false);
    directory.CloseTable(table);
    auto cursor = OpenCursor();
    for (const TFilterRow& row : rows) InsertFilterRow(*cursor, row);
    return cursor;
  }

  std::unique_ptr<TDataCursor> OpenCursor() {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName("F");
    cursor->Open();
    return cursor;
  }

  // Adds and activates a text filter.
  static TFilter* Filter(TDataCursor& cursor, const std::string& text, TFilterFlags flags = {}) {
    TFilter* filter = AddFilterText(cursor, text, flags);
    cursor.ActivateFilter(filter);
    return filter;
  }

  // Rows 1..n with AMOUNT = 10 × ID, NAME "N<id>", KIND "k<id mod 3>".
  static std::vector<TFilterRow> Numbered(int n) {
    std::vector<TFilterRow> rows;
    for (int id = 1; id <= n; ++id) {
      rows.push_back({id, "N" + std::to_string(id), id * 10, "k" + std::to_string(id % 3), {}});
    }
    return rows;
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
};

TEST_F(FilterTest, FilterTextsThatAreRefused) {
  auto cursor = MakeTable({}, Numbered(3));
  struct TCase {
    const char* Text;
    const char* MessagePart;
  };
  const TCase cases[] = {
      {"", "filter expression is empty"},
      {"   ", "filter expression is empty"},
      {"AMOUNT + 1", "filter expression must be a boolean expression"},
      {"NAME", "filter expression must be a boolean expression"},
      {"NOSUCH = 1", ""},
      {"AMOUNT = ", ""},
      {"AMOUNT = 1 1", ""},
      {"AMOUNT = ?", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    try {
      AddFilterText(*cursor, c.Text, {});
      ADD_FAILURE() << "accepted";
    } catch (const EKuraEngineError& error) {
      EXPECT_EQ(error.ErrorCode, codes::kFilterError);
      EXPECT_NE(std::string(error.what()).find(c.MessagePart), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(cursor->Filters().empty());
  EXPECT_EQ(RaisedCode([&] { cursor->AddFilter(nullptr, {}, {}); }), codes::kFilterError);
}

TEST_F(FilterTest, FilterListLimitsAndHandles) {
  auto cursor = MakeTable({}, Numbered(3));
  std::vector<TFilter*> filters;
  for (std::size_t i = 0; i < kMaxCursorFilters; ++i)
    filters.push_back(AddFilterText(*cursor, "AMOUNT > 0", {}));
  EXPECT_EQ(RaisedCode([&] { AddFilterText(*cursor, "AMOUNT > 0", {}); }), codes::kTooManyFilters);
  TFilter* dropped = filters.back();
  cursor->DropFilter(dropped);
  EXPECT_EQ(RaisedCode([&] { cursor->DropFilter(dropped); }), codes::kInvalidFilterHandle);
  EXPECT_EQ(RaisedCode([&] { cursor->ActivateFilter(dropped); }), codes::kInvalidFilterHandle);
  EXPECT_EQ(RaisedCode([&] { cursor->DeactivateFilter(dropped); }), codes::kInvalidFilterHandle);
  // Replacing needs an active expression filter.
  EXPECT_EQ(RaisedCode([&] {
              cursor->ReplaceFilterExpression(filters[0],
                                              CompileFilterText(*cursor, "AMOUNT > 10", {}));
            }),
            codes::kInvalidFilterHandle);
  // An active filter takes a new condition in place.
  cursor->ActivateFilter(filters[0]);
  EXPECT_EQ(cursor->RecordCount(), 3);
  cursor->ReplaceFilterExpression(filters[0], CompileFilterText(*cursor, "AMOUNT > 10", {}));
  EXPECT_EQ(cursor->RecordCount(), 2);
  EXPECT_EQ(cursor->Filters()[0].get(), filters[0]);
  cursor->DropFilter(nullptr);
  EXPECT_TRUE(cursor->Filters().empty());
  EXPECT_FALSE(cursor->Filtered());
  EXPECT_EQ(cursor->RecordCount(), 3);
}

TEST_F(FilterTest, FiltersAfterOthersStayAtTheEnd) {
  auto cursor = MakeTable({}, Numbered(3));
  TFilterFlags after;
  after.AfterOthers = true;
  TFilter* a = AddFilterText(*cursor, "AMOUNT > 0", after);
  TFilter* b = AddFilterText(*cursor, "AMOUNT > 1", {});
  TFilter* c = AddFilterText(*cursor, "AMOUNT > 2", after);
  TFilter* d = AddFilterText(*cursor, "AMOUNT > 3", {});
  std::vector<TFilter*> order;
  for (const auto& f : cursor->Filters()) order.push_back(f.get());
  EXPECT_EQ(order, (std::vector<TFilter*>{b, d, a, c}));
}

TEST_F(FilterTest, TrailingAsteriskComparesTheStartUnlessToldOtherwise) {
  auto cursor = MakeTable({.NameIndex = true}, {{1, "Smith", 1, {}, {}},
                                                {2, "Smithers", 2, {}, {}},
                                                {3, "Smi*", 3, {}, {}},
                                                {4, "Sm", 4, {}, {}},
                                                {5, "smith", 5, {}, {}}});
  Filter(*cursor, "NAME = 'Smi*'");
  EXPECT_EQ(WalkIds(*cursor), (TIds{1, 2, 3}));
  cursor->DropFilter(nullptr);
  TFilterFlags literal;
  literal.NoPartialCompare = true;
  Filter(*cursor, "NAME = 'Smi*'", literal);
  EXPECT_EQ(WalkIds(*cursor), (TIds{3}));
  cursor->DropFilter(nullptr);
  TFilterFlags anyCase;
  anyCase.CaseInsensitive = true;
  Filter(*cursor, "NAME = 'smi*'", anyCase);
  EXPECT_EQ(WalkIds(*cursor), (TIds{1, 2, 3, 5}));
  cursor->DropFilter(nullptr);
  Filter(*cursor, "NAME LIKE 'Smi%'");
  EXPECT_EQ(WalkIds(*cursor), (TIds{1, 2, 3}));
  cursor->DropFilter(nullptr);
  // A wildcard inside the pattern keeps LIKE's own matching.
  Filter(*cursor, "NAME LIKE 'S%h%'");
  EXPECT_EQ(WalkIds(*cursor), (TIds{1, 2}));
  cursor->DropFilter(nullptr);
  Filter(*cursor, "NAME NOT LIKE 'Smi%'");
  EXPECT_EQ(WalkIds(*cursor), (TIds{4, 5}));
}

// Served conditions read no record; the rest read each candidate once.
TEST_F(FilterTest, RecordsReadForServedAndUnservedConditions) {
  auto cursor = MakeTable({.KindIndex = false}, Numbered(40));
  struct TCase {
    const char* Text;
    std::int64_t RecordsRead;
    int Level;
  };
  const TCase cases[] = {
      {"AMOUNT > 100", 0, kLevelServed},
      {"ID >= 5 AND ID <= 9", 0, kLevelServed},
      {"AMOUNT IN (10, 30, 999)", 0, kLevelServed},
      {"AMOUNT BETWEEN 100 AND 150", 0, kLevelServed},
      {"AMOUNT NOT BETWEEN 100 AND 150", 0, kLevelServed},
      {"AMOUNT IS NULL", 0, kLevelServed},
      {"NOT (AMOUNT = 50)", 0, kLevelServed},
      {"AMOUNT = 50 OR ID = 7", 0, kLevelServed},
      {"100 < AMOUNT", 0, kLevelServed},
      {"AMOUNT > 50 + 50", 0, kLevelServed},
      // Unserved: every live record once.
      {"KIND = 'k1'", 40, kLevelRecords},
      {"AMOUNT + 0 > 100", 40, kLevelRecords},
      {"AMOUNT > 100.5", 40, kLevelRecords},
      // An AND with one served side reads only what that side selected.
      {"AMOUNT = 60 AND KIND = 'k0'", 1, kLevelPartly},
      {"KIND = 'k0' AND AMOUNT <= 60", 6, kLevelPartly},
      // An OR with an unserved side reads everything.
      {"AMOUNT = 60 OR KIND = 'k0'", 40, kLevelRecords},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::int64_t before = cursor->FilterRecordsRead();
    TFilter* filter = Filter(*cursor, c.Text);
    EXPECT_EQ(cursor->FilterRecordsRead() - before, c.RecordsRead);
    EXPECT_EQ(filter->OptimizeLevel(), c.Level);
    EXPECT_EQ(WalkIds(*cursor), BruteForceIds(sandbox->Directory(), "F", 0, c.Text));
    EXPECT_EQ(cursor->RecordCount(), static_cast<std::int64_t>(WalkIds(*cursor).size()));
    cursor->DropFilter(filter);
  }
}

TEST_F(FilterTest, WideRangesAreScannedTheOtherWayRound) {
  // 10 live records, 7 of them with AMOUNT >= 50: the complement scan gives the same answer.
  std::vector<TFilterRow> rows;
  for (int id = 1; id <= 10; ++id) rows.push_back({id, {}, id <= 3 ? id : 40 + id, {}, {}});
  auto cursor = MakeTable({}, rows);
  for (const bool complement : {false, true}) {
    TFilterFlags flags;
    flags.UseComplement = complement;
    flags.Estimate = complement;
    TFilter* filter = Filter(*cursor, "AMOUNT >= 5", flags);
    EXPECT_EQ(WalkIds(*cursor), (TIds{4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(cursor->RecordCount(), 7);
    cursor->DropFilter(filter);
    filter = Filter(*cursor, "AMOUNT <> 2 AND AMOUNT < 49", flags);
    EXPECT_EQ(WalkIds(*cursor), (TIds{1, 3, 4, 5, 6, 7, 8}));
    cursor->DropFilter(filter);
  }
}

TEST_F(FilterTest, PositionsCountHiddenEntriesInIndexOrder) {
  auto cursor = MakeTable({}, Numbered(3));
  Filter(*cursor, "ID <> 1");
  EXPECT_EQ(cursor->RecordCount(), 2);
  std::vector<std::uint8_t> buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(FilterRowOf(*cursor, buffer).Id, 2);
  EXPECT_EQ(cursor->RecNo(), 2);
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(cursor->RecNo(), 3);
  EXPECT_FALSE(cursor->SetRecNo(1));
  EXPECT_TRUE(cursor->AtBOF());
  // A key search does not land on a hidden record.
  std::vector<std::uint8_t> row = FilterRowBuffer(*cursor, {1, {}, {}, {}, {}});
  EXPECT_FALSE(cursor->FindKey(false, row, buffer, 0, false, 0));
  EXPECT_FALSE(cursor->FindKey(false, row, buffer, 0, true, 0));
  EXPECT_EQ(FilterRowOf(*cursor, buffer).Id, 2);
  row = FilterRowBuffer(*cursor, {3, {}, {}, {}, {}});
  EXPECT_TRUE(cursor->FindKey(false, row, buffer, 0, false, 0));
  // The bookmark of a record the filter hides is not reached.
  const std::vector<std::uint8_t> bookmark = cursor->GetBookmark();
  cursor->DeactivateFilter(nullptr);
  std::vector<std::uint8_t> first(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(first), 0);
  const std::vector<std::uint8_t> hidden = cursor->GetBookmark();
  cursor->ActivateFilter(nullptr);
  EXPECT_TRUE(cursor->GotoBookmark(bookmark, false));
  EXPECT_FALSE(cursor->GotoBookmark(hidden, false));
}

TEST_F(FilterTest, RangeAndFilterTogether) {
  auto cursor = MakeTable({}, Numbered(20));
  std::vector<std::uint8_t> low = FilterRowBuffer(*cursor, {5, {}, {}, {}, {}});
  std::vector<std::uint8_t> high = FilterRowBuffer(*cursor, {14, {}, {}, {}, {}});
  cursor->SetRange(false, low, 1, high, 1);
  Filter(*cursor, "KIND = 'k0'");
  EXPECT_EQ(WalkIds(*cursor), (TIds{6, 9, 12}));
  EXPECT_EQ(cursor->RecordCount(), 3);
  cursor->CancelRange();
  EXPECT_EQ(cursor->RecordCount(), 6);
}

TEST_F(FilterTest, OwnChangesKeepTheBitmapsCurrent) {
  auto cursor = MakeTable({}, Numbered(10));
  Filter(*cursor, "AMOUNT >= 50 AND KIND <> 'k2'");
  const TIds before = WalkIds(*cursor);
  EXPECT_EQ(before, (TIds{6, 7, 9, 10}));
  // An insert that fails the filter: nothing visible changes.
  std::vector<std::uint8_t> failing = FilterRowBuffer(*cursor, {0, "x", 1, "k0", {}});
  cursor->PostInsert(failing, true);
  EXPECT_EQ(cursor->RecordCount(), 4);
  {
    // The cursor stands on the nearest visible record, not on the hidden new one.
    std::vector<std::uint8_t> current(cursor->RecordSize());
    ASSERT_EQ(cursor->GetCurrentRecord(current), 0);
    EXPECT_EQ(FilterRowOf(*cursor, current).Id, 6);
  }
  EXPECT_EQ(WalkIds(*cursor), before);
  // One that passes shows up; an edit out of the filter hides it again.
  std::vector<std::uint8_t> passing = FilterRowBuffer(*cursor, {12, "y", 500, "k0", {}});
  cursor->PostInsert(passing, true);
  EXPECT_EQ(cursor->RecordCount(), 5);
  std::vector<std::uint8_t> buffer(cursor->RecordSize());
  ASSERT_EQ(cursor->GetCurrentRecord(buffer), 0);
  EXPECT_EQ(FilterRowOf(*cursor, buffer).Id, 12);
  std::uint8_t value[4];
  PutI32LE(value, 5);
  cursor->SetField(testing::kAmountField, buffer, value);
  cursor->PostEdit(buffer, true, true);
  EXPECT_EQ(cursor->RecordCount(), 4);
  EXPECT_EQ(WalkIds(*cursor), before);
  // A delete.
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  cursor->DeleteRecord(buffer, true);
  EXPECT_EQ(cursor->RecordCount(), 3);
  EXPECT_EQ(WalkIds(*cursor), (TIds{7, 9, 10}));
  EXPECT_EQ(WalkIds(*cursor),
            BruteForceIds(sandbox->Directory(), "F", 0, "AMOUNT >= 50 AND KIND <> 'k2'"));
}

TEST_F(FilterTest, ChangesThroughAnotherCursorAreSeen) {
  auto cursor = MakeTable({}, Numbered(10));
  Filter(*cursor, "AMOUNT > 70");
  EXPECT_EQ(WalkIds(*cursor), (TIds{8, 9, 10}));
  auto other = OpenCursor();
  InsertFilterRow(*other, {20, {}, 900, {}, {}});
  InsertFilterRow(*other, {21, {}, 9, {}, {}});
  EXPECT_EQ(WalkIds(*cursor), (TIds{8, 9, 10, 20}));
  EXPECT_EQ(cursor->RecordCount(), 4);
}

// Another process inserts a passing and a failing record after the current one and deletes
// a visible one: the next step of the filtered cursor walks the new state.
class FilterProcessTest : public FilterTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FilterProcessTest, AnotherProcessChangesRecordsWhileAFilteredCursorWalks) {
  {
    const bool strict = GetParam();
    sandbox->Session().SetStrictChangeDetection(strict);
    auto cursor = MakeTable({}, Numbered(12));
    cursor->SetIndexName("ByAmount");
    Filter(*cursor, "AMOUNT > 50 AND KIND = 'k0'");
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    cursor->First();
    ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
    ASSERT_EQ(FilterRowOf(*cursor, buffer).Id, 6);
    const int child = testing::RunInAnotherProcess(folder.Path(), [](TEngineSandbox& box) {
      TDataCursor writer(box.Directory());
      writer.SetTableName("F");
      writer.Open();
      InsertFilterRow(writer, {50, {}, 65, "k0", {}});
      InsertFilterRow(writer, {51, {}, 70, "k1", {}});
      writer.SetRecNo(12);
      std::vector<std::uint8_t> row(writer.RecordSize());
      if (writer.GetCurrentRecord(row) == 0) writer.DeleteRecord(row, false);
    });
    ASSERT_EQ(child, 0);
    if (!strict) {
      // Lazily the change shows once a read misses the cache.
      cursor->Table()->Index().DiscardPages();
      cursor->Table()->Data().RecordCache().Discard();
    }
    ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
    EXPECT_EQ(FilterRowOf(*cursor, buffer).Id, 50);
    ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
    EXPECT_EQ(FilterRowOf(*cursor, buffer).Id, 9);
    EXPECT_EQ(cursor->GetNextRecord(buffer), codes::kEndOfTable);
    EXPECT_EQ(cursor->RecordCount(), 3);
    EXPECT_EQ(WalkIds(*cursor),
              BruteForceIds(sandbox->Directory(), "F", 1, "AMOUNT > 50 AND KIND = 'k0'"));
  }
}

INSTANTIATE_TEST_SUITE_P(StrictAndLazy, FilterProcessTest, ::testing::Bool());

TEST_F(FilterTest, ClonesCarryTheFilters) {
  auto cursor = MakeTable({}, Numbered(10));
  Filter(*cursor, "AMOUNT > 30");
  AddFilterText(*cursor, "ID = 1", {});  // inactive, stays inactive
  TFilterFlags after;
  after.AfterOthers = true;
  cursor->ActivateFilter(cursor->AddFilter(
      {}, [](TDataCursor&, std::span<const std::uint8_t>, std::int32_t n) { return n % 2 == 0; },
      after));
  std::vector<std::uint8_t> buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  auto clone = cursor->Clone();
  ASSERT_EQ(clone->Filters().size(), 3u);
  EXPECT_FALSE(clone->Filters()[1]->Active());
  EXPECT_EQ(WalkIds(*clone), WalkIds(*cursor));
  EXPECT_EQ(WalkIds(*clone), (TIds{4, 6, 8, 10}));
  cursor->DropFilter(nullptr);
  EXPECT_EQ(clone->RecordCount(), 4);
}

TEST_F(FilterTest, CallbackAfterATextFilterSeesOnlyItsRecords) {
  auto cursor = MakeTable({}, Numbered(12));
  std::vector<std::int32_t> asked;
  TFilterFlags after;
  after.AfterOthers = true;
  TFilter* callback = cursor->AddFilter(
      {},
      [&](TDataCursor& c, std::span<const std::uint8_t> record, std::int32_t) {
        asked.push_back(FilterRowOf(c, record).Id);
        return true;
      },
      after);
  AddFilterText(*cursor, "KIND = 'k1'", {});
  cursor->ActivateFilter(nullptr);
  EXPECT_EQ(cursor->Filters().back().get(), callback);
  EXPECT_EQ(asked, (TIds{1, 4, 7, 10}));
  EXPECT_EQ(WalkIds(*cursor), (TIds{1, 4, 7, 10}));
}

TEST_F(FilterTest, RecordNumberOrderWithFilters) {
  auto cursor = MakeTable({.PrimaryOnId = false}, Numbered(8));
  Filter(*cursor, "AMOUNT BETWEEN 20 AND 60 AND KIND <> 'k0'");
  EXPECT_EQ(WalkIds(*cursor), (TIds{2, 4, 5}));
  EXPECT_EQ(cursor->RecordCount(), 3);
  EXPECT_TRUE(cursor->SetRecNo(2));
  std::vector<std::uint8_t> buffer(cursor->RecordSize());
  ASSERT_EQ(cursor->GetCurrentRecord(buffer), 0);
  EXPECT_EQ(FilterRowOf(*cursor, buffer).Id, 4);
}

TEST(FilterTextSearch, WordsAndPrefixes) {
  TTextIndexParams params = DefaultTextIndexParams();
  params.StopWords = {"THE"};
  const TTableLocale locale{};
  struct TCase {
    const char* Search;
    const char* Text;
    bool Found;
    std::int32_t Occurs;
  };
  const TCase cases[] = {
      {"the quick", "The quick brown fox", true, 1},
      {"quick*", "The quick brown fox", true, 1},
      {"slow", "The quick brown fox", false, 0},
      {"QUICK fox", "the quick brown fox, quick!", true, 3},
      {"qu*", "quiet quick quark", true, 3},
      {"the", "the quick", false, 0},
      {"", "anything", false, 0},
      {"brown", "", false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Search) + " in " + c.Text);
    EXPECT_EQ(TextSearch(c.Search, c.Text, params, locale), c.Found);
    EXPECT_EQ(TextOccurs(c.Search, c.Text, params, locale), c.Occurs);
  }
}

TEST_F(FilterTest, TextSearchServedAndRecordByRecordAgree) {
  auto cursor = MakeTable({.TextIndexOnNote = true}, {{1, {}, 1, {}, "The quick brown fox"},
                                                      {2, {}, 2, {}, "a slow brown dog"},
                                                      {3, {}, 3, {}, "quicksilver"},
                                                      {4, {}, 4, {}, {}}});
  TTextIndexParams params = cursor->TextIndexParams();
  params.StopWords.push_back("THE");
  cursor->SetTextIndexParams(params);
  struct TCase {
    const char* Words;
    TIds Ids;
  };
  const TCase cases[] = {
      {"the quick", {1}}, {"quick*", {1, 3}}, {"brown", {1, 2}}, {"slow quick", {}}, {"the", {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Words);
    const std::string served = std::string("TEXTSEARCH('") + c.Words + "' IN NOTE) = TRUE";
    const std::int64_t before = cursor->FilterRecordsRead();
    TFilter* filter = Filter(*cursor, served);
    EXPECT_EQ(filter->OptimizeLevel(), kLevelServed);
    EXPECT_EQ(cursor->FilterRecordsRead(), before);
    EXPECT_EQ(WalkIds(*cursor), c.Ids);
    cursor->DropFilter(filter);
    filter = Filter(*cursor, std::string("TEXTSEARCH('") + c.Words + "' IN NOTE)");
    EXPECT_EQ(filter->OptimizeLevel(), kLevelRecords);
    EXPECT_EQ(WalkIds(*cursor), c.Ids);
    cursor->DropFilter(filter);
  }
}

TEST_F(FilterTest, AnalysingWithoutInstalling) {
  auto cursor = MakeTable({.NameIndex = true, .NameCaseInsensitive = true}, Numbered(20));
  struct TCase {
    const char* Text;
    int Level;
  };
  const TCase cases[] = {
      {"AMOUNT = 10", kLevelServed},
      {"ID > 3 AND KIND = 'k1'", kLevelPartly},
      {"KIND = 'k1' AND ID > 3", kLevelPartly},
      {"KIND = 'k1' OR ID > 3", kLevelRecords},
      // The name index is case-insensitive: only a case-insensitive comparison uses it.
      {"NAME = 'N1'", kLevelRecords},
      {"UPPER(NAME) = UPPER('n1')", kLevelServed},
      {"LOWER(NAME) = LOWER('n1')", kLevelRecords},
      {"NAME IS NULL", kLevelServed},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    auto condition = CompileFilterText(*cursor, c.Text, {});
    EXPECT_EQ(cursor->AnalyseCondition(*condition, true, false), c.Level);
    EXPECT_TRUE(cursor->Filters().empty());
    TFilter* filter = Filter(*cursor, c.Text);
    EXPECT_EQ(WalkIds(*cursor), BruteForceIds(sandbox->Directory(), "F", 0, c.Text));
    cursor->DropFilter(filter);
  }
  // The case-insensitive option turns the comparison into one the index serves.
  TFilterFlags anyCase;
  anyCase.CaseInsensitive = true;
  auto condition = CompileFilterText(*cursor, "NAME = 'n1'", anyCase);
  EXPECT_EQ(cursor->AnalyseCondition(*condition, false, false), kLevelServed);
  Filter(*cursor, "NAME = 'n1'", anyCase);
  EXPECT_EQ(WalkIds(*cursor), (TIds{1}));
}

TEST_F(FilterTest, NinetyPercentRuleLeavesWideConditionsToTheRecords) {
  auto cursor = MakeTable({}, Numbered(20));
  auto wide = CompileFilterText(*cursor, "AMOUNT > 5", {});
  EXPECT_EQ(cursor->AnalyseCondition(*wide, true, true), kLevelRecords);
  EXPECT_EQ(cursor->AnalyseCondition(*wide, true, false), kLevelServed);
  // Beside a served side it is served after all.
  auto both = CompileFilterText(*cursor, "AMOUNT > 5 AND ID = 3", {});
  EXPECT_EQ(cursor->AnalyseCondition(*both, true, true), kLevelServed);
}

}  // namespace
}  // namespace kura
