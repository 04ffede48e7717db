// Two processes changing one table through cursors: concurrent increments of one record
// under the pessimistic protocol lose no update, and under strict change detection each
// process sees the other's inserts, edits and deletes on its very next step.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/modify_test_support.h"
#include "engine/table_test_support.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::CurrentBuffer;
using testing::FillRow;
using testing::ModifyTable;
using testing::NewRowBuffer;
using testing::RowOf;
using testing::TChildEnd;
using testing::TEngineSandbox;
using testing::TForkedChild;
using testing::TModifyRow;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

constexpr char kYourTurn = 't';
constexpr char kMismatch = 'x';
constexpr int kChildEngineError = 100;
constexpr int kChildMismatch = 2;
constexpr int kIncrements = 40;
constexpr int kRounds = 8;

// A session of its own on the folder with one open cursor on T.
struct TSide {
  explicit TSide(const std::string& folder, bool strict) : Sandbox(folder) {
    Sandbox.Session().SetLockWaitTime(2);
    Sandbox.Session().SetStrictChangeDetection(strict);
    Cursor = std::make_unique<TDataCursor>(Sandbox.Directory());
    Cursor->SetTableName("T");
    Cursor->Open();
  }
  ~TSide() { Cursor.reset(); }

  // Adds one to QTY of the first record, as an edit under the pessimistic protocol: a
  // record another process holds, or one that changed since it was read, is tried again.
  void Increment() {
    for (;;) {
      Cursor->First();
      TBuffer buffer(Cursor->RecordSize());
      if (Cursor->GetNextRecord(buffer) != 0) throw EKuraEngineError(codes::kNoCurrentRecord);
      const std::uint16_t code = RaisedCodeOf([&] { Cursor->GetCurrentRecord(buffer, true); });
      if (code == codes::kRecordInUse || code == codes::kRecordChanged) continue;
      if (code != 0) throw EKuraEngineError(code);
      TModifyRow row = RowOf(*Cursor, buffer);
      ++row.Qty;
      FillRow(*Cursor, buffer, row);
      Cursor->PostEdit(buffer, true, true);
      return;
    }
  }

  // The IDs in primary order and the sum of QTY, read step by step.
  std::pair<std::vector<std::int32_t>, std::int32_t> Rows() {
    std::vector<std::int32_t> ids;
    std::int32_t sum = 0;
    Cursor->First();
    TBuffer buffer(Cursor->RecordSize());
    while (Cursor->GetNextRecord(buffer) == 0) {
      const TModifyRow row = RowOf(*Cursor, buffer);
      ids.push_back(row.Id);
      sum += row.Qty;
    }
    return {ids, sum};
  }

  void Insert(std::int32_t id) {
    TBuffer buffer = NewRowBuffer(*Cursor, {id, "N", testing::Numbered("C", id), 10});
    Cursor->PostInsert(buffer, true);
  }

  // Edits (QTY 50) or deletes every record whose ID has the given parity.
  void ChangeParity(int parity, bool remove) {
    Cursor->First();
    TBuffer buffer(Cursor->RecordSize());
    std::uint16_t answer = Cursor->GetNextRecord(buffer);
    while (answer == 0) {
      TModifyRow row = RowOf(*Cursor, buffer);
      if (row.Id % 2 != parity) {
        answer = Cursor->GetNextRecord(buffer);
        continue;
      }
      if (remove) {
        Cursor->DeleteRecord(buffer, true);
        answer = Cursor->GetCurrentRecord(buffer);
        continue;
      }
      if (Cursor->GetCurrentRecord(buffer, true) != 0)
        throw EKuraEngineError(codes::kRecordChanged);
      row.Qty = 50;
      FillRow(*Cursor, buffer, row);
      Cursor->PostEdit(buffer, true, true);
      answer = Cursor->GetNextRecord(buffer);
    }
  }

  template <typename Call>
  static std::uint16_t RaisedCodeOf(Call call) {
    try {
      call();
    } catch (const EKuraEngineError& error) {
      return error.ErrorCode;
    }
    return 0;
  }

  TEngineSandbox Sandbox;
  std::unique_ptr<TDataCursor> Cursor;
};

class DataCursorModifyProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TEngineSandbox sandbox(folder.Path());
    TDataDirectory& directory = sandbox.Directory();
    directory.CloseTable(directory.CreateTable("T", false, ModifyTable(), false));
  }

  // Runs body in a child with its own session; engine errors become its exit code.
  TForkedChild Child(const std::function<int(TChildEnd&)>& body) {
    return TForkedChild([body](TChildEnd& end) {
      try {
        return body(end);
      } catch (const EKuraEngineError& error) {
        return kChildEngineError + error.ErrorCode % 100;
      }
    });
  }

  TScratchFolder folder;
};

TEST_F(DataCursorModifyProcessTest, ConcurrentIncrementsLoseNoUpdate) {
  TSide parent(folder.Path(), false);
  parent.Insert(1);  // QTY 10
  const std::string path = folder.Path();
  TForkedChild child = Child([path](TChildEnd& end) {
    TSide side(path, false);
    end.Send(kYourTurn);
    for (int i = 0; i < kIncrements; ++i) side.Increment();
    return 0;
  });
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.Receive(), kYourTurn);
  for (int i = 0; i < kIncrements; ++i) parent.Increment();
  ASSERT_EQ(child.Wait(), 0);
  parent.Cursor->Refresh();
  EXPECT_EQ(parent.Rows().second, 10 + 2 * kIncrements);
  EXPECT_TRUE(parent.Cursor->Table()->LockedRecords().empty());
}

TEST_F(DataCursorModifyProcessTest, EachSideSeesTheOthersChangeOnItsNextStep) {
  TSide parent(folder.Path(), true);
  const std::string path = folder.Path();
  // The child checks what the parent did, then answers with its own change.
  TForkedChild child = Child([path](TChildEnd& end) {
    TSide side(path, true);
    for (int round = 1; round <= kRounds; ++round) {
      if (end.Receive() != kYourTurn) return kChildMismatch;
      const auto rows = side.Rows();
      if (static_cast<int>(rows.first.size()) != 2 * round - 1 ||
          rows.first.back() != 2 * round - 1) {
        end.Send(kMismatch);
        return kChildMismatch;
      }
      side.Insert(2 * round);
      end.Send(kYourTurn);
    }
    // The parent deleted its odd rows; the child edits its even ones.
    if (end.Receive() != kYourTurn) return kChildMismatch;
    const auto rows = side.Rows();
    if (static_cast<int>(rows.first.size()) != kRounds || rows.second != 10 * kRounds) {
      end.Send(kMismatch);
      return kChildMismatch;
    }
    side.ChangeParity(0, false);
    end.Send(kYourTurn);
    return 0;
  });
  ASSERT_TRUE(child.Started());
  for (int round = 1; round <= kRounds; ++round) {
    parent.Insert(2 * round - 1);
    child.Send(kYourTurn);
    ASSERT_EQ(child.Receive(), kYourTurn) << "round " << round;
    const auto rows = parent.Rows();
    ASSERT_EQ(rows.first.size(), static_cast<std::size_t>(2 * round));
    EXPECT_EQ(rows.first.back(), 2 * round);
  }
  parent.ChangeParity(1, true);
  child.Send(kYourTurn);
  ASSERT_EQ(child.Receive(), kYourTurn);
  EXPECT_EQ(parent.Rows().second, 50 * kRounds);
  ASSERT_EQ(child.Wait(), 0);
  const TIndexFile& index = parent.Cursor->Table()->Index();
  EXPECT_EQ(index.LiveRecordCount(), kRounds);
}

}  // namespace
}  // namespace kura
