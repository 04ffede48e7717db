// Long random sequences of lock operations on one shared table, checked after every step
// against a plain model of what must be held, and against what an independent file list (a
// stand-in for another process) finds locked on the files.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/table_locks.h"
#include "engine/table_test_support.h"
#include "storage/file_handler.h"
#include "storage/file_names.h"

namespace kura {
namespace {

using testing::RaisedCode;
using testing::SmallTable;
using testing::TEngineSandbox;
using testing::TScratchFolder;

constexpr std::int32_t kRecords = 6;

// What the table must hold after each step.
struct TLockModel {
  bool Read = false;
  bool Query = false;
  bool Write = false;
  bool Table = false;
  bool Transaction = false;
  std::set<std::int32_t> Locked;
  std::set<std::int32_t> Deferred;

  void ApplyDeferred() {
    for (std::int32_t n : Deferred) Locked.erase(n);
    Deferred.clear();
  }
};

// Handlers on the table's files through a file list of their own.
class TOutsider {
 public:
  TOutsider(TFileList& list, const std::string& folder) : FData(list), FIndex(list), FBlob(list) {
    FData.SetFileName(TableFileName(folder, "T", ".DAT"));
    FIndex.SetFileName(TableFileName(folder, "T", ".IDX"));
    FBlob.SetFileName(TableFileName(folder, "T", ".BLB"));
    FData.Open();
    FIndex.Open();
    FBlob.Open();
  }
  static bool Free(TFileHandler& file, std::int64_t length, std::int64_t start) {
    if (!file.LockRange(length, start)) return false;
    file.UnlockRange(length, start);
    return true;
  }
  TFileHandler FData;
  TFileHandler FIndex;
  TFileHandler FBlob;
};

// The first difference between the table, the model and the files, or an empty string.
std::string Difference(TDataTable& table, const TLockModel& model, TOutsider& outside) {
  if (table.ReadLocked() != model.Read) return "read flag";
  if (table.QueryReadLocked() != model.Query) return "query flag";
  if (table.WriteLocked() != model.Write) return "write flag";
  if (table.TableLocked() != model.Table) return "table flag";
  if (table.InTransaction() != model.Transaction) return "transaction flag";
  if (table.LockedRecords() != model.Locked) return "locked records";
  if (table.DeferredUnlocks() != model.Deferred) return "deferred unlocks";
  const bool byteHeld = model.Table || model.Write;
  if (TOutsider::Free(outside.FData, 1, kTableLockPosition) == byteHeld) return "table byte";
  const bool rangeBusy = model.Write || model.Read || model.Query;
  for (TFileHandler* file : {&outside.FIndex, &outside.FBlob}) {
    if (TOutsider::Free(*file, kWriteRangeLength, kWriteRangeStart) == rangeBusy)
      return "write range of " + file->FileName();
  }
  const bool slotsHeld = !model.Write;
  if ((table.ReadSlot() != 0) != (model.Read && slotsHeld)) return "read slot";
  if ((table.QueryReadSlot() != 0) != (model.Query && slotsHeld)) return "query slot";
  for (std::uint16_t slot : {table.ReadSlot(), table.QueryReadSlot()}) {
    if (slot != 0 && TOutsider::Free(outside.FIndex, 1, ReadSlotPosition(slot)))
      return "slot byte free";
  }
  for (std::int32_t n = 1; n <= kRecords; ++n) {
    if (TOutsider::Free(outside.FData, 1, RecordLockPosition(n)) == model.Locked.contains(n))
      return "record byte " + std::to_string(n);
  }
  return {};
}

void Step(int operation, std::int32_t n, TDataTable& table, TDataDirectory& directory,
          TLockModel& m) {
  const bool other = m.Table || m.Write || m.Query;
  switch (operation) {
    case 0:
      table.AcquireReadLock();
      if (!other && !m.Read) m.Read = true;
      break;
    case 1:
      table.ReleaseReadLock();
      m.Read = false;
      break;
    case 2:
      table.AcquireQueryReadLock();
      if (!m.Table && !m.Write) m.Query = true;
      break;
    case 3:
      table.ReleaseQueryReadLock();
      m.Query = false;
      break;
    case 4:
      table.AcquireWriteLock();
      m.Write = true;
      break;
    case 5:
      table.ReleaseWriteLock();
      m.Write = false;
      break;
    case 6:
      table.LockTable();
      m.Table = true;
      break;
    case 7:
      table.UnlockTable();
      if (!m.Transaction) {
        m.Table = false;
        m.ApplyDeferred();
      }
      break;
    case 8:
      if (m.Table && m.Locked.contains(n)) {
        table.LockRecord(n);
        m.Deferred.erase(n);
      } else if (m.Locked.contains(n)) {
        EXPECT_EQ(RaisedCode([&] { table.LockRecord(n); }), 10258);
      } else {
        table.LockRecord(n);  // a read lock it takes goes again before it answers
        m.Locked.insert(n);
      }
      break;
    case 9:
      if (!m.Locked.contains(n)) {
        EXPECT_EQ(RaisedCode([&] { table.UnlockRecord(n); }), 10242);
      } else {
        table.UnlockRecord(n);
        if (m.Table) {
          m.Deferred.insert(n);
        } else {
          m.Locked.erase(n);
        }
      }
      break;
    case 10:
      table.UnlockAllRecords();
      m.Locked.clear();
      m.Deferred.clear();
      break;
    case 11:
      if (m.Transaction) {
        EXPECT_EQ(RaisedCode([&] { directory.StartTransaction(); }), 10249);
      } else {
        directory.StartTransaction();
        m.Transaction = m.Table = true;
      }
      break;
    case 12:
      directory.Commit();
      if (m.Transaction) {
        m.Transaction = m.Table = m.Write = false;
        m.ApplyDeferred();
      }
      break;
    default:
      directory.Rollback();
      if (m.Transaction) {
        m.Transaction = m.Table = false;
        m.ApplyDeferred();
      }
      break;
  }
}

TEST(TableLockModelTest, RandomLockSequencesAgreeWithTheModel) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    TScratchFolder folder;
    TEngineSandbox sandbox(folder.Path());
    sandbox.CountPauses(1);
    TDataDirectory& directory = sandbox.Directory();
    directory.CloseTable(directory.CreateTable("T", false, SmallTable(true), false));
    TDataTable& table = directory.OpenTable("T", false, false);
    TFileList outsiderFiles;
    TOutsider outside(outsiderFiles, folder.Path());
    TLockModel model;
    std::mt19937 random(seed);
    for (int i = 0; i < 2000; ++i) {
      const int operation = static_cast<int>(random() % 14);
      const std::int32_t n = static_cast<std::int32_t>(random() % kRecords) + 1;
      Step(operation, n, table, directory, model);
      const std::string difference = Difference(table, model, outside);
      ASSERT_EQ(difference, "") << "step " << i << " operation " << operation << " record " << n;
    }
    directory.Rollback();
    directory.CloseTable(table);
    EXPECT_TRUE(TOutsider::Free(outside.FData, 1, kTableLockPosition));
    EXPECT_TRUE(TOutsider::Free(outside.FIndex, kWriteRangeLength, kWriteRangeStart));
    for (std::int32_t n = 1; n <= kRecords; ++n)
      EXPECT_TRUE(TOutsider::Free(outside.FData, 1, RecordLockPosition(n)));
  }
}

}  // namespace
}  // namespace kura
