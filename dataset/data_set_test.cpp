#include "dataset/data_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "base/engine_error.h"
#include "dataset/kura_query.h"
#include "dataset/memory_database.h"

namespace kura {
namespace {

using ::testing::ElementsAre;

// Problem rows: MNB, HNB and a comment.
TRecord Mondai(int mnb, int hnb, std::string comment = "") {
  TRecord row(7, TFieldValue::Null());
  row[0] = TFieldValue::OfInteger(mnb);
  row[1] = TFieldValue::OfInteger(hnb);
  row[5] = TFieldValue::OfString(std::move(comment));
  return row;
}

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = CreateProblemCollection();
    database_->AppendRow("mondai", Mondai(1, 30, "c"));
    database_->AppendRow("mondai", Mondai(2, 10, "a"));
    database_->AppendRow("mondai", Mondai(3, 20, "b"));
    Reopen("Select * From mondai Order By HNB");
  }

  void Reopen(std::string_view text, bool live = true) {
    query_.Close();
    query_.SetProvider(database_);
    query_.SetRequestLive(live);
    query_.SQL().SetText(text);
    query_.Open();
  }

  // HNB of every row, walking the query from the top.
  std::vector<int> Walk() {
    std::vector<int> numbers;
    for (query_.First(); !query_.Eof(); query_.Next())
      numbers.push_back(query_.Fields(1).AsInteger());
    return numbers;
  }

  std::vector<std::int64_t> TableColumn(int field) {
    std::vector<std::int64_t> values;
    for (const TRecord& row : database_->Rows("mondai")) values.push_back(row[field].Integer);
    return values;
  }

  static std::string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const EDatabaseError& error) {
      return error.what();
    }
    return "no error";
  }

  std::shared_ptr<TMemoryDatabase> database_;
  TKuraQuery query_;
};

TEST_F(DataSetTest, NavigatesWithEndFlags) {
  EXPECT_TRUE(query_.Bof());
  EXPECT_FALSE(query_.Eof());
  EXPECT_EQ(query_.RecNo(), 1);
  EXPECT_EQ(query_.Fields(1).AsInteger(), 10);
  query_.Prior();  // at the top: stays, Bof
  EXPECT_TRUE(query_.Bof());
  EXPECT_EQ(query_.MoveBy(5), 2);  // stops at the last row
  EXPECT_TRUE(query_.Eof());
  EXPECT_EQ(query_.Fields(1).AsInteger(), 30);
  EXPECT_EQ(query_.MoveBy(-1), -1);
  EXPECT_FALSE(query_.Eof());
  EXPECT_EQ(query_.RecNo(), 2);
  query_.SetRecNo(3);
  EXPECT_EQ(query_.Fields(5).AsString(), "c");
  query_.SetRecNo(7);  // out of range: stays
  EXPECT_EQ(query_.RecNo(), 3);
  EXPECT_THAT(Walk(), ElementsAre(10, 20, 30));

  Reopen("Select * From mondai Where HNB > 100");
  EXPECT_TRUE(query_.Eof() && query_.Bof() && query_.IsEmpty());
  EXPECT_EQ(query_.RecNo(), 0);
  EXPECT_TRUE(query_.Fields(1).IsNull());
  EXPECT_EQ(query_.Fields(1).AsInteger(), 0);
}

TEST_F(DataSetTest, MovingPostsAPendingEdit) {
  query_.Edit();
  query_.Fields(0).SetAsInteger(7);
  EXPECT_EQ(query_.State(), TDataSetState::dsEdit);
  query_.Next();
  EXPECT_EQ(query_.State(), TDataSetState::dsBrowse);
  EXPECT_THAT(TableColumn(0), ElementsAre(1, 7, 3));
  // Cancel restores the row as it was.
  query_.Edit();
  query_.Fields(5).SetAsString("changed");
  query_.Cancel();
  EXPECT_EQ(query_.Fields(5).AsString(), "b");
  // Locate posts too, and finds by value.
  query_.Edit();
  query_.Fields(5).SetAsString("B");
  EXPECT_TRUE(query_.Locate("hnb", std::int64_t{30}));
  EXPECT_EQ(query_.RecNo(), 3);
  EXPECT_EQ(database_->Rows("mondai")[2][5].Text, "B");
  EXPECT_FALSE(query_.Locate("HNB", std::int64_t{99}));
  EXPECT_EQ(query_.RecNo(), 3);
  EXPECT_TRUE(query_.Locate("CMT", std::string_view("a")));
  EXPECT_EQ(query_.RecNo(), 1);
}

TEST_F(DataSetTest, ChangesAreRefusedWithTheirMessages) {
  EXPECT_EQ(ErrorOf([&] { query_.Fields(0).SetAsInteger(1); }),
            "Table is not in edit or insert mode.");
  EXPECT_EQ(ErrorOf([&] { query_.Post(); }), "データセットが編集または挿入モードではありません");
  query_.Fields(1).SetReadOnly(true);
  query_.Edit();
  EXPECT_EQ(ErrorOf([&] { query_.Fields(1).SetAsInteger(1); }), "Field HNB cannot be modified.");
  EXPECT_EQ(ErrorOf([&] { query_.Fields(0).SetAsString("x1"); }),
            "'x1' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { query_.Fields(0).SetAsInteger(1LL << 40); }).substr(0, 13),
            "1099511627776");
  EXPECT_EQ(ErrorOf([&] { query_.Fields(9); }), "List index out of bounds (9)");
  EXPECT_EQ(ErrorOf([&] { query_.FieldByName("NOPE"); }), "Field 'NOPE' not found");
  query_.Cancel();

  Reopen("Select * From mondai", /*live=*/false);
  EXPECT_TRUE(query_.ReadOnly());
  EXPECT_EQ(ErrorOf([&] { query_.Edit(); }), "Cannot modify a read-only dataset.");
  EXPECT_EQ(ErrorOf([&] { query_.Append(); }), "Cannot modify a read-only dataset.");
}

TEST_F(DataSetTest, AppendPostsIntoTheTableAndKeepsTheOrder) {
  query_.Append();
  EXPECT_EQ(query_.RecNo(), -1);
  EXPECT_EQ(query_.DisplayRowCount(), 4);
  query_.Fields(1).SetAsInteger(15);
  EXPECT_EQ(query_.CellValue(4, 1).Integer, 15);
  query_.Post();
  EXPECT_EQ(query_.RecNo(), 2);  // placed by HNB
  EXPECT_THAT(Walk(), ElementsAre(10, 15, 20, 30));
  EXPECT_THAT(TableColumn(1), ElementsAre(30, 10, 20, 15));  // the table keeps append order
  // Appending twice posts the first row.
  query_.Append();
  query_.Fields(1).SetAsInteger(40);
  query_.Append();
  query_.Cancel();
  EXPECT_THAT(TableColumn(1), ElementsAre(30, 10, 20, 15, 40));
}

TEST_F(DataSetTest, DeleteLeavesTheCursorOnTheFollowingRow) {
  query_.SetRecNo(2);
  query_.Delete();
  EXPECT_EQ(query_.Fields(1).AsInteger(), 30);
  query_.Delete();  // the last row: the new last row becomes current
  EXPECT_EQ(query_.Fields(1).AsInteger(), 10);
  query_.Delete();
  EXPECT_TRUE(query_.IsEmpty());
  EXPECT_TRUE(query_.Eof());
  EXPECT_EQ(ErrorOf([&] { query_.Delete(); }), "Cannot perform this operation on an empty dataset");
  EXPECT_TRUE(database_->Rows("mondai").empty());
}

TEST_F(DataSetTest, RowDeletedThroughAnotherQueryRefusesEdits) {
  TKuraQuery other;
  other.SetProvider(database_);
  other.SetRequestLive(true);
  other.SQL().Add("Select * From mondai Order By HNB");
  other.Open();
  query_.First();  // read before the other query deletes it
  other.Delete();
  try {
    query_.Edit();
    FAIL() << "edited a deleted row";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, 8708);
  }
}

// Records what a bound control hears.
class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> events;
  std::function<void()> on_update;

 protected:
  void ActiveChanged() override { events.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { events.push_back("changed"); }
  void DataSetScrolled(int distance) override {
    events.push_back("scrolled " + std::to_string(distance));
  }
  void RecordChanged(const TField* field) override {
    events.push_back("record " + (field ? field->FieldName() : std::string("*")));
  }
  void StateChanged() override { events.push_back("state"); }
  void UpdateData() override {
    events.push_back("update");
    if (on_update) on_update();
  }
};

TEST_F(DataSetTest, LinksHearEveryChangeUntilDetached) {
  TDataSource source(&query_);
  RecordingLink link;
  link.SetDataSource(&source);
  query_.Next();
  query_.Edit();
  link.on_update = [&] { query_.Fields(5).SetAsString("typed"); };  // text still in the control
  query_.Post();
  EXPECT_THAT(link.events, ElementsAre("active", "scrolled 1", "state", "update", "record CMT",
                                       "state", "changed"));
  EXPECT_EQ(database_->Rows("mondai")[2][5].Text, "typed");
  link.on_update = nullptr;

  link.events.clear();
  link.SetDataSource(nullptr);
  query_.Next();
  query_.DisableControls();
  link.SetDataSource(&source);
  query_.Prior();           // disabled: not heard
  query_.EnableControls();  // only the cursor moved meanwhile
  query_.DisableControls();
  query_.Edit();
  query_.Cancel();
  query_.EnableControls();  // the state changed meanwhile
  query_.DisableControls();
  query_.EnableControls();  // nothing happened
  query_.Close();
  EXPECT_THAT(link.events, ElementsAre("inactive", "active", "scrolled 0", "changed", "inactive"));
}

TEST_F(DataSetTest, ObjectsMayGoInAnyOrder) {
  auto link = std::make_unique<RecordingLink>();
  auto source = std::make_unique<TDataSource>();
  {
    TKuraQuery query;
    query.SetProvider(database_);
    query.SQL().Add("Select * From mondai");
    source->SetDataSet(&query);
    link->SetDataSource(source.get());
    query.Open();
  }  // the dataset goes first
  EXPECT_EQ(source->DataSet(), nullptr);
  source.reset();  // then the source: the link is detached
  EXPECT_EQ(link->DataSource(), nullptr);
  EXPECT_EQ(link->events.back(), "inactive");
}

// An owner that shows a preview as an unposted edit and drops it before the cursor leaves the
// row, whichever way it leaves: the previewed text must never reach the table.
TEST_F(DataSetTest, BeforeScrollLetsTheOwnerDropAnEditOnEveryWayOut) {
  const std::vector<std::pair<const char*, std::function<void()>>> kWaysOut = {
      {"Next", [&] { query_.Next(); }},
      {"Prior", [&] { query_.Prior(); }},
      {"First", [&] { query_.First(); }},
      {"Last", [&] { query_.Last(); }},
      {"MoveBy", [&] { query_.MoveBy(2); }},
      {"RecNo", [&] { query_.SetRecNo(3); }},
      {"Locate", [&] { query_.Locate("HNB", std::int64_t{30}); }},
      {"Append", [&] { query_.Append(); }},
      {"Close", [&] { query_.Close(); }},
      {"new text", [&] { query_.SQL().Add(""); }},
  };
  for (const auto& [name, leave] : kWaysOut) {
    SCOPED_TRACE(name);
    Reopen("Select * From mondai Order By HNB");
    int calls = 0;
    query_.BeforeScroll = [&] {
      ++calls;
      query_.Cancel();
      query_.First();  // moving from inside the handler does not call it again
    };
    query_.Edit();
    query_.Fields(5).SetAsString("preview");
    leave();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(database_->Rows("mondai")[1][5].Text, "a");
    query_.BeforeScroll = nullptr;
    query_.Cancel();
  }
}

TEST_F(DataSetTest, BeforePostMayAmendOrDropThePendingRow) {
  query_.BeforePost = [&] { query_.Fields(5).SetAsString("amended"); };
  query_.Edit();
  query_.Fields(5).SetAsString("typed");
  query_.Fields(0).SetAsInteger(9);
  query_.Next();  // the move posts through BeforePost
  EXPECT_EQ(database_->Rows("mondai")[1][5].Text, "amended");
  EXPECT_EQ(database_->Rows("mondai")[1][0].Integer, 9);
  // A handler that cancels leaves nothing to store; the dataset is back in browse state.
  query_.BeforePost = [&] { query_.Cancel(); };
  query_.Edit();
  query_.Fields(5).SetAsString("dropped");
  query_.Post();
  EXPECT_EQ(query_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(database_->Rows("mondai")[2][5].Text, "b");
  query_.BeforePost = nullptr;
}

}  // namespace
}  // namespace kura

namespace kura {
namespace {

// Counts the calls that move a result, so the tests can tell how often the dataset
// repositions it.
class CountingResult : public TResultCursor {
 public:
  CountingResult(std::unique_ptr<TResultCursor> inner, int& moves)
      : inner_(std::move(inner)), moves_(moves) {}
  const std::vector<TFieldDef>& FieldDefs() const override { return inner_->FieldDefs(); }
  bool IsReadOnly() const override { return inner_->IsReadOnly(); }
  void First() override { ++moves_, inner_->First(); }
  void Last() override { ++moves_, inner_->Last(); }
  TFetchResult GetCurrentRecord(TRecord& r) override { return inner_->GetCurrentRecord(r); }
  TFetchResult GetNextRecord(TRecord& r) override { return ++moves_, inner_->GetNextRecord(r); }
  TFetchResult GetPriorRecord(TRecord& r) override { return ++moves_, inner_->GetPriorRecord(r); }
  int RecNo() override { return inner_->RecNo(); }
  int RecordCount() override { return inner_->RecordCount(); }
  bool SetRecNo(int n) override { return ++moves_, inner_->SetRecNo(n); }
  TBookmark GetBookmark() override { return inner_->GetBookmark(); }
  bool GotoBookmark(const TBookmark& b) override { return ++moves_, inner_->GotoBookmark(b); }
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override {
    return inner_->CompareBookmarks(a, b);
  }
  void Refresh() override { inner_->Refresh(); }
  TRecord InitNewRecord() override { return inner_->InitNewRecord(); }
  void BeginEdit(const TRecord& image) override { inner_->BeginEdit(image); }
  void CancelEdit() override { inner_->CancelEdit(); }
  TPostAnswer PostEdit(const TRecord& r) override { return inner_->PostEdit(r); }
  TPostAnswer PostInsert(const TRecord& r) override { return inner_->PostInsert(r); }
  void DeleteRecord(const TRecord& image) override { inner_->DeleteRecord(image); }
  std::unique_ptr<TBlobStream> OpenBlob(int field, TRecord& buffer, TBlobMode mode) override {
    return inner_->OpenBlob(field, buffer, mode);
  }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<TResultCursor> inner_;
  int& moves_;
};

class CountingProvider : public TQueryProvider {
 public:
  CountingProvider(std::shared_ptr<TQueryProvider> inner, int& moves)
      : inner_(std::move(inner)), moves_(moves) {}
  std::unique_ptr<TPreparedQuery> Prepare(std::string_view text,
                                          const TQueryOptions& options) override {
    struct Statement : TPreparedQuery {
      std::unique_ptr<TPreparedQuery> inner;
      int* moves = nullptr;
      std::unique_ptr<TResultCursor> Execute(const std::vector<TMarkerValue>& markers) override {
        return std::make_unique<CountingResult>(inner->Execute(markers), *moves);
      }
    };
    auto statement = std::make_unique<Statement>();
    statement->inner = inner_->Prepare(text, options);
    statement->moves = &moves_;
    return statement;
  }

 private:
  std::shared_ptr<TQueryProvider> inner_;
  int& moves_;
};

class DataSetCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = CreateProblemCollection();
    for (int i = 1; i <= 100; ++i) database_->AppendRow("mondai", Mondai(i % 2, i));
    query_.SetProvider(std::make_shared<CountingProvider>(database_, moves_));
    query_.SetRequestLive(true);
  }

  std::shared_ptr<TMemoryDatabase> database_;
  int moves_ = 0;
  TKuraQuery query_;
};

// A grid showing 20 rows reads them in one block, not with a repositioning per cell, and
// the current row stays where it was.
TEST_F(DataSetCursorTest, AGridWindowIsReadInOneBlock) {
  query_.SQL().SetText("Select * From mondai Order By HNB");
  query_.Open();
  query_.SetRecNo(5);
  moves_ = 0;
  for (int row = 1; row <= 20; ++row)
    for (int field = 0; field < 7; ++field) query_.CellValue(row, field);
  EXPECT_LE(moves_, 1 + 32);  // First, then one block read
  EXPECT_EQ(query_.CellValue(12, 1).Integer, 12);
  EXPECT_EQ(query_.RecNo(), 5);
  query_.Next();
  EXPECT_EQ(query_.Fields(1).AsInteger(), 6);
  EXPECT_EQ(query_.CellValue(90, 1).Integer, 90);  // another window, further down
  EXPECT_EQ(query_.CellValue(101, 1).IsNull, true);
}

// The result's position numbers skip the rows its condition hides; the dataset's RecNo
// counts the visible rows only.
TEST_F(DataSetCursorTest, RecNoCountsVisibleRows) {
  query_.SQL().SetText("Select * From mondai Where MNB > 0 Order By HNB");
  query_.Open();
  EXPECT_EQ(query_.RecordCount(), 50);
  query_.Last();
  EXPECT_EQ(query_.RecNo(), 50);
  EXPECT_EQ(query_.Fields(1).AsInteger(), 99);
  query_.SetRecNo(10);
  EXPECT_EQ(query_.Fields(1).AsInteger(), 19);
  ASSERT_TRUE(query_.Locate("HNB", std::int64_t{41}));
  EXPECT_EQ(query_.RecNo(), 21);
  EXPECT_EQ(query_.MoveBy(-100), -20);
  EXPECT_TRUE(query_.Bof());
  EXPECT_EQ(query_.RecNo(), 1);
}

// Showing a hint is an edit followed by a cancel: the record lock must go with the cancel,
// or the next edit of that problem through another query would fail.
TEST_F(DataSetCursorTest, CancelAndCloseReleaseTheRecordLock) {
  query_.SQL().SetText("Select * From mondai Order By HNB");
  query_.Open();
  TKuraQuery other;
  other.SetProvider(database_);
  other.SetRequestLive(true);
  other.SQL().SetText("Select * From mondai Order By HNB");
  other.Open();
  query_.Edit();
  try {
    other.Edit();
    FAIL() << "edited a locked row";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, 10258);
  }
  query_.Cancel();
  other.Edit();
  other.Cancel();
  query_.Edit();
  query_.Close();
  other.Edit();
  other.Fields(5).SetAsString("free");
  other.Post();
  EXPECT_EQ(database_->Rows("mondai")[0][5].Text, "free");
}

// A posted row that no longer meets the condition leaves the result; the dataset stands on
// the row that followed it.
TEST_F(DataSetCursorTest, APostedRowMayLeaveTheResult) {
  query_.SQL().SetText("Select * From mondai Where MNB > 0 Order By HNB");
  query_.Open();
  query_.SetRecNo(2);
  query_.Edit();
  query_.Fields(0).SetAsInteger(0);
  query_.Post();
  EXPECT_EQ(query_.RecordCount(), 49);
  EXPECT_EQ(query_.Fields(1).AsInteger(), 5);
  EXPECT_EQ(query_.RecNo(), 2);
}

TEST_F(DataSetCursorTest, RefreshSeesOtherQueriesChanges) {
  query_.SQL().SetText("Select * From mondai Order By HNB");
  query_.Open();
  query_.SetRecNo(3);
  TKuraQuery other;
  other.SetProvider(database_);
  other.SetRequestLive(true);
  other.SQL().SetText("Select * From mondai Where HNB = 3");
  other.Open();
  other.Delete();
  query_.Refresh();
  EXPECT_EQ(query_.RecordCount(), 99);
  EXPECT_EQ(query_.Fields(1).AsInteger(), 4);
  EXPECT_EQ(query_.RecNo(), 3);
}

TEST(DataSetBlobTest, BlobFieldsAreReadAndWrittenAsStreams) {
  auto database = std::make_shared<TMemoryDatabase>();
  database->CreateTable("notes",
                        {{"N", TFieldType::ftInteger, 0, 0}, {"BODY", TFieldType::ftMemo, 0, 0}});
  TKuraQuery query;
  query.SetProvider(database);
  query.SetRequestLive(true);
  query.SQL().SetText("Select * From notes");
  query.Open();
  query.Append();
  query.Fields(0).SetAsInteger(1);
  EXPECT_THROW(query.CreateBlobStream(query.Fields(0), TBlobMode::kRead), EKuraEngineError);
  query.CreateBlobStream(query.Fields(1), TBlobMode::kReadWrite)->Write(0, "piece by piece");
  query.Post();
  EXPECT_THROW(query.CreateBlobStream(query.Fields(1), TBlobMode::kReadWrite), EDatabaseError);
  std::unique_ptr<TBlobStream> stream = query.CreateBlobStream(query.Fields(1), TBlobMode::kRead);
  char piece[5] = {};
  ASSERT_EQ(stream->Read(6, 5, piece), 5);
  EXPECT_EQ(std::string(piece, 5), "by pi");
  EXPECT_EQ(query.Fields(1).AsString(), "piece by piece");
}

}  // namespace
}  // namespace kura
