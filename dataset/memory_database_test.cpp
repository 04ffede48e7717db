#include "dataset/memory_database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "base/engine_error.h"
#include "dataset/kura_query.h"

namespace kura {
namespace {

using ::testing::ElementsAre;

TRecord Mondai(int mnb, std::optional<int> hnb, std::string kb1 = "", std::string kb2 = "") {
  TRecord row(7, TFieldValue::Null());
  row[0] = TFieldValue::OfInteger(mnb);
  if (hnb) row[1] = TFieldValue::OfInteger(*hnb);
  row[2] = TFieldValue::OfString(std::move(kb1));
  row[3] = TFieldValue::OfString(std::move(kb2));
  return row;
}

class MemoryDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = CreateProblemCollection();
    database_->AppendRow("mondai", Mondai(1, 3, "A", "x"));
    database_->AppendRow("mondai", Mondai(2, 1, "B", "x"));
    database_->AppendRow("mondai", Mondai(3, 2, "A", "y"));
    database_->AppendRow("mondai", Mondai(0, std::nullopt, "A", "x"));
  }

  // HNB of every row of the result, in result order (null as -1).
  std::vector<int> Run(std::string_view text, std::vector<TMarkerValue> markers = {},
                       TQueryOptions options = {true, -1}) {
    std::unique_ptr<TPreparedQuery> prepared = database_->Prepare(text, options);
    std::unique_ptr<TResultCursor> result = prepared->Execute(markers);
    std::vector<int> numbers;
    TRecord row;
    result->First();
    while (result->GetNextRecord(row) == TFetchResult::kOk)
      numbers.push_back(row[1].IsNull ? -1 : static_cast<int>(row[1].Integer));
    return numbers;
  }

  std::uint16_t ErrorCode(std::string_view text, std::vector<TMarkerValue> markers = {}) {
    try {
      Run(text, std::move(markers));
    } catch (const EKuraEngineError& error) {
      return error.ErrorCode;
    }
    return 0;
  }

  static TMarkerValue Text(std::string value) {
    return {"P", TFieldType::ftString, TFieldValue::OfString(std::move(value))};
  }
  static TMarkerValue Number(int value) {
    return {"P", TFieldType::ftInteger, TFieldValue::OfInteger(value)};
  }

  std::shared_ptr<TMemoryDatabase> database_;
};

TEST_F(MemoryDatabaseTest, AnswersTheStatementShapesTheApplicationIssues) {
  EXPECT_THAT(Run("Select *\nFrom mondai\nWhere HNB > 0\nOrder By HNB\n"), ElementsAre(1, 2, 3));
  EXPECT_THAT(Run("select * from MONDAI"), ElementsAre(3, 1, 2, -1));  // table order
  EXPECT_THAT(Run("SELECT * FROM mondai WHERE kb1 = ? ORDER BY hnb DESC;", {Text("A")}),
              ElementsAre(3, 2, -1));
  EXPECT_THAT(Run("Select * From mondai Where (KB1 = ?) and (KB2 = ?) Order By HNB",
                  {Text("A"), Text("x")}),
              ElementsAre(-1, 3));  // nulls sort first
  EXPECT_THAT(
      Run("Select * From mondai Where ((HNB > ?) and (MNB > 1)) and KB2 = 'y'", {Number(1)}),
      ElementsAre(2));
  // A number given as text compares as a number; nothing equals null.
  EXPECT_THAT(Run("Select * From mondai Where HNB = ?", {Text("2")}), ElementsAre(2));
  EXPECT_THAT(Run("Select * From mondai Where HNB = ?",
                  {{"P", TFieldType::ftInteger, TFieldValue::Null()}}),
              ElementsAre());
  EXPECT_THAT(Run("Select * From mondai Order By HNB", {}, {true, 2}), ElementsAre(-1, 1));
}

TEST_F(MemoryDatabaseTest, NumbersCompareWithTextColumnsAsText) {
  database_->AppendRow("mondai", Mondai(4, 12, "12", "x"));
  // On either side, as a constant or a parameter: the number is matched as its digits.
  EXPECT_THAT(Run("Select * From mondai Where KB1 = 12"), ElementsAre(12));
  EXPECT_THAT(Run("Select * From mondai Where 12 = KB1"), ElementsAre(12));
  EXPECT_THAT(Run("Select * From mondai Where KB1 = ?", {Number(12)}), ElementsAre(12));
  // Text that is not a number never equals 0.
  EXPECT_THAT(Run("Select * From mondai Where 0 = KB1"), ElementsAre());
  EXPECT_THAT(Run("Select * From mondai Where KB2 = ?", {Number(0)}), ElementsAre());
}

TEST_F(MemoryDatabaseTest, RefusesEverythingElseAsAnSqlError) {
  const char* const kRefused[] = {
      "",
      "Select",
      "Select HNB From mondai",
      "Select * From mondai, tejun",
      "Select * From mondai Where HNB < 3",
      "Select * From mondai Where HNB = 1 or HNB = 2",
      "Select * From mondai Where HNB >= 1",
      "Select count(*) From mondai",
      "Insert Into mondai Values (1)",
      "Delete From mondai",
      "Select * From mondai Order By HNB, MNB",
      "Select * From mondai Where Nope = 1",
      "Select * From mondai Order By Nope",
      "Select * From mondai Where (HNB = 1",
      "Select * From mondai Where CMT = 'open",
      "Select * From mondai Where HNB = 99999999999999999999",
      "Select * From mondai Where HNB = 'abc'",
      "Select * From mondai Where HNB = KB1",
      "Select * From mondai Where HNB = :HNB",
      "Select * From mondai Where HNB = 1 extra",
      "Select * From mondai Where and",
  };
  for (const char* text : kRefused) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorCode(text), 11949);
  }
  EXPECT_EQ(ErrorCode("Select * From temazu"), 11010);
  EXPECT_EQ(ErrorCode("Select * From mondai Where HNB = ?", {Text("one")}), 11949);
  EXPECT_EQ(ErrorCode("Select * From mondai Where HNB = ?"), 11949);  // a marker without value
}

TEST_F(MemoryDatabaseTest, ErrorTextSaysWhatIsWrong) {
  try {
    Run("Select * From mondai Where HNB < 3");
  } catch (const EKuraEngineError& error) {
    EXPECT_STREQ(error.what(),
                 "Kura Engine Error # 11949 SQL error - Invalid character '<' at position 32");
  }
}

TEST_F(MemoryDatabaseTest, ParenthesesNestOnlySoDeep) {
  const std::string deep = "Select * From mondai Where " + std::string(100000, '(') + "HNB = 1" +
                           std::string(100000, ')');
  EXPECT_EQ(ErrorCode(deep), 11949);
  const std::string fine =
      "Select * From mondai Where " + std::string(20, '(') + "HNB = 1" + std::string(20, ')');
  EXPECT_THAT(Run(fine), ElementsAre(1));
}

// Hostile text, random and built from the grammar's own pieces, must end in a result or an
// engine error, never a crash or a hang.
TEST_F(MemoryDatabaseTest, HostileTextNeverCrashes) {
  const char* const kPieces[] = {"Select", "*",    "From", "mondai", "tejun", "Where", "HNB",
                                 "KB1",    "=",    ">",    "and",    "(",     ")",     "?",
                                 "'x'",    "'",    "12",   "-",      "Order", "By",    "desc",
                                 ";",      "\xFF", "\x81", "\0",     ":",     "\n",    "--"};
  std::mt19937 random(11949);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const bool soup = round % 2 == 0;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) {
      if (soup) {
        text += kPieces[random() % std::size(kPieces)];
        text += ' ';
      } else {
        text += static_cast<char>(random());
      }
    }
    if (round % 3 == 0) text = "Select * From mondai Where " + text;
    try {
      std::unique_ptr<TPreparedQuery> prepared = database_->Prepare(text, {true, -1});
      std::vector<TMarkerValue> markers(std::count(text.begin(), text.end(), '?'), Number(1));
      prepared->Execute(markers);
    } catch (const EKuraEngineError& error) {
      EXPECT_TRUE(error.ErrorCode == 11949 || error.ErrorCode == 11010) << error.what();
    }
  }
}

TEST_F(MemoryDatabaseTest, LiveResultsChangeTheTable) {
  TKuraQuery query;
  query.SetProvider(database_);
  query.SetRequestLive(true);
  query.SQL().Add("Select * From mondai Where KB1 = 'A' Order By HNB");
  query.Open();
  query.Last();
  query.Edit();
  query.Fields(1).SetAsInteger(0);  // the key moves the row to the top
  query.Post();
  EXPECT_EQ(query.RecNo(), 2);
  query.Delete();
  std::vector<int> table;
  for (const TRecord& row : database_->Rows("mondai"))
    table.push_back(row[1].IsNull ? -1 : static_cast<int>(row[1].Integer));
  EXPECT_THAT(table, ElementsAre(1, 2, -1));
}

}  // namespace
}  // namespace kura
