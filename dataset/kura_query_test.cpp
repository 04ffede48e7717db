#include "dataset/kura_query.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/engine_error.h"
#include "dataset/memory_database.h"

namespace kura {
namespace {

using ::testing::ElementsAre;

TRecord Tejun(int hnb, int tes) {
  return {TFieldValue::Null(),       TFieldValue::OfInteger(hnb), TFieldValue::OfInteger(tes),
          TFieldValue::OfInteger(1), TFieldValue::OfInteger(100), TFieldValue::OfInteger(0),
          TFieldValue::OfInteger(0), TFieldValue::Null()};
}

class KuraQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = CreateProblemCollection();
    for (int hnb : {5, 6, 5}) database_->AppendRow("tejun", Tejun(hnb, 0));
    query_.SetProvider(database_);
    query_.SetRequestLive(true);
  }

  std::vector<std::string> ParamNames() {
    std::vector<std::string> names;
    for (const TParam& param : query_.Params()) names.push_back(param.Name());
    return names;
  }

  std::string OpenError() {
    try {
      query_.Open();
    } catch (const EDatabaseError& error) {
      return error.what();
    }
    return "opened";
  }

  std::shared_ptr<TMemoryDatabase> database_;
  TKuraQuery query_;
};

TEST_F(KuraQueryTest, ParameterValueSurvivesLinesAddedAfterIt) {
  query_.SQL().Add("Select *");
  query_.SQL().Add("From tejun");
  query_.SQL().Add("Where HNB = :HNB");
  query_.Params()[0].SetAsInteger(5);
  query_.SQL().Add("");  // a fourth line re-reads the parameters
  ASSERT_EQ(query_.Params().Count(), 1);
  EXPECT_EQ(query_.Params()[0].AsInteger(), 5);
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 2);
  // Clearing the text drops the parameter; its value does not come back with the name.
  query_.SQL().Clear();
  query_.SQL().Add("Select * From tejun Where HNB = :HNB");
  EXPECT_EQ(query_.Params()[0].DataType(), TFieldType::ftUnknown);
}

TEST_F(KuraQueryTest, ParametersAreNumberedByFirstOccurrence) {
  query_.SQL().Add("Select * From mondai");
  query_.SQL().Add("Where (KB1 = :KB1) and (KB2 = :KB2) and (KB1 = :kb1)");
  EXPECT_THAT(ParamNames(), ElementsAre("KB1", "KB2"));
  EXPECT_EQ(query_.ProcessedText(),
            "Select * From mondai\nWhere (KB1 = ?) and (KB2 = ?) and (KB1 = ?)\n");
  // Colons inside quotes and doubled colons are text.
  query_.SQL().SetText("Select * From mondai Where CMT = 'a:b' and X = :\"Odd name\" and Y::Z");
  EXPECT_THAT(ParamNames(), ElementsAre("Odd name"));
  EXPECT_EQ(query_.ProcessedText(), "Select * From mondai Where CMT = 'a:b' and X = ? and Y::Z\n");
}

TEST_F(KuraQueryTest, ParamCheckOffKeepsTextAndParameters) {
  query_.SQL().Add("Select * From tejun Where HNB = :HNB");
  query_.SetParamCheck(false);
  query_.SQL().Add("and TES = :TES");
  EXPECT_THAT(ParamNames(), ElementsAre("HNB"));
  EXPECT_EQ(query_.ProcessedText(), "Select * From tejun Where HNB = :HNB\nand TES = :TES\n");
}

TEST_F(KuraQueryTest, RefusesToOpenWithoutTextOrValues) {
  EXPECT_EQ(OpenError(), "No SQL statement available");
  query_.SQL().Add("");  // processes to a single line feed: too short
  EXPECT_EQ(OpenError(), "No SQL statement available");
  query_.SQL().SetText("Select * From tejun Where HNB = :HNB");
  EXPECT_EQ(OpenError(), "No value for parameter 'HNB'");
  EXPECT_FALSE(query_.Active());
}

TEST_F(KuraQueryTest, EngineVersionIsFixed) {
  EXPECT_EQ(query_.EngineVersion(), "3.30");
  query_.SetEngineVersion("4.00");
  EXPECT_EQ(query_.EngineVersion(), "3.30");
}

TEST_F(KuraQueryTest, TextChangeClosesAndUnprepares) {
  query_.SQL().Add("Select * From tejun");
  query_.Open();
  ASSERT_TRUE(query_.Prepared());
  query_.SQL().Add("Order By HNB");
  EXPECT_FALSE(query_.Active());
  EXPECT_FALSE(query_.Prepared());
}

TEST_F(KuraQueryTest, DatabaseNameCannotChangeWhileOpen) {
  query_.SQL().Add("Select * From tejun");
  query_.Open();
  try {
    query_.SetDatabaseName("Other");
    FAIL() << "renamed while open";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Cannot perform this operation on an open database.");
  }
  query_.Close();
  query_.SetDatabaseName("Other");
  EXPECT_EQ(query_.DatabaseName(), "Other");
}

TEST_F(KuraQueryTest, ResolvesRegisteredDatabasesByName) {
  TKuraQuery query;
  query.SQL().Add("Select * From tejun");
  query.SetDatabaseName("QueryTestDb");
  try {
    query.Open();
    FAIL() << "opened an unknown database";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Database name QueryTestDb is not valid.");
  }
  RegisterDatabase("querytestdb", database_);
  query.Open();
  EXPECT_EQ(query.RecordCount(), 3);
  query.Close();
  UnregisterDatabase("QUERYTESTDB");
}

TEST_F(KuraQueryTest, ClosingDiscardsAPendingAppendOrEdit) {
  query_.SQL().Add("Select * From tejun");
  query_.Open();
  query_.Append();
  query_.Fields(1).SetAsInteger(9);
  query_.Close();
  EXPECT_THROW(query_.Edit(), EDatabaseError);  // closed
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 3);
  EXPECT_EQ(database_->Rows("tejun").size(), 3u);
  query_.First();
  query_.Edit();
  query_.Fields(1).SetAsInteger(99);
  query_.Close();
  EXPECT_EQ(database_->Rows("tejun")[0][1].Integer, 5);
}

TEST_F(KuraQueryTest, SqlErrorOnExecutionLeavesTheQueryUnprepared) {
  query_.SQL().Add("Select * From tejun Where HNB = :HNB");
  query_.Params()[0].SetAsString("abc");  // not a number: refused when run
  try {
    query_.Open();
    FAIL() << "opened";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, 11949);
  }
  EXPECT_FALSE(query_.Prepared());
  query_.Params()[0].SetAsString("6 ");  // trailing blanks are dropped
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 1);
}

TEST_F(KuraQueryTest, MasterSourceFillsUnsetParameters) {
  TKuraQuery master;
  master.SetProvider(database_);
  master.SQL().Add("Select * From tejun Where HNB = 6");
  master.Open();
  TDataSource source(&master);
  query_.SetDataSource(&source);
  query_.SQL().Add("Select * From tejun Where HNB = :HNB");
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 1);
}

}  // namespace
}  // namespace kura
