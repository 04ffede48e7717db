// A model test of record changes through cursors on real table files: long random sequences
// of inserts, edits (of key and non-key fields, and of a memo) and deletes, some of them
// refused (duplicate keys, failed validity checks), made through two cursors of one process
// in random index orders, one of them filtered. After every change the writing cursor's
// place is checked, and after each batch both cursors are compared through every index order
// and the record-number order with a plain in-memory model of the rows and their record
// slots, every index tree is checked, "Sys Deleted", the live record count and the free slots
// agree, every memo reads back, the BLOB file's blocks are all accounted for, and the text
// index holds exactly the words of the names and memos.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/blob_cursor_test_support.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/modify_test_support.h"
#include "engine/table_test_support.h"
#include "storage/file_test_support.h"
#include "storage/index_text.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::CurrentBuffer;
using testing::FillRow;
using testing::kByCodeSlot;
using testing::kByNameSlot;
using testing::ModifyTable;
using testing::NewRowBuffer;
using testing::RowOf;
using testing::TEngineSandbox;
using testing::TModifyRow;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

constexpr int kNoteField = 6;

constexpr int kOrders[] = {kPrimaryIndexSlot, kByCodeSlot, kByNameSlot, kRecordOrderIndexNo};

// One live record of the model.
struct TModelRecord {
  TModifyRow Row;
  std::int32_t RowId = 0;
  std::string Note;
};

// What the table should hold: live records by record number, the free slots (the last
// freed first: the free chain is a stack) and the counters.
struct TModel {
  std::map<std::int32_t, TModelRecord> Records;
  std::vector<std::int32_t> Free;
  std::int32_t Highest = 0;
  std::int32_t LastRowId = 0;

  const TModelRecord* ById(std::int32_t id, std::int32_t* recordNo = nullptr) const {
    for (const auto& [n, record] : Records) {
      if (record.Row.Id != id) continue;
      if (recordNo != nullptr) *recordNo = n;
      return &record;
    }
    return nullptr;
  }
  bool CodeTaken(const std::string& code, std::int32_t except) const {
    for (const auto& [n, record] : Records)
      if (n != except && record.Row.Code == code) return true;
    return false;
  }
  std::int32_t NextSlot() const { return Free.empty() ? Highest + 1 : Free.back(); }
};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// A row as one order visits it: its values, row number and record number.
using TSeen =
    std::tuple<std::int32_t, std::string, std::string, std::int32_t, std::int32_t, std::int32_t>;

// The model's records in the order of an index slot (or record-number order).
std::vector<TSeen> ModelOrder(const TModel& model, int indexNo) {
  std::vector<std::pair<std::tuple<std::string, std::int32_t>, TSeen>> sorted;
  for (const auto& [n, record] : model.Records) {
    const TModifyRow& row = record.Row;
    TSeen seen{row.Id, row.Name, row.Code, row.Qty, record.RowId, n};
    std::tuple<std::string, std::int32_t> key;
    switch (indexNo) {
      case kPrimaryIndexSlot:
        key = {"", row.Id};
        break;
      case kByCodeSlot:
        key = {row.Code, 0};
        break;
      case kByNameSlot:
        key = {Upper(row.Name), record.RowId};
        break;
      default:
        key = {"", n};
        break;
    }
    sorted.emplace_back(key, seen);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TSeen> order;
  for (const auto& entry : sorted) order.push_back(entry.second);
  return order;
}

std::vector<TSeen> CursorOrder(TDataCursor& cursor, int indexNo) {
  cursor.SetIndexNo(indexNo);
  std::vector<TSeen> order;
  cursor.First();
  TBuffer buffer(cursor.RecordSize());
  while (cursor.GetNextRecord(buffer) == 0) {
    const TModifyRow row = RowOf(cursor, buffer);
    order.emplace_back(row.Id, row.Name, row.Code, row.Qty, RowId(buffer),
                       RecordNoOrNextFree(buffer));
  }
  return order;
}

class ModifyModelTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    TDataDirectory& directory = sandbox->Directory();
    TDataTable& table = directory.CreateTable("T", false, ModifyTable(true), false);
    const std::uint16_t textFields[] = {2, kNoteField};
    table.Index().SetTextIndex(textFields);
    table.FlushBuffers();
    directory.CloseTable(table);
    for (auto& cursor : cursors) {
      cursor = std::make_unique<TDataCursor>(directory);
      cursor->SetTableName("T");
      cursor->Open();
    }
    TDataCursorTestAccess::SetFiltered(*cursors[1], true);
    random.seed(GetParam());
  }

  int Draw(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

  TModifyRow RandomRow() {
    static const char* const kNames[] = {"ann", "Ann", "ANN", "bob", "Bo", "cy", "Dee", "eve"};
    TModifyRow row;
    row.Id = Draw(1, 5000);
    row.Name = Draw(0, 40) == 0 ? "" : kNames[Draw(0, 7)];
    row.Code = testing::Numbered("C", Draw(0, 5000));
    // Now and then a key that another record holds.
    if (!model.Records.empty() && Draw(0, 9) == 0) {
      auto it = model.Records.begin();
      std::advance(it, Draw(0, static_cast<int>(model.Records.size()) - 1));
      if (Draw(0, 1)) {
        row.Id = it->second.Row.Id;
      } else {
        row.Code = it->second.Row.Code;
      }
    }
    row.Qty = Draw(0, 30) == 0 ? (Draw(0, 1) ? 9 : 101) : Draw(10, 100);
    return row;
  }

  // The code a post must fail with, validation first, then the keys in index order.
  static std::uint16_t Refusal(const TModel& model, const TModifyRow& row, std::int32_t self,
                               std::string* index) {
    if (row.Name.empty()) return codes::kValueRequired;
    if (row.Qty < 10) return codes::kBelowMinimum;
    if (row.Qty > 100) return codes::kAboveMaximum;
    std::int32_t holder = 0;
    if (model.ById(row.Id, &holder) != nullptr && holder != self) {
      *index = "";
      return codes::kDuplicateKey;
    }
    if (model.CodeTaken(row.Code, self)) {
      *index = "ByCode";
      return codes::kDuplicateKey;
    }
    return 0;
  }

  std::string RandomNote() {
    static const char* const kWords[] = {"kiwi", "plum", "Fig", "lime", "pear", "KIWI", "melon"};
    std::string note;
    for (int i = Draw(0, 5); i > 0; --i) note += std::string(kWords[Draw(0, 6)]) + " ";
    return note;
  }

  // Replaces the memo of the record buffer through a BLOB buffer, closed again before the
  // post (which writes it all the same).
  static void WriteNote(TDataCursor& cursor, TBuffer& buffer, const std::string& note) {
    std::uint32_t size = 0;
    ASSERT_EQ(cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite), 0);
    ASSERT_EQ(cursor.TruncateBlob(kNoteField, buffer, 0), 0);
    ASSERT_EQ(cursor.WriteBlob(kNoteField, buffer, 0, static_cast<std::uint32_t>(note.size()),
                               reinterpret_cast<const std::uint8_t*>(note.data())),
              0);
    ASSERT_EQ(cursor.CloseBlob(kNoteField, buffer), 0);
  }

  static std::string ReadNote(TDataCursor& cursor, TBuffer& buffer) {
    std::uint32_t size = 0;
    EXPECT_EQ(cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly), 0);
    std::string note(size, '\0');
    std::uint32_t copied = 0;
    EXPECT_EQ(cursor.ReadBlob(kNoteField, buffer, 0, size,
                              reinterpret_cast<std::uint8_t*>(note.data()), copied),
              0);
    EXPECT_EQ(cursor.CloseBlob(kNoteField, buffer), 0);
    return note;
  }

  TDataCursor& Writer() {
    TDataCursor& cursor = *cursors[static_cast<std::size_t>(Draw(0, 1))];
    cursor.SetIndexNo(kOrders[Draw(0, 3)]);
    return cursor;
  }

  // Puts the cursor on a random live record of the model (keeping its order) and answers
  // its record number.
  std::int32_t GotoRandomRecord(TDataCursor& cursor) {
    auto it = model.Records.begin();
    std::advance(it, Draw(0, static_cast<int>(model.Records.size()) - 1));
    const int order = cursor.IndexNo();
    cursor.SetIndexNo(kPrimaryIndexSlot);
    TBuffer key(cursor.RecordSize(), 0);
    std::uint8_t value[4];
    PutI32LE(value, it->second.Row.Id);
    cursor.SetField(1, key, value);
    EXPECT_TRUE(cursor.FindKey(false, key, {}, 0, false, 0));
    cursor.SetIndexNo(order);
    EXPECT_EQ(cursor.PhysicalRecordNo(), it->first);
    return it->first;
  }

  void Insert() {
    TDataCursor& cursor = Writer();
    const TModifyRow row = RandomRow();
    TBuffer buffer = NewRowBuffer(cursor, row);
    const std::string note = RandomNote();
    WriteNote(cursor, buffer, note);
    std::string index;
    const std::uint16_t expected = Refusal(model, row, 0, &index);
    const EKuraEngineError error = Raised([&] { cursor.PostInsert(buffer, true); });
    ASSERT_EQ(error.ErrorCode, expected) << row.Id << " " << row.Code;
    if (expected == codes::kDuplicateKey) {
      EXPECT_EQ(error.ErrorIndexName, index);
    }
    if (expected != 0) {
      cursor.FreeBlobs();  // the cancelled insert's buffers
      return;
    }
    const std::int32_t n = model.NextSlot();
    if (model.Free.empty()) {
      model.Highest = n;
    } else {
      model.Free.pop_back();
    }
    model.Records[n] = {row, ++model.LastRowId, note};
    if (cursor.IndexNo() == kPrimaryIndexSlot || cursor.IndexNo() == kRecordOrderIndexNo ||
        cursor.IndexNo() == kByCodeSlot || cursor.IndexNo() == kByNameSlot) {
      EXPECT_EQ(cursor.PhysicalRecordNo(), n);
      EXPECT_EQ(RowOf(cursor, CurrentBuffer(cursor)), row);
    }
  }

  void Edit() {
    if (model.Records.empty()) return;
    TDataCursor& cursor = Writer();
    const std::int32_t n = GotoRandomRecord(cursor);
    TBuffer buffer = CurrentBuffer(cursor);
    ASSERT_EQ(cursor.GetCurrentRecord(buffer, true), 0);
    TModifyRow row = model.Records[n].Row;
    switch (Draw(0, 3)) {
      case 0:
        row.Qty = RandomRow().Qty;  // no key changes
        break;
      case 1:
        row.Code = RandomRow().Code;
        break;
      case 2:
        row.Id = RandomRow().Id;
        break;
      default:
        row = RandomRow();
        break;
    }
    FillRow(cursor, buffer, row);
    std::string note = model.Records[n].Note;
    if (Draw(0, 2) == 0) {
      note = RandomNote();
      WriteNote(cursor, buffer, note);
    }
    std::string index;
    const std::uint16_t expected = Refusal(model, row, n, &index);
    const EKuraEngineError error = Raised([&] { cursor.PostEdit(buffer, true, true); });
    ASSERT_EQ(error.ErrorCode, expected) << row.Id << " " << row.Code;
    if (expected == codes::kDuplicateKey) {
      EXPECT_EQ(error.ErrorIndexName, index);
    }
    if (expected != 0) {
      EXPECT_EQ(cursor.LockedRecNo(), n);  // the edit goes on until cancelled
      cursor.CancelEdit();
      cursor.FreeBlobs();
      EXPECT_EQ(cursor.LockedRecNo(), 0);
      return;
    }
    model.Records[n].Row = row;
    model.Records[n].Note = note;
    EXPECT_EQ(cursor.PhysicalRecordNo(), n);
    EXPECT_EQ(RowOf(cursor, CurrentBuffer(cursor)), row);
  }

  void Delete() {
    if (model.Records.empty()) return;
    TDataCursor& cursor = Writer();
    const std::int32_t n = GotoRandomRecord(cursor);
    const int order = cursor.IndexNo();
    const std::vector<TSeen> before = ModelOrder(model, order);
    cursor.DeleteRecord(CurrentBuffer(cursor), true);
    model.Records.erase(n);
    model.Free.push_back(n);
    // The cursor is on the record that followed in its order, or on the end crack.
    const auto at = std::find_if(before.begin(), before.end(),
                                 [&](const TSeen& seen) { return std::get<5>(seen) == n; });
    ASSERT_NE(at, before.end());
    if (at + 1 == before.end()) {
      EXPECT_TRUE(cursor.AtEOF() || model.Records.empty());
    } else {
      EXPECT_EQ(cursor.PhysicalRecordNo(), std::get<5>(*(at + 1)));
    }
  }

  void CheckTable() {
    for (auto& cursor : cursors) {
      for (int order : kOrders) {
        ASSERT_EQ(CursorOrder(*cursor, order), ModelOrder(model, order)) << "order " << order;
      }
    }
    TDataTable& table = *cursors[0]->Table();
    TIndexFile& index = table.Index();
    for (int slot : {kPrimaryIndexSlot, kByCodeSlot, kByNameSlot, kSysDeletedSlot}) {
      const TTreeCheckReport report = index.CheckTree(slot);
      ASSERT_TRUE(report.Ok()) << slot << ": " << report.Text();
    }
    EXPECT_EQ(index.LiveRecordCount(), static_cast<std::int32_t>(model.Records.size()));
    EXPECT_EQ(table.Data().RecordCount(), model.Highest);
    EXPECT_EQ(table.Data().LastAutoInc(), model.LastRowId);
    EXPECT_EQ(table.Data().FirstFree(), model.Free.empty() ? 0 : model.Free.back());
    // "Sys Deleted": one key per slot, the freed ones flagged.
    std::vector<std::int32_t> freed;
    std::int64_t keys = 0;
    index.Tree(kSysDeletedSlot).ForEachKey([&](const std::uint8_t* key, std::int32_t recordNo) {
      ++keys;
      if (key[0] == 1) freed.push_back(recordNo);
    });
    EXPECT_EQ(keys, model.Highest);
    std::vector<std::int32_t> expected = model.Free;
    std::sort(expected.begin(), expected.end());
    std::sort(freed.begin(), freed.end());
    EXPECT_EQ(freed, expected);
    EXPECT_EQ(cursors[1]->VisibleCount(), static_cast<std::int64_t>(model.Records.size()));
    CheckBlobsAndWords();
  }

  // Every memo reads back, every BLOB block is accounted for, and the text index holds the
  // keys of exactly the words of the names and memos.
  void CheckBlobsAndWords() {
    TDataCursor& cursor = *cursors[0];
    cursor.SetIndexNo(kRecordOrderIndexNo);
    cursor.First();
    TBuffer buffer(cursor.RecordSize());
    while (cursor.GetNextRecord(buffer) == 0) {
      EXPECT_EQ(ReadNote(cursor, buffer), model.Records[RecordNoOrNextFree(buffer)].Note);
    }
    TDataTable& table = *cursor.Table();
    EXPECT_EQ(testing::BlobAccountingProblem(table), "");
    const TTextIndexParams params = DefaultTextIndexParams();
    std::set<std::pair<std::string, std::int32_t>> expected;
    for (const auto& [n, record] : model.Records) {
      for (const auto& [fieldNo, text] :
           {std::pair<std::uint16_t, std::string>{2, record.Row.Name}, {kNoteField, record.Note}}) {
        for (const std::string& word : TextIndexWords(text, params, {})) {
          TBuffer key(kSysTextKeyLength);
          BuildTextKey(fieldNo, word, record.RowId, {},
                       std::span<std::uint8_t, kSysTextKeyLength>(key.data(), kSysTextKeyLength));
          expected.emplace(std::string(key.begin(), key.end()), n);
        }
      }
    }
    std::set<std::pair<std::string, std::int32_t>> actual;
    table.Index().Tree(kSysTextSlot).ForEachKey([&](const std::uint8_t* key, std::int32_t n) {
      actual.emplace(std::string(key, key + kSysTextKeyLength), n);
    });
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected);
    const TTreeCheckReport report = table.Index().CheckTree(kSysTextSlot);
    EXPECT_TRUE(report.Ok()) << report.Text();
  }

  template <typename Call>
  static EKuraEngineError Raised(Call call) {
    try {
      call();
    } catch (const EKuraEngineError& error) {
      return error;
    }
    return EKuraEngineError(0);
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
  std::unique_ptr<TDataCursor> cursors[2];
  std::mt19937 random;
  TModel model;
};

TEST_P(ModifyModelTest, RandomChangesAgreeWithTheModel) {
  // Enough records for trees of several levels with page splits, then merges as the table
  // shrinks again.
  for (int batch = 0; batch < 12; ++batch) {
    const bool growing = batch < 8;
    for (int step = 0; step < 150; ++step) {
      const int choice = Draw(0, 19);
      if (choice < (growing ? 13 : 3)) {
        Insert();
      } else if (choice < (growing ? 18 : 9)) {
        Edit();
      } else {
        Delete();
      }
      if (HasFatalFailure()) return;
    }
    SCOPED_TRACE(testing::Numbered("batch ", batch));
    CheckTable();
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ModifyModelTest, ::testing::Values(1u, 2u, 20261210u));

}  // namespace
}  // namespace kura
