// The provider conformance cases (see result_conformance.h).
#include "dataset/result_conformance.h"

#include <gtest/gtest.h>

#include "base/engine_error.h"

namespace kura {
namespace {

TEST_P(ResultConformance, NavigationStopsAtTheCracks) {
  TOpenResult empty = Run("Select * From T Order By K");
  TRecord row;
  empty->First();
  EXPECT_EQ(empty->GetNextRecord(row), TFetchResult::kEnd);
  EXPECT_EQ(empty->GetCurrentRecord(row), TFetchResult::kEmpty);
  EXPECT_EQ(empty->RecordCount(), 0);
  EXPECT_EQ(empty->RecNo(), 0);

  Fill({Row(1, 1), Row(2, 1), Row(3, 1)});
  TOpenResult result = Run("Select * From T Order By K");
  result->First();
  EXPECT_EQ(result->GetCurrentRecord(row), TFetchResult::kBeginning);
  for (std::int64_t key = 1; key <= 3; ++key) {
    ASSERT_EQ(result->GetNextRecord(row), TFetchResult::kOk);
    EXPECT_EQ(row[0].Integer, key);
  }
  EXPECT_EQ(result->GetNextRecord(row), TFetchResult::kEnd);
  ASSERT_EQ(result->GetPriorRecord(row), TFetchResult::kOk);
  EXPECT_EQ(row[0].Integer, 3);
  result->Last();
  EXPECT_EQ(result->GetCurrentRecord(row), TFetchResult::kEnd);
  ASSERT_EQ(result->GetPriorRecord(row), TFetchResult::kOk);
  EXPECT_EQ(row[0].Integer, 3);

  std::vector<TRowBuffer> block;
  result->First();
  EXPECT_EQ(result->GetNextRecords(2, block), 2);
  EXPECT_EQ(block[1].Values[0].Integer, 2);
  EXPECT_EQ(block[1].RecNo, 2);
  EXPECT_EQ(result->GetNextRecords(5, block), 1);
}

TEST_P(ResultConformance, PositionNumbers) {
  Fill({Row(1, 1), Row(2, 1), Row(3, 1)});
  TOpenResult result = Run("Select * From T Order By K");
  TRecord row;
  EXPECT_FALSE(result->SetRecNo(0));
  EXPECT_EQ(result->GetCurrentRecord(row), TFetchResult::kBeginning);
  EXPECT_FALSE(result->SetRecNo(4));
  EXPECT_EQ(result->GetCurrentRecord(row), TFetchResult::kEnd);
  EXPECT_TRUE(result->SetRecNo(2));
  EXPECT_EQ(result->RecNo(), 2);
  EXPECT_EQ(CurrentKey(*result.Result), 2);
}

// Position numbers in index order count the entries a filter hides.
TEST_P(ResultConformance, PositionNumbersCountHiddenRows) {
  Fill({Row(1, 0), Row(2, 1), Row(3, 1)});
  TOpenResult result = Run("Select * From T Where V > 0 Order By K");
  EXPECT_EQ(result->RecordCount(), 2);
  TRecord row;
  result->First();
  ASSERT_EQ(result->GetNextRecord(row), TFetchResult::kOk);
  EXPECT_EQ(row[0].Integer, 2);
  EXPECT_EQ(result->RecNo(), 2);
  ASSERT_EQ(result->GetNextRecord(row), TFetchResult::kOk);
  EXPECT_EQ(result->RecNo(), 3);
  EXPECT_FALSE(result->SetRecNo(1));
  EXPECT_EQ(result->GetCurrentRecord(row), TFetchResult::kBeginning);
}

TEST_P(ResultConformance, BookmarksFindTheirRowOrTheOneAfterIt) {
  Fill({Row(1, 1), Row(2, 1), Row(3, 1), Row(4, 1)});
  TOpenResult result = Run("Select * From T Order By K");
  result->SetRecNo(1);
  const TBookmark first = result->GetBookmark();
  result->SetRecNo(2);
  const TBookmark second = result->GetBookmark();
  result->SetRecNo(3);
  const TBookmark third = result->GetBookmark();
  EXPECT_EQ(result->CompareBookmarks(first, third), -1);
  EXPECT_EQ(result->CompareBookmarks(third, first), 1);
  EXPECT_EQ(result->CompareBookmarks(second, second), 0);
  EXPECT_TRUE(result->GotoBookmark(second));
  EXPECT_EQ(CurrentKey(*result.Result), 2);

  // Deleted through another result: the bookmark lands on the row after it.
  TOpenResult other = Run("Select * From T Order By K");
  other->SetRecNo(2);
  TRecord image;
  ASSERT_EQ(other->GetCurrentRecord(image), TFetchResult::kOk);
  other->DeleteRecord(image);
  EXPECT_FALSE(result->GotoBookmark(second));
  EXPECT_EQ(CurrentKey(*result.Result), 3);
}

TEST_P(ResultConformance, CancellingAnEditReleasesTheRecordLock) {
  Fill({Row(1, 1), Row(2, 1)});
  TOpenResult a = Run("Select * From T Order By K");
  TOpenResult b = Run("Select * From T Order By K");
  TRecord image;
  a->SetRecNo(1);
  b->SetRecNo(1);
  ASSERT_EQ(a->GetCurrentRecord(image), TFetchResult::kOk);
  a->BeginEdit(image);
  EXPECT_EQ(CodeOf([&] { b->BeginEdit(image); }), 10258);
  a->CancelEdit();
  b->BeginEdit(image);  // the lock is free again
  b->CancelEdit();

  // An image that no longer matches the stored row is refused.
  TRecord stale = image;
  stale[1] = TFieldValue::OfInteger(99);
  EXPECT_EQ(CodeOf([&] { a->BeginEdit(stale); }), 8708);
  b->BeginEdit(image);  // and the refused edit holds no lock
  b->CancelEdit();

  // Closing a result with a pending edit releases its lock too.
  a->BeginEdit(image);
  a->Close();
  b->BeginEdit(image);
  b->CancelEdit();
}

TEST_P(ResultConformance, PostAnswersWhereTheRowWent) {
  Fill({Row(1, 1), Row(2, 1), Row(3, 1)});
  TOpenResult result = Run("Select * From T Where V > 0 Order By K");
  result->SetRecNo(2);
  TRecord row;
  ASSERT_EQ(result->GetCurrentRecord(row), TFetchResult::kOk);
  result->BeginEdit(row);
  row[2] = TFieldValue::OfString("kept");
  EXPECT_EQ(result->PostEdit(row), TPostAnswer::kInResult);
  EXPECT_EQ(CurrentKey(*result.Result), 2);

  result->BeginEdit(row);
  row[1] = TFieldValue::OfInteger(0);  // no longer meets V > 0
  EXPECT_EQ(result->PostEdit(row), TPostAnswer::kLeftResult);
  EXPECT_EQ(CurrentKey(*result.Result), 3);
  EXPECT_EQ(result->RecordCount(), 2);
  EXPECT_EQ(Keys(*result.Result), (std::vector<std::int64_t>{1, 3}));

  EXPECT_EQ(result->PostInsert(Row(0, 0)), TPostAnswer::kLeftResult);
  EXPECT_EQ(result->PostInsert(Row(5, 7)), TPostAnswer::kInResult);
  EXPECT_EQ(CurrentKey(*result.Result), 5);
  TOpenResult all = Run("Select * From T Order By K");
  EXPECT_EQ(Keys(*all.Result), (std::vector<std::int64_t>{0, 1, 2, 3, 5}));
}

TEST_P(ResultConformance, DeleteLandsOnTheFollowingRow) {
  Fill({Row(1, 1), Row(2, 1), Row(3, 1)});
  TOpenResult result = Run("Select * From T Order By K");
  TRecord row;
  result->SetRecNo(2);
  ASSERT_EQ(result->GetCurrentRecord(row), TFetchResult::kOk);
  result->DeleteRecord(row);
  EXPECT_EQ(CurrentKey(*result.Result), 3);
  ASSERT_EQ(result->GetCurrentRecord(row), TFetchResult::kOk);
  result->DeleteRecord(row);
  EXPECT_EQ(result->GetCurrentRecord(row), TFetchResult::kEnd);
  EXPECT_EQ(result->RecordCount(), 1);
  TRecord stale = Row(1, 5);
  result->First();
  result->GetNextRecord(row);
  EXPECT_EQ(CodeOf([&] { result->DeleteRecord(stale); }), 8708);
}

TEST_P(ResultConformance, RefreshSeesChangesMadeElsewhere) {
  Fill({Row(1, 1), Row(2, 1), Row(3, 1)});
  TOpenResult result = Run("Select * From T Order By K");
  result->SetRecNo(2);
  TOpenResult other = Run("Select * From T Order By K");
  other->SetRecNo(2);
  TRecord row;
  ASSERT_EQ(other->GetCurrentRecord(row), TFetchResult::kOk);
  other->DeleteRecord(row);
  other->PostInsert(Row(4, 1));
  result->Refresh();
  EXPECT_EQ(CurrentKey(*result.Result), 3);
  EXPECT_EQ(result->RecordCount(), 3);
  EXPECT_EQ(Keys(*result.Result), (std::vector<std::int64_t>{1, 3, 4}));
}

TEST_P(ResultConformance, CannedResultsRefuseChanges) {
  Fill({Row(1, 1)});
  TOpenResult result = Run("Select * From T Order By K", false);
  EXPECT_TRUE(result->IsReadOnly());
  TRecord row;
  result->First();
  ASSERT_EQ(result->GetNextRecord(row), TFetchResult::kOk);
  EXPECT_EQ(CodeOf([&] { result->BeginEdit(row); }), 11013);
  EXPECT_EQ(CodeOf([&] { result->PostInsert(Row(2, 2)); }), 11013);
}

TEST_P(ResultConformance, BlobFieldsAreStreams) {
  backend_->CreateTable("B", {Field("K", TFieldType::ftInteger), Field("M", TFieldType::ftMemo),
                              Field("G", TFieldType::ftGraphic)});
  TOpenResult result = Run("Select * From B Order By K");
  TRecord row = result->InitNewRecord();
  row[0] = TFieldValue::OfInteger(1);
  {
    std::unique_ptr<TBlobStream> memo = result->OpenBlob(1, row, TBlobMode::kReadWrite);
    memo->Write(0, "hello");
    memo->Write(5, " world");
    EXPECT_EQ(memo->Size(), 11);
    std::unique_ptr<TBlobStream> picture = result->OpenBlob(2, row, TBlobMode::kReadWrite);
    picture->Write(3, std::string("\x00\xFF", 2));  // a gap reads as zero bytes
  }
  result->PostInsert(row);

  TOpenResult again = Run("Select * From B Order By K");
  TRecord stored;
  again->First();
  ASSERT_EQ(again->GetNextRecord(stored), TFetchResult::kOk);
  std::unique_ptr<TBlobStream> memo = again->OpenBlob(1, stored, TBlobMode::kRead);
  char piece[4] = {};
  EXPECT_EQ(memo->Read(6, 4, piece), 4);
  EXPECT_EQ(std::string(piece, 4), "worl");
  EXPECT_EQ(memo->Read(9, 4, piece), 2);
  EXPECT_EQ(memo->Read(20, 4, piece), 0);
  EXPECT_NE(CodeOf([&] { memo->Write(0, "x"); }), 0);
  std::unique_ptr<TBlobStream> picture = again->OpenBlob(2, stored, TBlobMode::kRead);
  char bytes[5] = {1, 1, 1, 1, 1};
  ASSERT_EQ(picture->Read(0, 5, bytes), 5);
  EXPECT_EQ(std::string(bytes, 5), std::string("\0\0\0\0\xFF", 5));
  EXPECT_NE(CodeOf([&] { again->OpenBlob(0, stored, TBlobMode::kRead); }), 0);

  again->BeginEdit(stored);
  TRecord edited = stored;
  again->OpenBlob(1, edited, TBlobMode::kReadWrite)->Truncate(5);
  again->PostEdit(edited);
  TOpenResult last = Run("Select * From B Order By K");
  last->First();
  ASSERT_EQ(last->GetNextRecord(stored), TFetchResult::kOk);
  EXPECT_EQ(last->OpenBlob(1, stored, TBlobMode::kRead)->Size(), 5);
}

TEST_P(ResultConformance, EveryFieldTypeKeepsItsValue) {
  struct TCase {
    const char* name;
    TFieldType type;
    int size;
    TFieldValue value;
  };
  auto integer = [](std::int64_t v) { return TFieldValue::OfInteger(v); };
  auto real = [](double v) { return TFieldValue{false, 0, v, {}}; };
  auto text = [](std::string v) { return TFieldValue::OfString(std::move(v)); };
  const std::vector<TCase> cases = {
      {"FSTR", TFieldType::ftString, 10, text("abc")},
      {"FFIX", TFieldType::ftFixedChar, 4, text("wxyz")},
      {"FSML", TFieldType::ftSmallint, 0, integer(-32768)},
      {"FINT", TFieldType::ftInteger, 0, integer(2147483647)},
      {"FWRD", TFieldType::ftWord, 0, integer(65535)},
      {"FBOO", TFieldType::ftBoolean, 0, integer(1)},
      {"FFLT", TFieldType::ftFloat, 0, real(-1.5)},
      {"FCUR", TFieldType::ftCurrency, 0, real(12.25)},
      {"FBCD", TFieldType::ftBCD, 8, real(3.125)},
      {"FLRG", TFieldType::ftLargeint, 0, integer(-9000000000000LL)},
      {"FDAT", TFieldType::ftDate, 0, integer(739000)},
      {"FTIM", TFieldType::ftTime, 0, integer(86399999)},
      {"FDTM", TFieldType::ftDateTime, 0, real(63850000000000.0)},
      {"FBYT", TFieldType::ftBytes, 3, text(std::string("\x00\x01\x02", 3))},
      {"FVBY", TFieldType::ftVarBytes, 8, text("\x7F\x80")},
      {"FBLB", TFieldType::ftBlob, 0, text(std::string("\0blob", 5))},
      {"FMEM", TFieldType::ftMemo, 0, text("memo")},
      {"FFMM", TFieldType::ftFmtMemo, 0, text("{\\rtf}")},
      {"FGRA", TFieldType::ftGraphic, 0, text("BM")},
      {"FTYP", TFieldType::ftTypedBinary, 0, text("typed")},
  };
  std::vector<TFieldDef> fields = {Field("K", TFieldType::ftInteger)};
  for (const TCase& c : cases) fields.push_back(Field(c.name, c.type, c.size));
  fields.push_back(Field("FAUT", TFieldType::ftAutoInc));
  backend_->CreateTable("A", fields);

  TOpenResult result = Run("Select * From A Order By K");
  ASSERT_EQ(result->FieldDefs().size(), fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(result->FieldDefs()[i].DataType, fields[i].DataType) << fields[i].Name;
    EXPECT_EQ(result->FieldDefs()[i].Name, fields[i].Name);
  }
  TRecord row = result->InitNewRecord();
  row[0] = TFieldValue::OfInteger(1);
  for (std::size_t i = 0; i < cases.size(); ++i) row[i + 1] = cases[i].value;
  result->PostInsert(row);
  row[0] = TFieldValue::OfInteger(2);
  row.back() = TFieldValue::Null();
  result->PostInsert(row);

  TOpenResult again = Run("Select * From A Order By K");
  TRecord stored;
  again->First();
  ASSERT_EQ(again->GetNextRecord(stored), TFetchResult::kOk);
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_TRUE(FieldValuesEqual(cases[i].type, stored[i + 1], cases[i].value)) << cases[i].name;
  const std::int64_t first_counter = stored.back().Integer;
  ASSERT_EQ(again->GetNextRecord(stored), TFetchResult::kOk);
  EXPECT_FALSE(stored.back().IsNull);
  EXPECT_GT(stored.back().Integer, first_counter);  // auto-increment values grow
}

}  // namespace
}  // namespace kura
