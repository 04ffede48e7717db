// Shared tables between real processes: a forked child opens the same table through a
// session and file list of its own and holds its locks while this process tries its own.
// Pauses between lock tries are counted, never slept.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/table_locks.h"
#include "engine/table_test_support.h"
#include "storage/failing_file.h"
#include "storage/file_names.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::AppendRecords;
using testing::RaisedCode;
using testing::RangeFree;
using testing::RecordId;
using testing::SmallTable;
using testing::TChildEnd;
using testing::TEngineSandbox;
using testing::TForkedChild;
using testing::TScratchFolder;

constexpr char kReady = 'r';
constexpr char kGo = 'g';
// A child's exit code when an engine error ended it: 100 + the code's last two digits.
constexpr int kChildEngineError = 100;

class DataTableProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    sandbox->CountPauses();
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("T", false, SmallTable(true), false));
  }

  // A child with a sandbox of its own on the folder (its file list refuses writable opens
  // when readOnly) running body. Use no test assertions in body.
  std::unique_ptr<TForkedChild> Child(const std::function<int(TEngineSandbox&, TChildEnd&)>& body,
                                      bool readOnly = false) {
    const std::string path = folder.Path();
    auto child = std::make_unique<TForkedChild>([=](TChildEnd& end) {
      try {
        TEngineSandbox box(path);
        if (readOnly) testing::InstallWriteRefusingFiles(box.Files());
        return body(box, end);
      } catch (const EKuraEngineError& error) {
        return kChildEngineError + error.ErrorCode % 100;
      }
    });
    return child;
  }

  // A child that opens T, runs hold, says it is ready and keeps everything until told to go.
  std::unique_ptr<TForkedChild> ChildHolding(const std::function<void(TDataTable&)>& hold,
                                             bool readOnly = false, bool exclusive = false) {
    return Child(
        [=](TEngineSandbox& box, TChildEnd& end) {
          TDataTable& table = box.Directory().OpenTable("T", false, exclusive);
          hold(table);
          end.Send(kReady);
          return end.Receive() == kGo ? 0 : 1;
        },
        readOnly);
  }

  TDataTable& Open() { return sandbox->Directory().OpenTable("T", false, false); }
  bool Free(std::string_view extension, std::int64_t start) {
    return RangeFree(sandbox->Files(), TableFileName(folder.Path(), "T", extension), 1, start);
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
};

TEST_F(DataTableProcessTest, TwoReadersNeverWaitForEachOther) {
  auto child = ChildHolding([](TDataTable& table) { table.AcquireReadLock(); });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  TDataTable& table = Open();
  EXPECT_NO_THROW(table.AcquireReadLock());
  EXPECT_TRUE(table.ReadLocked());
  EXPECT_NO_THROW(table.AcquireQueryReadLock());
  EXPECT_EQ(sandbox->Pauses(), 0u);
  // The child's slots keep a writer out.
  table.ReleaseReadLock();
  table.ReleaseQueryReadLock();
  sandbox->CountPauses(10);
  EXPECT_EQ(RaisedCode([&] { table.AcquireWriteLock(); }), 10249);
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_NO_THROW(table.AcquireWriteLock());
  table.ReleaseWriteLock();
}

TEST_F(DataTableProcessTest, AWriterMakesAReadLockFailAfterAllItsTries) {
  TDataTable& table = Open();  // opening checks the files under a read lock
  auto child = ChildHolding([](TDataTable& table) { table.AcquireWriteLock(); });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_EQ(RaisedCode([&] { table.AcquireReadLock(); }), 10249);
  EXPECT_EQ(sandbox->Pauses(), 32766u) << "32 767 tries, 3 ms apart";
  EXPECT_EQ(sandbox->PausedMs(), 32766u * 3);
  EXPECT_FALSE(table.ReadLocked());
  EXPECT_FALSE(Free(".DAT", kTableLockPosition));
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_NO_THROW(table.AcquireReadLock());
}

TEST_F(DataTableProcessTest, ARecordLockedElsewhereFailsAfterSixteenTries) {
  auto child = ChildHolding([](TDataTable& table) {
    table.LockRecord(7);
    table.ReleaseReadLock();
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  TDataTable& table = Open();
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(7); }), 10258);
  EXPECT_EQ(sandbox->Pauses(), 15u) << "one try and 15 more, 100 ms apart";
  EXPECT_EQ(sandbox->PausedMs(), 1500u);
  EXPECT_NO_THROW(table.LockRecord(8));
  table.ReleaseReadLock();
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_NO_THROW(table.LockRecord(7));
}

TEST_F(DataTableProcessTest, UnlockedRecordsStayLockedUntilTheTableLockGoes) {
  auto child = Child([](TEngineSandbox& box, TChildEnd& end) {
    TDataTable& table = box.Directory().OpenTable("T", false, false);
    table.LockTable();
    table.LockRecord(5);
    table.UnlockRecord(5);
    end.Send(kReady);
    if (end.Receive() != kGo) return 1;
    table.UnlockTable();
    end.Send(kReady);
    return end.Receive() == kGo ? 0 : 1;
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_FALSE(Free(".DAT", RecordLockPosition(5)));
  EXPECT_FALSE(Free(".DAT", kTableLockPosition));
  child->Send(kGo);
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_TRUE(Free(".DAT", RecordLockPosition(5)));
  EXPECT_TRUE(Free(".DAT", kTableLockPosition));
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

TEST_F(DataTableProcessTest, RecordBytesSeenFromAnotherProcess) {
  auto child = ChildHolding([](TDataTable& table) {
    table.LockRecord(1);
    table.LockRecord(200000000);
    table.ReleaseReadLock();
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_FALSE(Free(".DAT", 4294967293));
  EXPECT_FALSE(Free(".DAT", 4094967294));
  EXPECT_TRUE(Free(".DAT", 4294967294));
  EXPECT_TRUE(Free(".DAT", 4294967292));
  EXPECT_TRUE(Free(".DAT", 4094967293));
  EXPECT_TRUE(Free(".DAT", 4094967295));
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

TEST_F(DataTableProcessTest, AnAppendElsewhereIsSeenAtTheNextReadLock) {
  TDataTable& table = Open();
  EXPECT_EQ(table.Data().RecordCount(), 0);
  auto child = Child([](TEngineSandbox& box, TChildEnd& end) {
    TDataTable& writer = box.Directory().OpenTable("T", false, false);
    AppendRecords(writer, 1, 77);
    end.Send(kReady);
    return end.Receive() == kGo ? 0 : 1;
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_TRUE(table.AcquireReadLock()) << "changed";
  EXPECT_EQ(table.Data().RecordCount(), 1);
  EXPECT_EQ(table.Index().LiveRecordCount(), 1);
  table.ReleaseReadLock();
  EXPECT_EQ(RecordId(table, 1), 77);
  EXPECT_FALSE(table.AcquireReadLock()) << "nothing new since";
  table.ReleaseReadLock();
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

TEST_F(DataTableProcessTest, AnExclusiveHolderKeepsEveryOtherProcessOut) {
  auto child = ChildHolding([](TDataTable&) {}, false, true);
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_EQ(RaisedCode([&] { Open(); }), 11013);
  EXPECT_EQ(RaisedCode([&] { sandbox->Directory().OpenTable("T", false, true); }), 11013);
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_NO_THROW(Open());
}

// Nothing of another process's transaction reaches the files before it commits; its table
// lock keeps writers out meanwhile.
TEST_F(DataTableProcessTest, AnotherProcessesTransactionShowsOnlyAfterCommit) {
  auto child = Child([](TEngineSandbox& box, TChildEnd& end) {
    TDataDirectory& directory = box.Directory();
    TDataTable& table = directory.OpenTable("T", false, false);
    directory.StartTransaction();
    AppendRecords(table, 300);
    end.Send(kReady);
    if (end.Receive() != kGo) return 1;
    directory.Commit();
    end.Send(kReady);
    return end.Receive() == kGo ? 0 : 1;
  });
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  TDataTable& table = Open();
  EXPECT_FALSE(table.AcquireReadLock());
  EXPECT_EQ(table.Data().RecordCount(), 0);
  table.ReleaseReadLock();
  sandbox->CountPauses(10);
  EXPECT_EQ(RaisedCode([&] { table.AcquireWriteLock(); }), 10249);
  EXPECT_EQ(RaisedCode([&] { table.LockTable(); }), 10249);
  child->Send(kGo);
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_TRUE(table.AcquireReadLock());
  EXPECT_EQ(table.Data().RecordCount(), 300);
  table.ReleaseReadLock();
  EXPECT_EQ(RecordId(table, 300), 300);
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
}

// Processes that may only read the table files lock each other out like writers do.
TEST_F(DataTableProcessTest, ReadOnlyProcessesStillExcludeEachOther) {
  testing::InstallWriteRefusingFiles(sandbox->Files());
  auto child = ChildHolding(
      [](TDataTable& table) {
        if (!table.ReadOnly() || table.ReadOnlyAttribute()) RaiseEngineError(codes::kAccessDenied);
        table.LockRecord(3);
        table.ReleaseReadLock();
        table.LockTable();
      },
      true);
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  TDataTable& table = Open();
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_FALSE(table.ReadOnlyAttribute());
  sandbox->CountPauses(10);
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(3); }), 10258);
  EXPECT_EQ(RaisedCode([&] { table.LockTable(); }), 10249);
  EXPECT_EQ(RaisedCode([&] { table.AcquireWriteLock(); }), 10249);
  EXPECT_NO_THROW(table.LockRecord(4));
  table.ReleaseReadLock();
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_NO_THROW(table.LockTable());
  table.UnlockTable();
}

TEST_F(DataTableProcessTest, AReadOnlyExclusiveHolderKeepsEveryOtherProcessOut) {
  auto child = ChildHolding([](TDataTable&) {}, true, true);
  ASSERT_TRUE(child->Started());
  ASSERT_EQ(child->Receive(), kReady);
  EXPECT_EQ(RaisedCode([&] { Open(); }), 11013);
  child->Send(kGo);
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_NO_THROW(Open());
}

// count of the records 1 .. of, scattered (a fixed shuffle).
std::vector<std::int32_t> ScatteredRecords(std::size_t count, std::int32_t of) {
  std::vector<std::int32_t> records(static_cast<std::size_t>(of));
  std::iota(records.begin(), records.end(), 1);
  std::shuffle(records.begin(), records.end(), std::mt19937(37));
  records.resize(count);
  return records;
}

// A transaction in another process changes many scattered records (each edit locks its
// record and gives it back at the post, which the table lock defers to the commit). Every
// changed record is in use for this process until the commit, and after it every record
// byte is free again. When no other process held a record lock, the transaction holds the
// whole record range in one lock, so untouched records are in use too while it runs (they
// cannot be changed anyway: the table byte keeps writers out), and nothing outside the
// record bytes is locked. When this process held a record lock first, the transaction keeps
// single locks, and untouched records can still be locked.
TEST_F(DataTableProcessTest, ATransactionOverManyScatteredRecordsHoldsEachOfThem) {
  constexpr std::int32_t kTableRecords = 100000;
  struct Case {
    const char* Name;
    std::size_t Changed;
    bool HeldHereFirst;
  };
  for (const Case& c : {Case{"record range", 50000, false}, Case{"single locks", 4000, true}}) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::int32_t> records = ScatteredRecords(kTableRecords, kTableRecords);
    const std::vector<std::int32_t> changed(
        records.begin(), records.begin() + static_cast<std::ptrdiff_t>(c.Changed));
    const std::vector<std::int32_t> untouched(
        records.begin() + static_cast<std::ptrdiff_t>(c.Changed), records.end());
    TDataTable& table = Open();
    sandbox->Session().SetLockRetryCount(0);
    const std::int32_t heldHere = untouched.front();
    if (c.HeldHereFirst) table.LockRecord(heldHere);

    auto child = Child([changed](TEngineSandbox& box, TChildEnd& end) {
      TDataDirectory& directory = box.Directory();
      TDataTable& writer = directory.OpenTable("T", false, false);
      directory.StartTransaction();
      for (std::int32_t n : changed) {
        writer.LockRecord(n);
        writer.UnlockRecord(n);
      }
      end.Send(writer.RecordRangeLocked() ? 'R' : 'S');
      if (end.Receive() != kGo) return 1;
      directory.Commit();
      end.Send(kReady);
      return end.Receive() == kGo ? 0 : 1;
    });
    ASSERT_TRUE(child->Started());
    const int held = child->Receive();
    ASSERT_EQ(held, c.HeldHereFirst ? 'S' : 'R');
    for (std::size_t i = 0; i < changed.size(); i += 97)
      EXPECT_EQ(RaisedCode([&] { table.LockRecord(changed[i]); }), 10258) << changed[i];
    for (std::size_t i = 1; i < untouched.size(); i += 101) {
      const std::int32_t n = untouched[i];
      if (c.HeldHereFirst) {
        EXPECT_NO_THROW(table.LockRecord(n)) << n;
        table.UnlockRecord(n);
      } else {
        EXPECT_EQ(RaisedCode([&] { table.LockRecord(n); }), 10258) << n;
      }
    }
    EXPECT_TRUE(Free(".DAT", kRecordRangeStart - 1)) << "below the record bytes";
    EXPECT_TRUE(Free(".DAT", RecordLockPosition(0))) << "between record 1 and the table byte";
    EXPECT_FALSE(Free(".DAT", kTableLockPosition));

    child->Send(kGo);
    ASSERT_EQ(child->Receive(), kReady);
    TFileHandler probe(sandbox->Files());
    probe.SetFileName(TableFileName(folder.Path(), "T", ".DAT"));
    probe.Open();
    std::size_t stillLocked = 0;
    for (std::int32_t n : changed) {
      if (!probe.LockRange(1, RecordLockPosition(n))) {
        ++stillLocked;
      } else {
        probe.UnlockRange(1, RecordLockPosition(n));
      }
    }
    EXPECT_EQ(stillLocked, 0u) << "after the commit";
    if (c.HeldHereFirst) table.UnlockRecord(heldHere);
    EXPECT_TRUE(probe.LockRange(kRecordRangeLength, kRecordRangeStart)) << "every record byte";
    probe.UnlockRange(kRecordRangeLength, kRecordRangeStart);
    EXPECT_TRUE(probe.LockRange(1, kTableLockPosition));
    probe.UnlockRange(1, kTableLockPosition);
    probe.Close();
    child->Send(kGo);
    EXPECT_EQ(child->Wait(), 0);
    sandbox->Directory().CloseTable(table);
  }
}

}  // namespace
}  // namespace kura
