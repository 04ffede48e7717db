#include "dataset/session.h"

#include <gtest/gtest.h>

#include "base/database_error.h"
#include "dataset/kura_query.h"
#include "dataset/memory_database.h"

namespace kura {
namespace {

// Opens directories from a table of in-memory collections and counts the openings.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.SetDirectoryOpener(
        [this](const std::string& name,
               const std::string& directory) -> std::shared_ptr<TQueryProvider> {
          opened_.push_back(name + "|" + directory);
          if (directory == "missing") return nullptr;
          auto database = CreateProblemCollection();
          database->AppendRow("mondai", TRecord(7, TFieldValue::OfInteger(1)));
          return database;
        });
  }

  TKuraSession session_{"Test"};
  std::vector<std::string> opened_;
};

TEST_F(SessionTest, QueriesOfOneNameShareOneTemporaryDatabase) {
  TKuraDatabase& a = session_.AttachDataset("DBgoramina");
  TKuraDatabase& b = session_.AttachDataset("dbGORAMINA");
  EXPECT_EQ(&a, &b);
  EXPECT_TRUE(a.Temporary());
  EXPECT_EQ(a.Directory(), "DBgoramina");
  EXPECT_EQ(a.RefCount(), 2);
  EXPECT_EQ(opened_, std::vector<std::string>{"DBgoramina|DBgoramina"});
  session_.DetachDataset(a);
  session_.DetachDataset(b);
  // KeepConnections: the temporary database stays connected for the next query.
  ASSERT_NE(session_.FindDatabase("DBgoramina"), nullptr);
  EXPECT_TRUE(session_.FindDatabase("DBgoramina")->Connected());
}

TEST_F(SessionTest, WithoutKeepConnectionTheLastDetachFreesATemporaryDatabase) {
  session_.KeepConnections = false;
  TKuraDatabase& a = session_.AttachDataset("DBgoramina");
  session_.DetachDataset(a);
  EXPECT_EQ(session_.FindDatabase("DBgoramina"), nullptr);
}

TEST_F(SessionTest, APathNameOpensThePathWithAnEmptyDatabaseName) {
  session_.AttachDataset("/tmp/somewhere");
  EXPECT_EQ(opened_, std::vector<std::string>{"|/tmp/somewhere"});
  // A database component of its own may not be named by a path.
  TKuraDatabase& named = session_.AddDatabase("c:\\data");
  EXPECT_THROW(named.Open(), EDatabaseError);
}

TEST_F(SessionTest, AnUnopenableDirectoryLeavesNoComponentBehind) {
  try {
    session_.AttachDataset("missing");
    FAIL() << "attached";
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Database name missing is not valid.");
  }
  EXPECT_EQ(session_.DatabaseCount(), 0);
}

TEST_F(SessionTest, MemoryIsTheSessionsInMemoryDirectory) {
  TKuraDatabase& memory = session_.AttachDataset("MEMORY");
  EXPECT_EQ(memory.Directory(), "");
  EXPECT_EQ(memory.Provider(), session_.MemoryDirectory());
  EXPECT_TRUE(opened_.empty());
}

TEST_F(SessionTest, NamedComponentsAndTheirErrors) {
  TKuraDatabase& db = session_.AddDatabase("Mine");
  db.SetDirectory("elsewhere");
  EXPECT_THROW(session_.AddDatabase("MINE"), EDatabaseError);
  EXPECT_THROW(db.Provider(), EDatabaseError);  // closed
  TKuraDatabase& attached = session_.AttachDataset("mine");
  EXPECT_EQ(&attached, &db);
  EXPECT_FALSE(db.Temporary());
  EXPECT_EQ(opened_, std::vector<std::string>{"Mine|elsewhere"});
  EXPECT_THROW(db.SetDirectory("x"), EDatabaseError);
  EXPECT_THROW(session_.RemoveDatabase("Mine"), EDatabaseError);
  session_.DetachDataset(db);
  session_.RemoveDatabase("Mine");
  EXPECT_EQ(session_.FindDatabase("Mine"), nullptr);
}

TEST(SessionListTest, TheDefaultSessionAndUnknownNames) {
  EXPECT_EQ(&SessionByName(""), &Session());
  EXPECT_EQ(&SessionByName("default"), &Session());
  EXPECT_EQ(Session().LockRetryCount, 15);
  EXPECT_EQ(Session().LockWaitTime, 100);
  try {
    SessionByName("Other");
    FAIL();
  } catch (const EDatabaseError& error) {
    EXPECT_STREQ(error.what(), "Session name Other is not valid.");
  }
}

// A query stays attached to its database while it is prepared.
TEST(SessionListTest, QueriesAttachWhilePrepared) {
  RegisterDatabase("SessionTestDb", CreateProblemCollection());
  {
    TKuraQuery query;
    query.SetDatabaseName("SessionTestDb");
    query.SQL().Add("Select * From mondai");
    query.Open();
    ASSERT_NE(query.Database(), nullptr);
    EXPECT_EQ(query.Database()->RefCount(), 1);
    query.Close();
    EXPECT_EQ(Session().FindDatabase("SessionTestDb")->RefCount(), 1);  // still prepared
    query.UnPrepare();
    EXPECT_EQ(Session().FindDatabase("SessionTestDb")->RefCount(), 0);
    query.Open();
    UnregisterDatabase("SessionTestDb");  // goes when the query lets it go
    EXPECT_NE(Session().FindDatabase("SessionTestDb"), nullptr);
  }
  EXPECT_EQ(Session().FindDatabase("SessionTestDb"), nullptr);
}

}  // namespace
}  // namespace kura
