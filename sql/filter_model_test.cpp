// Model test of cursor filters: random tables (with and without a locale, ascending and
// descending indexes, NULLs, a case-insensitive name index) and random conditions drawn from
// the forms indexes serve and those they do not. After every step the filtered walk, the
// record count and every visible record's position number are compared with a brute-force
// evaluation of the same text on every live record, while records are inserted, edited and
// deleted through the filtered cursor and through a second cursor.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/table_test_support.h"
#include "sql/filter_condition.h"
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
using testing::TEngineSandbox;
using testing::TFilterRow;
using testing::TFilterTableOptions;
using testing::TScratchFolder;
using testing::WalkIds;

using TIds = std::vector<std::int32_t>;

constexpr std::int16_t kGerman = 0x0407;
const char* const kNames[] = {"apple", "Apple",  "APPLE",   "apricot", "banana", "Band",
                              "band",  "cherry", "M\xe4rz", "Marz",    "zebra",  "Zed"};
const char* const kKinds[] = {"a", "b", "ab", "c"};

class FilterModelTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    random.seed(GetParam());
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    options.PrimaryOnId = Draw(0, 4) != 0;
    options.AmountIndex = Draw(0, 5) != 0;
    options.AmountDescending = Draw(0, 1) == 1;
    options.NameIndex = Draw(0, 2) != 0;
    options.NameCaseInsensitive = Draw(0, 1) == 1;
    options.NameDescending = Draw(0, 1) == 1;
    options.KindIndex = Draw(0, 1) == 1;
    options.LanguageId = Draw(0, 1) == 1 ? kGerman : 0;
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("F", false, FilterTable(options), false));
    filtered = Open();
    other = Open();
    for (int i = 0; i < 50; ++i) InsertFilterRow(*other, RandomRow(NewId()));
    // The orders the filtered cursor may take.
    orders = {0, kRecordOrderIndexNo};
    for (int slot = 1; slot <= filtered->SecondaryIndexCount(); ++slot) orders.push_back(slot);
  }

  std::unique_ptr<TDataCursor> Open() {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName("F");
    cursor->Open();
    return cursor;
  }

  int Draw(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

  std::int32_t NewId() {
    for (;;) {
      const std::int32_t id = Draw(1, 100000);
      if (ids.insert(id).second) return id;
    }
  }

  TFilterRow RandomRow(std::int32_t id) {
    TFilterRow row;
    row.Id = id;
    if (Draw(0, 9) != 0) row.Name = kNames[Draw(0, 11)];
    if (Draw(0, 9) != 0) row.Amount = Draw(-5, 40);
    if (Draw(0, 5) != 0) row.Kind = kKinds[Draw(0, 3)];
    return row;
  }

  std::string Number() { return std::to_string(Draw(-8, 45)); }
  std::string Quoted(const std::string& text) { return "'" + text + "'"; }
  std::string NameConstant() {
    std::string name = kNames[Draw(0, 11)];
    if (Draw(0, 2) == 0) name = name.substr(0, static_cast<std::size_t>(Draw(1, 3)));
    return name;
  }
  const char* Comparison() {
    static const char* const kOps[] = {"=", "<>", ">", ">=", "<", "<="};
    return kOps[Draw(0, 5)];
  }

  std::string Leaf() {
    // Comparisons of indexed fields come up most: they take the served paths.
    switch (Draw(0, 25)) {
      case 19:
      case 20:
      case 21:
        return std::string("ID ") + Comparison() + " " +
               std::to_string(*std::next(ids.begin(), Draw(0, static_cast<int>(ids.size()) - 1)));
      case 22:
      case 23:
      case 24:
      case 0:
        return std::string("AMOUNT ") + Comparison() + " " + Number();
      case 1:
        return Number() + " " + Comparison() + " AMOUNT";
      case 2:
        return Draw(0, 1) ? "AMOUNT IS NULL" : "AMOUNT IS NOT NULL";
      case 3:
        return Draw(0, 1) ? "NAME IS NULL" : "NAME IS NOT NULL";
      case 4:
        return std::string(Draw(0, 1) ? "AMOUNT IN (" : "AMOUNT NOT IN (") + Number() + ", " +
               Number() + ", " + Number() + ")";
      case 5:
        return std::string(Draw(0, 1) ? "AMOUNT BETWEEN " : "AMOUNT NOT BETWEEN ") + Number() +
               " AND " + Number();
      case 6:
        return std::string("NAME ") + Comparison() + " " + Quoted(NameConstant());
      case 7:
        return std::string(Draw(0, 1) ? "NAME LIKE " : "NAME NOT LIKE ") +
               Quoted(NameConstant() + "%");
      case 8:
        return std::string("UPPER(NAME) ") + Comparison() + " UPPER(" + Quoted(NameConstant()) +
               ")";
      case 9:
        return std::string("KIND ") + Comparison() + " " + Quoted(kKinds[Draw(0, 3)]);
      case 10:
        return std::string("ID ") + Comparison() + " " + std::to_string(Draw(0, 100000));
      case 11:
        return "AMOUNT + 0 > " + Number();
      case 12:
        return "AMOUNT > " + Number() + ".5";
      case 13:
        return "NAME IN ('apple', 'Band', " + Quoted(NameConstant()) + ")";
      case 14:
        return "NAME BETWEEN 'B' AND " + Quoted(NameConstant());
      case 15:
        return "KIND IN ('a', 'ab')";
      case 16:
        return "LOWER(NAME) = LOWER(" + Quoted(NameConstant()) + ")";
      case 17:
        return Draw(0, 1) ? "1 = 1" : "AMOUNT = AMOUNT";
      default:
        return std::string("AMOUNT ") + Comparison() + " " + Number();
    }
  }

  std::string Condition(int depth) {
    if (depth == 0 || Draw(0, 2) == 0) return Leaf();
    switch (Draw(0, 4)) {
      case 0:
      case 1:
        return "(" + Condition(depth - 1) + ") AND (" + Condition(depth - 1) + ")";
      case 2:
      case 3:
        return "(" + Condition(depth - 1) + ") OR (" + Condition(depth - 1) + ")";
      default:
        return "NOT (" + Condition(depth - 1) + ")";
    }
  }

  // The filtered cursor against the brute force.
  void Check(const std::string& step) {
    SCOPED_TRACE(step + " | filter " + text + " | order " + std::to_string(filtered->IndexNo()));
    const TIds expected = BruteForceIds(sandbox->Directory(), "F", filtered->IndexNo(), text);
    ASSERT_EQ(WalkIds(*filtered), expected);
    ASSERT_EQ(filtered->RecordCount(), static_cast<std::int64_t>(expected.size()));
    // Position numbers: index order counts the hidden entries, record order only the visible.
    const TIds all = BruteForceIds(sandbox->Directory(), "F", filtered->IndexNo(), "1 = 1");
    std::vector<std::uint8_t> buffer(filtered->RecordSize());
    filtered->First();
    for (std::size_t i = 0; filtered->GetNextRecord(buffer) == 0; ++i) {
      const std::int32_t id = FilterRowOf(*filtered, buffer).Id;
      const auto at = filtered->RecordOrder()
                          ? static_cast<std::int64_t>(i + 1)
                          : std::find(all.begin(), all.end(), id) - all.begin() + 1;
      ASSERT_EQ(filtered->RecNo(), at) << "id " << id;
    }
  }

  void InstallFilter() {
    filtered->DropFilter(nullptr);
    text = Condition(Draw(0, 2));
    TFilterFlags flags;
    flags.UseComplement = Draw(0, 1) == 1;
    flags.Estimate = Draw(0, 1) == 1;
    flags.AfterOthers = Draw(0, 3) == 0;
    filtered->ActivateFilter(AddFilterText(*filtered, text, flags));
  }

  // An insert, an edit or a delete through one of the cursors.
  void Change() {
    TDataCursor& cursor = Draw(0, 1) == 0 ? *filtered : *other;
    const int what = Draw(0, 2);
    if (what == 0) {
      std::vector<std::uint8_t> buffer = FilterRowBuffer(cursor, RandomRow(NewId()));
      cursor.PostInsert(buffer, Draw(0, 1) == 1);
      return;
    }
    const std::int64_t count = cursor.RecordCount();
    if (count == 0) return;
    cursor.SetRecNo(Draw(1, static_cast<int>(count)));
    std::vector<std::uint8_t> buffer(cursor.RecordSize());
    if (cursor.GetCurrentRecord(buffer) != 0) return;
    if (what == 1) {
      const TFilterRow row = RandomRow(FilterRowOf(cursor, buffer).Id);
      std::vector<std::uint8_t> edited = FilterRowBuffer(cursor, row);
      std::copy_n(buffer.begin(), 9, edited.begin());  // the record header stays
      std::vector<std::uint8_t> lock(buffer);
      ASSERT_EQ(cursor.GetCurrentRecord(lock, true), 0);
      cursor.PostEdit(edited, true, Draw(0, 1) == 1);
    } else {
      ids.erase(FilterRowOf(cursor, buffer).Id);
      cursor.DeleteRecord(buffer, Draw(0, 1) == 1);
    }
  }

  std::mt19937 random;
  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
  TFilterTableOptions options;
  std::unique_ptr<TDataCursor> filtered;
  std::unique_ptr<TDataCursor> other;
  std::vector<int> orders;
  std::set<std::int32_t> ids;
  std::string text;
};

TEST_P(FilterModelTest, FilteredCursorAgreesWithBruteForce) {
  for (int round = 0; round < 20; ++round) {
    filtered->SetIndexNo(
        orders[static_cast<std::size_t>(Draw(0, static_cast<int>(orders.size()) - 1))]);
    InstallFilter();
    ASSERT_NO_FATAL_FAILURE(Check("installed"));
    for (int step = 0; step < 6; ++step) {
      ASSERT_NO_FATAL_FAILURE(Change());
      ASSERT_NO_FATAL_FAILURE(Check("after change " + std::to_string(step)));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, FilterModelTest, ::testing::Range(1u, 13u));

// Key ranges that start, end and lie inside leaf pages of indexes many pages long, ascending
// and descending, counted and walked with and without the complement scans.
TEST(FilterManyLeafPages, ServedRangesAgreeWithBruteForce) {
  std::mt19937 random(5);
  const auto draw = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  for (const bool descending : {false, true}) {
    SCOPED_TRACE(descending ? "descending" : "ascending");
    TScratchFolder folder;
    TEngineSandbox sandbox(folder.Path());
    TFilterTableOptions options;
    options.AmountDescending = descending;
    TDataDirectory& directory = sandbox.Directory();
    directory.CloseTable(directory.CreateTable("F", false, FilterTable(options), false));
    TDataCursor cursor(directory);
    cursor.SetTableName("F");
    cursor.Open();
    for (std::int32_t id = 1; id <= 1500; ++id) {
      TFilterRow row;
      row.Id = id;
      if (draw(0, 19) != 0) row.Amount = draw(-5, 40);
      InsertFilterRow(cursor, row);
    }
    std::vector<std::string> conditions;
    for (const char* op : {"=", "<>", ">", ">=", "<", "<="}) {
      for (const int value : {-6, -5, 0, 17, 40, 41}) {
        conditions.push_back(std::string("AMOUNT ") + op + " " + std::to_string(value));
      }
      conditions.push_back(std::string("ID ") + op + " " + std::to_string(draw(1, 1500)));
    }
    for (int i = 0; i < 6; ++i) {
      const std::string low = std::to_string(draw(-6, 41));
      const std::string high = std::to_string(draw(-6, 41));
      conditions.push_back("AMOUNT BETWEEN " + low + " AND " + high);
      conditions.push_back("AMOUNT NOT BETWEEN " + low + " AND " + high);
      conditions.push_back("ID BETWEEN " + std::to_string(draw(1, 1500)) + " AND " +
                           std::to_string(draw(1, 1500)));
    }
    conditions.push_back("AMOUNT IS NULL");
    for (const int order : {static_cast<int>(kRecordOrderIndexNo), 0}) {
      cursor.SetIndexNo(order);
      for (const std::string& text : conditions) {
        const TIds expected = BruteForceIds(directory, "F", order, text);
        for (const bool complement : {false, true}) {
          SCOPED_TRACE(text + (complement ? " (complement scans)" : ""));
          TFilterFlags flags;
          flags.UseComplement = complement;
          flags.Estimate = complement;
          cursor.DropFilter(nullptr);
          cursor.ActivateFilter(AddFilterText(cursor, text, flags));
          ASSERT_EQ(cursor.RecordCount(), static_cast<std::int64_t>(expected.size()));
          if (order == 0) {
            ASSERT_EQ(WalkIds(cursor), expected);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace kura
