// The shared table object within one process: creating and reopening tables, sharing them
// per directory, the exact lock bytes, the retry rules (pauses counted, never slept), deferred
// record unlocks, exclusive tables, a lost index file, change detection between two
// independent file lists, and transactions.
#include "engine/data_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/table_locks.h"
#include "engine/table_test_support.h"
#include "storage/buffer_cache.h"
#include "storage/failing_file.h"
#include "storage/file_names.h"
#include "storage/file_test_support.h"
#include "storage/index_file.h"
#include "storage/physical_file.h"
#include "storage/record_image.h"

namespace kura {
namespace {

using testing::AppendRecords;
using testing::PathExists;
using testing::RaisedCode;
using testing::RangeFree;
using testing::ReadWholeFile;
using testing::RecordId;
using testing::SmallTable;
using testing::TEngineSandbox;
using testing::TScratchFolder;

class DataTableTest : public ::testing::Test {
 protected:
  DataTableTest() : sandbox(folder.Path()) { sandbox.CountPauses(); }

  // Creates table name (closed again afterwards).
  void Create(const std::string& name = "T", bool blob = false) {
    TDataDirectory& directory = sandbox.Directory();
    directory.CloseTable(directory.CreateTable(name, false, SmallTable(blob), false));
  }
  TDataTable& Open(const std::string& name = "T", bool exclusive = false) {
    return sandbox.Directory().OpenTable(name, false, exclusive);
  }
  std::string FileOf(const std::string& name, std::string_view extension) {
    return TableFileName(folder.Path(), name, extension);
  }
  bool Free(std::string_view extension, std::int64_t length, std::int64_t start) {
    return RangeFree(sandbox.Files(), FileOf("T", extension), length, start);
  }

  TScratchFolder folder;
  TEngineSandbox sandbox;
};

TEST_F(DataTableTest, ABlobFileIsMadeOnlyForBlobFields) {
  Create("Plain");
  EXPECT_TRUE(PathExists(FileOf("Plain", ".DAT")));
  EXPECT_TRUE(PathExists(FileOf("Plain", ".IDX")));
  EXPECT_FALSE(PathExists(FileOf("Plain", ".BLB")));
  Create("Notes", true);
  EXPECT_TRUE(PathExists(FileOf("Notes", ".BLB")));
  TDataTable& notes = Open("Notes");
  EXPECT_TRUE(notes.HasBlobFields());
  EXPECT_TRUE(notes.Blob().IsOpen());
  TDataTable& plain = Open("Plain");
  EXPECT_FALSE(plain.Blob().IsOpen());
  EXPECT_EQ(
      RaisedCode([&] { sandbox.Directory().CreateTable("Plain", false, SmallTable(), false); }),
      11013);
}

TEST_F(DataTableTest, CreatingOverAnExistingTableNeedsOverwrite) {
  Create();
  TDataDirectory& directory = sandbox.Directory();
  EXPECT_EQ(RaisedCode([&] { directory.CreateTable("t", false, SmallTable(), false); }), 13060);
  TDataTable& again = directory.CreateTable("t", false, SmallTable(true), true);
  EXPECT_TRUE(again.HasBlobFields());
  directory.CloseTable(again);
  EXPECT_EQ(RaisedCode([&] { Open("Missing"); }), 11010);
}

TEST_F(DataTableTest, DeletingAndRenamingNeedTheTableClosed) {
  Create("Old", true);
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& open = Open("Old");
  EXPECT_EQ(RaisedCode([&] { directory.DeleteTable("old", false); }), 11013);
  EXPECT_EQ(RaisedCode([&] { directory.RenameTable("old", "New", false); }), 11013);
  directory.CloseTable(open);
  Create("Taken");
  EXPECT_EQ(RaisedCode([&] { directory.RenameTable("Old", "taken", false); }), 13060);
  directory.RenameTable(" Old ", "New", false);
  for (const char* extension : {".DAT", ".IDX", ".BLB"}) {
    EXPECT_FALSE(PathExists(FileOf("Old", extension))) << extension;
    EXPECT_TRUE(PathExists(FileOf("New", extension))) << extension;
  }
  EXPECT_TRUE(Open("New").HasBlobFields());
  EXPECT_EQ(RaisedCode([&] { directory.DeleteTable("Old", false); }), 11010);
  EXPECT_EQ(RaisedCode([&] { directory.RenameTable("Old", "Other", false); }), 11010);
  directory.DeleteTable("Taken", false);
  EXPECT_FALSE(PathExists(FileOf("Taken", ".DAT")));
  EXPECT_FALSE(PathExists(FileOf("Taken", ".IDX")));
  // Another process holding the files keeps them (a second file list stands for it).
  TEngineSandbox other(folder.Path());
  other.Directory().OpenTable("New", false, false);
  directory.CloseTable(*directory.FindTable("New", false));
  EXPECT_EQ(RaisedCode([&] { directory.DeleteTable("New", false); }), 11013);
  EXPECT_TRUE(PathExists(FileOf("New", ".IDX")));
}

TEST_F(DataTableTest, EmptyingNeedsTheTableExclusively) {
  Create("T", true);
  TDataTable& shared = Open();
  AppendRecords(shared, 20);
  EXPECT_EQ(RaisedCode([&] { shared.EmptyTable(); }), 10253);
  sandbox.Directory().CloseTable(shared);
  TDataTable& table = Open("T", true);
  table.EmptyTable();
  EXPECT_EQ(table.Data().RecordCount(), 0);
  EXPECT_EQ(table.Index().LiveRecordCount(), 0);
  sandbox.Directory().CloseTable(table);
  EXPECT_EQ(Open().Data().RecordCount(), 0);
}

TEST_F(DataTableTest, TablesAreSharedByTrimmedNameAndKind) {
  Create();
  TDataTable& first = Open("T");
  TDataTable& second = Open("  t ");
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.OpenCount(), 2);
  EXPECT_EQ(sandbox.Directory().Tables().size(), 1u);
  // A memory table of the same name is another table (here: one that was never created).
  EXPECT_EQ(RaisedCode([&] { sandbox.Directory().OpenTable("T", true, false); }), 11010);
  sandbox.Directory().CloseTable(first);
  sandbox.Directory().CloseTable(first);
  EXPECT_TRUE(sandbox.Directory().Tables().empty());
}

TEST_F(DataTableTest, ExclusiveOpensConflictWithEveryOtherUse) {
  struct Case {
    bool firstExclusive;
    bool secondExclusive;
    int code;
  };
  const Case cases[] = {
      {false, false, 0}, {false, true, 11013}, {true, false, 11013}, {true, true, 11013}};
  Create();
  for (const Case& c : cases) {
    TDataTable& first = Open("T", c.firstExclusive);
    EXPECT_EQ(first.Exclusive(), c.firstExclusive);
    EXPECT_EQ(RaisedCode([&] {
                TDataTable& second = Open("T", c.secondExclusive);
                sandbox.Directory().CloseTable(second);
              }),
              c.code)
        << c.firstExclusive << c.secondExclusive;
    sandbox.Directory().CloseTable(first);
    EXPECT_TRUE(sandbox.Directory().Tables().empty());
  }
  // Another session of the process opening the files exclusively is kept out as well.
  TEngineSandbox other(folder.Path());
  TDataTable& shared = Open("T");
  EXPECT_EQ(RaisedCode([&] { other.Directory().OpenTable("T", false, true); }), 11013);
  sandbox.Directory().CloseTable(shared);
}

TEST_F(DataTableTest, LockBytesSitAtTheirPositions) {
  Create("T", true);
  TDataTable& table = Open();
  table.LockRecord(1);
  EXPECT_FALSE(Free(".DAT", 1, 4294967293));
  EXPECT_TRUE(Free(".DAT", 1, 4294967292));
  EXPECT_TRUE(Free(".DAT", 1, 4294967294));
  table.LockRecord(200000000);
  EXPECT_FALSE(Free(".DAT", 1, 4094967294));
  EXPECT_TRUE(Free(".DAT", 1, 4094967293));
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(0); }), 10258);
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(200000001); }), 10258);
  table.UnlockAllRecords();
  EXPECT_TRUE(Free(".DAT", 1, 4294967293));

  table.AcquireReadLock();
  const std::uint16_t slot = table.ReadSlot();
  ASSERT_GE(slot, 1);
  EXPECT_FALSE(Free(".IDX", 1, 4294967295 - slot));
  EXPECT_TRUE(Free(".DAT", 1, 4294967295));
  table.ReleaseReadLock();
  EXPECT_TRUE(Free(".IDX", 1, 4294967295 - slot));

  table.AcquireWriteLock();
  EXPECT_FALSE(Free(".DAT", 1, 4294967295));
  for (const char* extension : {".IDX", ".BLB"}) {
    EXPECT_FALSE(Free(extension, 1, 4294901759)) << extension;
    EXPECT_FALSE(Free(extension, 1, 4294967294)) << extension;
    EXPECT_TRUE(Free(extension, 1, 4294901758)) << extension;
    EXPECT_TRUE(Free(extension, 1, 4294967295)) << extension;
  }
  table.ReleaseWriteLock();
  EXPECT_TRUE(Free(".DAT", 1, 4294967295));
  EXPECT_TRUE(Free(".IDX", kWriteRangeLength, kWriteRangeStart));
  EXPECT_TRUE(Free(".BLB", kWriteRangeLength, kWriteRangeStart));

  table.LockTable();
  EXPECT_FALSE(Free(".DAT", 1, 4294967295));
  EXPECT_TRUE(Free(".IDX", kWriteRangeLength, kWriteRangeStart));
  table.UnlockTable();
  EXPECT_TRUE(Free(".DAT", 1, 4294967295));
}

// The fixed locks give up after 32 767 tries with 3 ms between them; the pauses are
// counted here instead of slept.
TEST_F(DataTableTest, FixedLocksGiveUpAfterTheirTries) {
  Create("T", true);
  TDataTable& table = Open();
  TFileHandler other(sandbox.Files());
  other.SetFileName(FileOf("T", ".IDX"));
  other.Open();
  ASSERT_TRUE(other.LockRange(kWriteRangeLength, kWriteRangeStart));
  EXPECT_EQ(RaisedCode([&] { table.AcquireReadLock(); }), 10249);
  EXPECT_EQ(sandbox.Pauses(), 32766u);
  EXPECT_EQ(sandbox.PausedMs(), 32766u * 3);
  EXPECT_FALSE(table.ReadLocked());
  EXPECT_EQ(RaisedCode([&] { table.AcquireWriteLock(); }), 10249);
  EXPECT_FALSE(table.WriteLocked());
  // The failed write lock gave its table byte back.
  EXPECT_TRUE(Free(".DAT", 1, kTableLockPosition));
  other.UnlockRange(kWriteRangeLength, kWriteRangeStart);

  // A reader elsewhere keeps the writer out but not another reader.
  ASSERT_TRUE(other.LockRange(1, ReadSlotPosition(7)));
  EXPECT_EQ(RaisedCode([&] { table.AcquireWriteLock(); }), 10249);
  EXPECT_NO_THROW(table.AcquireReadLock());
  table.ReleaseReadLock();

  TFileHandler data(sandbox.Files());
  data.SetFileName(FileOf("T", ".DAT"));
  data.Open();
  ASSERT_TRUE(data.LockRange(1, kTableLockPosition));
  EXPECT_EQ(RaisedCode([&] { table.LockTable(); }), 10249);
  EXPECT_FALSE(table.TableLocked());
}

TEST_F(DataTableTest, RecordLocksTrySixteenTimesWithTheSessionsWait) {
  Create();
  TDataTable& table = Open();
  TFileHandler other(sandbox.Files());
  other.SetFileName(FileOf("T", ".DAT"));
  other.Open();
  ASSERT_TRUE(other.LockRange(1, RecordLockPosition(3)));
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(3); }), 10258);
  EXPECT_EQ(sandbox.Pauses(), 15u);
  EXPECT_EQ(sandbox.PausedMs(), 1500u);
  EXPECT_FALSE(table.ReadLocked());  // the read lock taken for the try is gone again
  EXPECT_TRUE(table.LockedRecords().empty());

  sandbox.Session().SetLockRetryCount(2);
  sandbox.Session().SetLockWaitTime(7);
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(3); }), 10258);
  EXPECT_EQ(sandbox.Pauses(), 17u);
  EXPECT_EQ(sandbox.PausedMs(), 1514u);

  // A record another cursor of the process locked is in use as well.
  table.LockRecord(4);
  table.ReleaseReadLock();
  EXPECT_EQ(RaisedCode([&] { table.LockRecord(4); }), 10258);
  table.UnlockRecord(4);
  EXPECT_EQ(RaisedCode([&] { table.UnlockRecord(4); }), 10242);
  EXPECT_EQ(RaisedCode([&] { table.UnlockRecord(0); }), 10242);
}

// A record lock never leaves a read lock behind (one left over would keep every writer of
// every process out), yet still answers a change it saw; a read lock the caller took itself
// stays with the caller.
TEST_F(DataTableTest, LockingARecordLeavesNoReadLockBehind) {
  Create();
  TDataTable& table = Open();
  TEngineSandbox other(folder.Path());
  TDataTable& otherTable = other.Directory().OpenTable("T", false, false);
  std::int32_t n = 1;
  for (const bool strict : {false, true}) {
    SCOPED_TRACE(strict);
    sandbox.Session().SetStrictChangeDetection(strict);
    AppendRecords(otherTable, 1, n);
    EXPECT_EQ(table.LockRecord(n), !strict) << "only the read lock looks for changes";
    EXPECT_FALSE(table.ReadLocked());
    EXPECT_TRUE(Free(".IDX", kWriteRangeLength, kWriteRangeStart)) << "a writer can go on";
    EXPECT_FALSE(Free(".DAT", 1, RecordLockPosition(n)));
    ++n;
  }
  sandbox.Session().SetStrictChangeDetection(false);
  table.AcquireReadLock();
  table.LockRecord(n);
  EXPECT_TRUE(table.ReadLocked());
  table.ReleaseReadLock();
}

TEST_F(DataTableTest, WrittenFilesArePushedToDiskWhenAskedOrForced) {
  Create("T", true);
  testing::TFileFaults faults;
  InstallFailingFiles(sandbox.Files(), faults);
  TDataTable& table = Open();
  AppendRecords(table, 2);
  EXPECT_EQ(faults.FlushCalls, 0);
  EXPECT_TRUE(table.Written());
  table.AcquireWriteLock();
  table.Data().MarkChanged();
  table.Index().MarkIndexChanged();
  table.FlushBuffers(true);
  EXPECT_GE(faults.FlushCalls, 2) << "the data and the index file";
  faults.ResetCounters();
  table.FlushBuffers(true);
  EXPECT_EQ(faults.FlushCalls, 0) << "nothing written, nothing pushed";
  table.ReleaseWriteLock();
  faults.ResetCounters();
  sandbox.Session().SetForceBufferFlush(true);
  AppendRecords(table, 1);
  EXPECT_GE(faults.FlushCalls, 2);
}

TEST_F(DataTableTest, UnlocksWaitForTheTableLock) {
  Create();
  TDataTable& table = Open();
  table.LockTable();
  table.LockRecord(5);
  table.LockRecord(6);
  EXPECT_FALSE(table.ReadLocked());  // the table lock stands for the read lock
  table.UnlockRecord(5);
  EXPECT_FALSE(Free(".DAT", 1, RecordLockPosition(5)));
  EXPECT_EQ(table.DeferredUnlocks().count(5), 1u);
  // Locked again before the table lock went: it stays locked.
  table.UnlockRecord(6);
  table.LockRecord(6);
  table.UnlockTable();
  EXPECT_TRUE(Free(".DAT", 1, RecordLockPosition(5)));
  EXPECT_TRUE(Free(".DAT", 1, kTableLockPosition));
  EXPECT_FALSE(Free(".DAT", 1, RecordLockPosition(6)));
  EXPECT_EQ(table.LockedRecords(), (std::set<std::int32_t>{6}));
  table.UnlockRecord(6);
  EXPECT_TRUE(Free(".DAT", 1, RecordLockPosition(6)));
}

TEST_F(DataTableTest, TheWriteLockSetsAsideThisObjectsReadLock) {
  Create("T", true);
  TDataTable& table = Open();
  table.AcquireReadLock();
  table.AcquireQueryReadLock();
  EXPECT_NE(table.QueryReadSlot(), 0);
  EXPECT_NO_THROW(table.AcquireWriteLock());
  EXPECT_TRUE(table.ReadLocked());
  EXPECT_EQ(table.ReadSlot(), 0);
  table.ReleaseWriteLock();
  ASSERT_NE(table.ReadSlot(), 0);
  EXPECT_FALSE(Free(".IDX", 1, ReadSlotPosition(table.ReadSlot())));
  EXPECT_FALSE(Free(".IDX", 1, ReadSlotPosition(table.QueryReadSlot())));
  EXPECT_EQ(sandbox.Pauses(), 0u);
  table.ReleaseReadLock();
  table.ReleaseQueryReadLock();
  EXPECT_TRUE(Free(".IDX", kWriteRangeLength, kWriteRangeStart));
  EXPECT_TRUE(Free(".BLB", kWriteRangeLength, kWriteRangeStart));
}

// A disk file that counts the locks asked of it.
class TLockCountingFile : public TPhysicalFile {
 public:
  TLockCountingFile(std::string name, bool temporary, bool exclusive, int& locks)
      : TPhysicalFile(std::move(name), temporary, exclusive), FLocks(locks) {}
  bool LockRange(std::int64_t length, std::int64_t start) override {
    ++FLocks;
    return TPhysicalFile::LockRange(length, start);
  }

 private:
  int& FLocks;
};

TEST_F(DataTableTest, AnExclusiveTableTakesNoLocksAndSeesNoChanges) {
  Create("T", true);
  int locks = 0;
  sandbox.Files().SetDiskFileFactory(
      [&locks](const std::string& name, bool temporary, bool exclusive) {
        return std::make_unique<TLockCountingFile>(name, temporary, exclusive, locks);
      });
  TDataTable& table = Open("T", true);
  EXPECT_FALSE(table.AcquireReadLock());
  EXPECT_FALSE(table.AcquireQueryReadLock());
  EXPECT_FALSE(table.AcquireWriteLock());
  EXPECT_FALSE(table.LockTable());
  EXPECT_FALSE(table.LockRecord(1));
  EXPECT_NO_THROW(table.UnlockRecord(1));
  AppendRecords(table, 3);
  EXPECT_FALSE(table.CheckForChanges());
  table.UnlockTable();
  EXPECT_EQ(locks, 0);
  sandbox.Directory().CloseTable(table);
  // Closing wrote the buffers back.
  TDataTable& reopened = Open();
  EXPECT_EQ(reopened.Data().RecordCount(), 3);
  EXPECT_EQ(RecordId(reopened, 3), 3);
}

TEST_F(DataTableTest, ALostIndexFileIsMadeAgainWithoutIndexes) {
  TTableDefinition definition = SmallTable();
  definition.PrimaryIndex.Fields = {1};
  TIndexDefinition byName;
  byName.Name = "ByName";
  byName.Fields = {2};
  definition.SecondaryIndexes.push_back(byName);
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& created = directory.CreateTable("T", false, definition, false);
  EXPECT_EQ(created.Index().SecondaryCount(), 1);
  EXPECT_FALSE(created.NeedsSysDeletedRebuild());
  directory.CloseTable(created);
  ASSERT_EQ(std::remove(FileOf("T", ".IDX").c_str()), 0);

  TDataTable& table = Open();
  EXPECT_TRUE(PathExists(FileOf("T", ".IDX")));
  EXPECT_TRUE(table.NeedsSysDeletedRebuild());
  EXPECT_EQ(table.Index().SecondaryCount(), 0);
  EXPECT_TRUE(table.Index().NoPrimaryIndex());
  EXPECT_EQ(table.Index().FindIndexName("ByName"), -1);
  table.SysDeletedRebuilt();
  EXPECT_FALSE(table.NeedsSysDeletedRebuild());
}

// Two sandboxes have file lists of their own, so they meet only through the system's locks,
// as two processes do.
TEST_F(DataTableTest, AnotherWritersAppendIsSeenAtTheNextReadLock) {
  Create();
  TDataTable& reader = Open();
  EXPECT_EQ(reader.Data().RecordCount(), 0);
  TEngineSandbox writerBox(folder.Path());
  TDataTable& writer = writerBox.Directory().OpenTable("T", false, false);
  AppendRecords(writer, 2, 41);
  EXPECT_TRUE(reader.AcquireReadLock());
  EXPECT_EQ(reader.Data().RecordCount(), 2);
  EXPECT_EQ(reader.Index().LiveRecordCount(), 2);
  reader.ReleaseReadLock();
  EXPECT_FALSE(reader.AcquireReadLock());
  reader.ReleaseReadLock();
  EXPECT_EQ(RecordId(reader, 2), 42);
  // The reader's cached record is dropped when the writer changes the table again.
  AppendRecords(writer, 1, 43);
  EXPECT_TRUE(reader.AcquireWriteLock());
  EXPECT_EQ(reader.Data().RecordCount(), 3);
  EXPECT_EQ(reader.Data().RecordCache().Count(), 0u);
  reader.ReleaseWriteLock();
}

// Another writer changes a cached record and then only the BLOB header: each time the next
// lock drops exactly the caches of the files that changed.
TEST_F(DataTableTest, AnotherWritersChangesEmptyTheCachesOfTheChangedFiles) {
  Create("T", true);
  TDataTable& reader = Open();
  AppendRecords(reader, 3, 10);
  EXPECT_EQ(RecordId(reader, 1), 10);
  TEngineSandbox writerBox(folder.Path());
  TDataTable& writer = writerBox.Directory().OpenTable("T", false, false);
  writer.AcquireWriteLock();
  TRecord* record = writer.Data().GetRecord(1);
  std::uint8_t value[4] = {99, 0, 0, 0};
  SetField(record->Image, *writer.Data().DescriptorByNumber(1), value, false, {});
  writer.Data().MarkRecordChanged(record);
  writer.Data().ReleaseRecord(record);
  writer.Data().MarkChanged();
  writer.FlushBuffers();
  writer.ReleaseWriteLock();
  EXPECT_GT(reader.Data().RecordCache().Count(), 0u);
  EXPECT_EQ(RecordId(reader, 1), 99) << "the stale record was dropped at the read lock";

  reader.AcquireWriteLock();
  reader.Blob().NewBlock();  // a block of no value: just something cached
  reader.FlushBuffers();
  reader.ReleaseWriteLock();
  ASSERT_EQ(reader.Blob().Cache().Count(), 1u);
  const std::size_t recordsCached = reader.Data().RecordCache().Count();
  writer.AcquireWriteLock();
  writer.Blob().MarkBlobChanged();
  writer.FlushBuffers(false, false);
  writer.ReleaseWriteLock();
  EXPECT_TRUE(reader.AcquireReadLock());
  EXPECT_EQ(reader.Blob().Cache().Count(), 0u);
  EXPECT_EQ(reader.Data().RecordCache().Count(), recordsCached) << "the data file did not change";
  reader.ReleaseReadLock();
}

// The session's buffer sizes set the caches of a table opened afterwards; the initial values
// give the usual budgets.
TEST_F(DataTableTest, TheSessionsBufferSizesSizeTheCachesOfATableOpenedLater) {
  Create();
  TDataTable& usual = Open();
  const std::size_t recordSize = usual.Data().RecordSize();
  EXPECT_EQ(usual.Data().RecordCache().Capacity(), RecordCacheCapacity(recordSize));
  EXPECT_EQ(usual.Index().Cache(kPrimaryIndexSlot).Capacity(), PageCacheCapacity());
  sandbox.Directory().CloseTable(usual);

  struct TCase {
    std::int32_t RecordBytes, RecordCount, IndexBytes;
    std::size_t Records, Pages;
  };
  const TCase cases[] = {
      {static_cast<std::int32_t>(recordSize * 500), 8192, 81920, 500, 10},
      {static_cast<std::int32_t>(recordSize * 500), 300, 8192, 300, 1},  // count caps the records
      {0, 8192, 0, 1, 1},                                                // never below one
  };
  for (const TCase& c : cases) {
    sandbox.Session().SetRecordBufferBytes(c.RecordBytes);
    sandbox.Session().SetRecordBufferCount(c.RecordCount);
    sandbox.Session().SetIndexBufferBytes(c.IndexBytes);
    TDataTable& table = Open();
    EXPECT_EQ(table.Data().RecordCache().Capacity(), c.Records);
    for (int slot : {kPrimaryIndexSlot, kSysDeletedSlot}) {
      EXPECT_EQ(table.Index().Cache(slot).Capacity(), c.Pages) << "slot " << slot;
    }
    sandbox.Directory().CloseTable(table);
  }
}

TEST_F(DataTableTest, DiscardingWithTrimSetsTheCachesBackToTheirTargets) {
  Create();
  TDataTable& table = Open("T", true);
  AppendRecords(table, 600);
  TRecordCache& cache = table.Data().RecordCache();
  const std::size_t target = cache.TargetCapacity();
  std::vector<TRecord*> pinned;
  for (std::int32_t n = 1; n <= static_cast<std::int32_t>(target) + 10; ++n)
    pinned.push_back(table.Data().GetRecord(n));
  EXPECT_GT(cache.Capacity(), target);
  for (TRecord* record : pinned) table.Data().ReleaseRecord(record);
  table.DiscardBuffers(true);
  EXPECT_EQ(cache.Count(), 0u);
  EXPECT_EQ(cache.Capacity(), target);
  EXPECT_EQ(table.Data().RecordCount(), 600);
}

TEST_F(DataTableTest, ATransactionKeepsTenThousandRecordsCachedUntilCommit) {
  Create();
  testing::TFileFaults faults;
  InstallFailingFiles(sandbox.Files(), faults);
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& table = Open();
  directory.StartTransaction();
  EXPECT_TRUE(table.InTransaction());
  EXPECT_TRUE(table.TableLocked());
  EXPECT_FALSE(Free(".DAT", 1, kTableLockPosition));
  faults.ResetCounters();
  for (int i = 0; i < 100; ++i) AppendRecords(table, 100, i * 100 + 1);
  EXPECT_EQ(faults.WriteCalls, 0);
  EXPECT_GE(table.Data().RecordCache().Count(), 10000u);
  EXPECT_EQ(RaisedCode([&] { directory.StartTransaction(); }), 10249);
  directory.Commit();
  EXPECT_GT(faults.WriteCalls, 0);
  EXPECT_FALSE(table.InTransaction());
  EXPECT_TRUE(Free(".DAT", 1, kTableLockPosition));
  EXPECT_TRUE(Free(".IDX", kWriteRangeLength, kWriteRangeStart));

  TEngineSandbox other(folder.Path());
  TDataTable& seen = other.Directory().OpenTable("T", false, false);
  EXPECT_EQ(seen.Data().RecordCount(), 10000);
  EXPECT_EQ(RecordId(seen, 10000), 10000);
  EXPECT_EQ(seen.Index().LiveRecordCount(), 10000);
}

TEST_F(DataTableTest, ARollbackLeavesTheFilesAsTheyWere) {
  Create("T", true);
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& table = Open();
  AppendRecords(table, 5);
  const std::string data = ReadWholeFile(FileOf("T", ".DAT"));
  const std::string index = ReadWholeFile(FileOf("T", ".IDX"));
  const std::string blob = ReadWholeFile(FileOf("T", ".BLB"));
  directory.StartTransaction();
  AppendRecords(table, 500, 6);
  TRecord* first = table.Data().GetRecord(1);
  first->Image[9] = 0x55;
  table.Data().MarkRecordChanged(first);
  table.Data().ReleaseRecord(first);
  table.FlushBuffers();
  directory.Rollback();
  EXPECT_EQ(ReadWholeFile(FileOf("T", ".DAT")), data);
  EXPECT_EQ(ReadWholeFile(FileOf("T", ".IDX")), index);
  EXPECT_EQ(ReadWholeFile(FileOf("T", ".BLB")), blob);
  EXPECT_EQ(table.Data().RecordCount(), 5);
  EXPECT_EQ(table.Index().LiveRecordCount(), 5);
  EXPECT_EQ(RecordId(table, 1), 1);
  EXPECT_TRUE(Free(".DAT", 1, kTableLockPosition));
}

TEST_F(DataTableTest, ATransactionThatCannotStartEverywhereStartsNowhere) {
  Create("A");
  Create("B");
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& a = directory.OpenTable("A", false, false);
  TDataTable& b = directory.OpenTable("B", false, false);
  TEngineSandbox other(folder.Path());
  other.Directory().OpenTable("B", false, false).LockTable();
  sandbox.CountPauses(3);
  EXPECT_EQ(RaisedCode([&] { directory.StartTransaction(); }), 10249);
  EXPECT_FALSE(directory.InTransaction());
  EXPECT_FALSE(a.InTransaction());
  EXPECT_FALSE(b.InTransaction());
  EXPECT_TRUE(RangeFree(sandbox.Files(), FileOf("A", ".DAT"), 1, kTableLockPosition));
}

// A commit that cannot write keeps nothing of the transaction in the caches, where a later
// write-back would put it on disk without the write lock.
TEST_F(DataTableTest, ACommitThatCannotWriteEndsTheTransactionAndDropsItsChanges) {
  Create();
  testing::TFileFaults faults;
  InstallFailingFiles(sandbox.Files(), faults);
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& table = Open();
  AppendRecords(table, 4);
  directory.StartTransaction();
  AppendRecords(table, 50, 5);
  faults.WriteBudget = 0;
  EXPECT_EQ(RaisedCode([&] { directory.Commit(); }), 9218);
  faults.WriteBudget = -1;
  EXPECT_FALSE(directory.InTransaction());
  EXPECT_FALSE(table.InTransaction());
  EXPECT_FALSE(table.WriteLocked());
  EXPECT_FALSE(table.TableLocked());
  EXPECT_TRUE(Free(".DAT", 1, kTableLockPosition));
  EXPECT_TRUE(Free(".IDX", kWriteRangeLength, kWriteRangeStart));
  EXPECT_FALSE(table.Data().RecordCache().HasChanges());
  EXPECT_EQ(table.Data().RecordCount(), 4);
  EXPECT_EQ(RecordId(table, 4), 4);
}

TEST_F(DataTableTest, TablesJoinARunningTransactionAndUnusedOnesCloseAtItsEnd) {
  Create("A");
  Create("B");
  TDataDirectory& directory = sandbox.Directory();
  TDataTable& a = directory.OpenTable("A", false, false);
  directory.StartTransaction();
  TDataTable& b = directory.OpenTable("B", false, false);
  EXPECT_TRUE(b.InTransaction());
  AppendRecords(b, 2);
  directory.CloseTable(b);
  EXPECT_EQ(directory.Tables().size(), 2u);  // kept until the transaction ends
  directory.Commit();
  ASSERT_EQ(directory.Tables().size(), 1u);
  EXPECT_EQ(directory.Tables().front().get(), &a);
  TDataTable& again = directory.OpenTable("B", false, false);
  EXPECT_EQ(again.Data().RecordCount(), 2);
}

TEST_F(DataTableTest, MemoryTablesLiveInTheMemoryDirectory) {
  TEngineSandbox memory("");
  TDataDirectory& directory = memory.Directory();
  TDataTable& created = directory.CreateTable("M", false, SmallTable(true), false);
  EXPECT_TRUE(created.InMemory());
  directory.CloseTable(created);
  TDataTable& table = directory.OpenTable(" m ", false, false);
  AppendRecords(table, 3);
  table.LockRecord(2);
  EXPECT_FALSE(RangeFree(memory.Files(), "M.DAT", 1, RecordLockPosition(2), true));
  table.UnlockRecord(2);
  table.ReleaseReadLock();
  directory.CloseTable(table);
  TDataTable& reopened = directory.OpenTable("M", true, false);
  EXPECT_EQ(reopened.Data().RecordCount(), 3);
  EXPECT_FALSE(PathExists(FileOf("M", ".DAT")));
}

}  // namespace
}  // namespace kura
