#include "tools/kura/table_verify.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "storage/data_file.h"
#include "storage/index_file.h"
#include "storage/index_key.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"
#include "tools/kura/kura_test_tables.h"

namespace kura::tool {
namespace {

using testing::HasFinding;
using testing::Lines;
using testing::PatchFile;
using testing::PatchI32;
using testing::ReadI32;
using testing::TEngineSandbox;
using testing::TSampleTable;
using testing::TScratchFolder;

std::vector<std::string> Verify(const std::string& base) {
  TFileList list;  // as another process would see the files
  return VerifyTable({base, false}, list);
}

// --- Sound tables --------------------------------------------------------------------------

constexpr std::int16_t kGermanStandard = 0x0407;

struct TSoundCase {
  const char* Name;
  TSampleTable Sample;
};

TEST(TableVerify, SoundTablesAreSound) {
  TSampleTable everything;
  everything.Rows.SecondaryByNameNonUnique = true;
  everything.RowCount = 300;  // several leaves and a branch level in the primary index
  everything.DeletedIds = {5, 9, 10, 300};
  TSampleTable noPrimary;
  noPrimary.Rows.PrimaryOnName = false;
  noPrimary.DeletedIds = {2, 3, 40};
  TSampleTable descending;
  descending.Rows.SecondaryByNameNonUnique = true;
  descending.Rows.Descending = true;
  descending.Notes = false;
  TSampleTable locale;  // keys compared with the locale's string order
  locale.Rows.SecondaryByNameNonUnique = true;
  locale.Rows.Descending = true;
  locale.Rows.LanguageId = kGermanStandard;
  locale.DeletedIds = {1, 7};
  TSampleTable empty;
  empty.RowCount = 0;
  TSampleTable encrypted;
  encrypted.Encrypted = true;
  encrypted.Rows.SecondaryByNameNonUnique = true;
  encrypted.DeletedIds = {9, 12};
  TSampleTable allDeleted;
  allDeleted.RowCount = 3;
  allDeleted.DeletedIds = {1, 2, 3};
  const TSoundCase cases[] = {{"everything", everything},
                              {"no primary index", noPrimary},
                              {"descending, no BLOB file", descending},
                              {"locale", locale},
                              {"empty", empty},
                              {"encrypted", encrypted},
                              {"all deleted", allDeleted}};
  for (const TSoundCase& sound : cases) {
    SCOPED_TRACE(sound.Name);
    TScratchFolder folder;
    {
      TEngineSandbox sandbox(folder.Path());
      testing::MakeSampleTable(sandbox, "T", sound.Sample);
    }
    const std::vector<std::string> findings = Verify(folder.File("T"));
    EXPECT_TRUE(findings.empty()) << Lines(findings);
  }
}

TEST(TableVerify, HeaderOfAnEncryptedTableIsReadUnscrambled) {
  TScratchFolder folder;
  {
    TEngineSandbox sandbox(folder.Path());
    TSampleTable sample;
    sample.Encrypted = true;
    testing::MakeSampleTable(sandbox, "T", sample);
  }
  // NextPageNo of the scrambled index header, raised by 4 past the pages of the file.
  std::string bytes = testing::ReadWholeFile(folder.File("T.IDX"));
  std::span<std::uint8_t> header(reinterpret_cast<std::uint8_t*>(bytes.data()), kIndexPageBytes);
  ScrambleBuffer(header, kDataScrambleLow, kDataScrambleHigh);
  const std::int32_t pages = GetI32LE(&header[9]) - 1;
  PutI32LE(&header[9], pages + 5);
  ScrambleBuffer(header, kDataScrambleLow, kDataScrambleHigh);
  testing::WriteWholeFile(folder.File("T.IDX"), bytes);
  const std::vector<std::string> findings = Verify(folder.File("T"));
  EXPECT_TRUE(HasFinding(findings, "T.IDX",
                         "NextPageNo counts " + std::to_string(pages + 4) +
                             " pages but the file holds " + std::to_string(pages)))
      << Lines(findings);
  EXPECT_FALSE(HasFinding(findings, "T.IDX", "version")) << Lines(findings);
}

// Random inserts (reusing deleted slots), deletes and BLOB rewrites of every length, as a
// writer makes them: the table stays sound after every batch. Guards verify against calling
// a sound table damaged.
TEST(TableVerify, SoundAfterRandomChanges) {
  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    TScratchFolder folder;
    TEngineSandbox sandbox(folder.Path());
    TSampleTable sample;
    sample.Rows.SecondaryByNameNonUnique = true;
    sample.Rows.PrimaryOnName = seed != 3;  // seed 3: physical order, slots never reused
    sample.RowCount = 0;
    testing::MakeSampleTable(sandbox, "T", sample);
    std::mt19937 random(seed);
    std::vector<std::int32_t> live;
    int nextId = 1;
    for (int batch = 0; batch < 6; ++batch) {
      TDataTable& table = sandbox.Directory().OpenTable("T", false, false);
      for (int step = 0; step < 60; ++step) {
        const unsigned kind = live.empty() ? 0 : random() % 5;
        if (kind <= 2) {
          const int id = nextId++;
          const std::int32_t recordNo = testing::InsertRow(
              table, id, std::string("N").append(std::to_string(random() % 400)));
          if (recordNo != 0) live.push_back(recordNo);  // 0: the name was taken
        } else {
          const std::size_t at = random() % live.size();
          const std::int32_t recordNo = live[at];
          testing::WriteNote(table, recordNo, testing::PatternBytes(random() % 3 * 700, seed));
          if (kind == 4) {
            testing::WriteNote(table, recordNo, "");  // a delete frees the record's BLOBs
            testing::DeleteRow(table, recordNo);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
          }
        }
      }
      sandbox.Directory().CloseTable(table);
      const std::vector<std::string> findings = Verify(folder.File("T"));
      ASSERT_TRUE(findings.empty()) << "batch " << batch << "\n" << Lines(findings);
    }
  }
}

// A writer of another process holds the write lock while verify starts: verify waits for it
// and sees the table as the writer left it, sound.
TEST(TableVerify, WaitsForAWriterOfAnotherProcess) {
  TScratchFolder folder;
  {
    TEngineSandbox sandbox(folder.Path());
    TSampleTable sample;
    sample.RowCount = 20;
    testing::MakeSampleTable(sandbox, "T", sample);
  }
  const std::string path = folder.Path();
  testing::TForkedChild writer([=](testing::TChildEnd& end) {
    try {
      TEngineSandbox sandbox(path);
      TDataTable& table = sandbox.Directory().OpenTable("T", false, false);
      table.AcquireWriteLock();
      end.Send('L');
      usleep(300 * 1000);                // verify is waiting meanwhile
      for (int id = 21; id <= 30; ++id)  // the first insert releases the write lock at its end
        testing::InsertRow(table, id, "Late" + std::to_string(id));
      sandbox.Directory().CloseTable(table);
      return 0;
    } catch (const std::exception&) {
      return 1;
    }
  });
  ASSERT_TRUE(writer.Started());
  ASSERT_EQ(writer.Receive(), 'L');
  const std::vector<std::string> findings = Verify(folder.File("T"));
  EXPECT_TRUE(findings.empty()) << Lines(findings);
  EXPECT_EQ(writer.Wait(), 0);
}

// --- Damaged copies of one sound table -----------------------------------------------------

// The sound table every damage case starts from, made once: 300 rows (the primary index on
// NAME has several leaves), notes on every third row, rows 5, 9 and 10 deleted (9's note
// freed its blocks onto the free chain).
class TableVerifyDamage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FOriginal = std::make_unique<TScratchFolder>();
    TEngineSandbox sandbox(FOriginal->Path());
    TSampleTable sample;
    sample.Rows.SecondaryByNameNonUnique = true;
    sample.RowCount = 300;
    sample.DeletedIds = {5, 9, 10};
    testing::MakeSampleTable(sandbox, "T", sample);
  }
  static void TearDownTestSuite() { FOriginal.reset(); }

  void SetUp() override {
    for (const char* extension : {".DAT", ".IDX", ".BLB"})
      std::filesystem::copy_file(FOriginal->File(std::string("T") + extension),
                                 FFolder.File(std::string("T") + extension));
  }

  std::string File(const char* extension) const {
    return FFolder.File(std::string("T") + extension);
  }
  // Verifies the copy, which must come out byte for byte as it went in: verify only reads.
  std::vector<std::string> VerifyCopy() const {
    const std::string before[] = {testing::ReadWholeFile(File(".DAT")),
                                  testing::ReadWholeFile(File(".IDX")),
                                  testing::ReadWholeFile(File(".BLB"))};
    std::vector<std::string> findings = Verify(FFolder.File("T"));
    EXPECT_EQ(testing::ReadWholeFile(File(".DAT")), before[0]);
    EXPECT_EQ(testing::ReadWholeFile(File(".IDX")), before[1]);
    EXPECT_EQ(testing::ReadWholeFile(File(".BLB")), before[2]);
    return findings;
  }

  // A writer's own change of the copy, through the engine.
  void Change(const std::function<void(TDataTable&)>& change) {
    TEngineSandbox sandbox(FFolder.Path());
    testing::ChangeTable(sandbox, "T", change);
  }

  // Where record n starts in the data file.
  std::int64_t RecordStart(std::int32_t recordNo) {
    TFileList list;
    TTableReader reader({FFolder.File("T"), false}, list);
    std::vector<std::string> problems;
    reader.Open(problems);
    const TDataFile& data = reader.Data();
    return static_cast<std::int64_t>(kDataHeaderSize + data.FieldCount() * kFieldDescriptorSize) +
           std::int64_t{recordNo - 1} * data.RecordSize();
  }
  // Where record n's NOTE slot lies in the data file.
  std::int64_t NoteSlot(std::int32_t recordNo) {
    TFileList list;
    TTableReader reader({FFolder.File("T"), false}, list);
    std::vector<std::string> problems;
    reader.Open(problems);
    return RecordStart(recordNo) + reader.Data().DescriptorByNumber(3)->FieldOffset;
  }

  // The first leaf of an index: the first child of its root branch.
  std::int32_t FirstLeaf(int slot) {
    TFileList list;
    TTableReader reader({FFolder.File("T"), false}, list);
    std::vector<std::string> problems;
    reader.Open(problems);
    TPage* root = reader.Index().GetPage(slot, reader.Index().RootPage(slot));
    const std::int32_t leaf = root->IsLeaf() ? 0 : root->ChildOrRecord(1);
    reader.Index().ReleasePage(slot, root);
    return leaf;
  }

  static std::unique_ptr<TScratchFolder> FOriginal;
  TScratchFolder FFolder;
};

std::unique_ptr<TScratchFolder> TableVerifyDamage::FOriginal;

TEST_F(TableVerifyDamage, TheCopyIsSound) {
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(findings.empty()) << Lines(findings);
}

TEST_F(TableVerifyDamage, DataHeaderRecordCountThatLies) {
  PatchI32(File(".DAT"), kNextRecordNoOffset, 300);  // 299 slots claimed, 300 in the file
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.DAT",
                         "NextRecordNo counts 299 record slots (13455 bytes) "
                         "but the file holds 13500 bytes of records"))
      << Lines(findings);
  EXPECT_TRUE(HasFinding(findings, "T.DAT", "structure check: Kura Engine Error # 8961"))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, IndexHeaderPageCountThatLies) {
  const std::int32_t pages = ReadI32(File(".IDX"), 9) - 1;  // NextPageNo - 1
  PatchI32(File(".IDX"), 9, pages + 6);
  std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX",
                         "NextPageNo counts " + std::to_string(pages + 5) +
                             " pages but the file holds " + std::to_string(pages)))
      << Lines(findings);
  PatchI32(File(".IDX"), 9, 2);  // one page, though the roots lie further on
  findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "8961")) << Lines(findings);
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "index slot 0: ")) << Lines(findings);
}

TEST_F(TableVerifyDamage, BlobHeaderBlockCountThatLies) {
  const std::int32_t blocks = ReadI32(File(".BLB"), 13) - 1;  // NextBlockNo - 1
  PatchI32(File(".BLB"), 13, blocks + 3);
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.BLB",
                         "NextBlockNo counts " + std::to_string(blocks + 2) +
                             " blocks but the file holds " + std::to_string(blocks)))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, LiveRecordCountThatLies) {
  PatchI32(File(".IDX"), 3974, 298);
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "LiveRecordCount is 298 but the data file holds 297"))
      << Lines(findings);
  EXPECT_EQ(findings.size(), 1u) << Lines(findings);
}

TEST_F(TableVerifyDamage, BrokenLeafChain) {
  const std::int32_t leaf = FirstLeaf(kPrimaryIndexSlot);
  ASSERT_NE(leaf, 0);
  PatchI32(File(".IDX"), std::int64_t{leaf} * std::int64_t{kIndexPageBytes} + 7,
           0);  // its next-page link
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX",
                         "primary index: page " + std::to_string(leaf) + " links on to 0"))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, BlobBlockInTwoChains) {
  // Record 6's NOTE is made to name record 3's value: their blocks are shared, and the
  // blocks record 6 had are lost.
  const std::int64_t from = NoteSlot(3), to = NoteSlot(6);
  PatchI32(File(".DAT"), to + 1, ReadI32(File(".DAT"), from + 1));
  PatchI32(File(".DAT"), to + 5, ReadI32(File(".DAT"), from + 5));
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.BLB",
                         "is in two chains: record 3 field NOTE and record 6 "
                         "field NOTE"))
      << Lines(findings);
  EXPECT_TRUE(HasFinding(findings, "T.BLB", "in no chain")) << Lines(findings);
}

TEST_F(TableVerifyDamage, FreeChainLeadingIntoAValue) {
  const std::int32_t firstOfRecord3 = ReadI32(File(".DAT"), NoteSlot(3) + 1);
  PatchI32(File(".BLB"), 9, firstOfRecord3);  // FirstFreeBlock
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.BLB", "record 3 field NOTE and the free chain"))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, BlobLengthThatLies) {
  const std::int32_t first = ReadI32(File(".DAT"), NoteSlot(6) + 1);
  const std::int64_t blockSize = 512;
  PatchI32(File(".BLB"), 512 + (first - 1) * blockSize + 14, 5000);  // its BlobLength
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.BLB",
                         "record 6 field NOTE: its blocks hold 600 bytes but "
                         "the value is 5000 bytes long"))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, RecordMissingFromAnIndex) {
  Change([](TDataTable& table) { testing::DeleteIndexKey(table, 1, 17); });  // "ById"
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "index \"ById\": record 17 has no key"))
      << Lines(findings);
  EXPECT_EQ(findings.size(), 1u) << Lines(findings);
}

TEST_F(TableVerifyDamage, SysDeletedEntryMissing) {
  Change([](TDataTable& table) { testing::DeleteIndexKey(table, kSysDeletedSlot, 9); });
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "index \"Sys Deleted\": record 9 has no key"))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, TextIndexWordsOfADeletedRecord) {
  // Words of live record 7 (RowId 7) are sound; words left of deleted record 9 are not.
  Change([](TDataTable& table) {
    std::array<std::uint8_t, kSysTextKeyLength> key{};
    for (const std::int32_t rowId : {7, 9}) {
      BuildTextKey(2, "WORD", rowId, {}, key);
      table.Index().Tree(kSysTextSlot).Insert(key.data(), rowId);
    }
  });
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "\"Sys Text\": holds words of RowId 9, which no live"))
      << Lines(findings);
  EXPECT_EQ(findings.size(), 1u) << Lines(findings);
}

TEST_F(TableVerifyDamage, DeletedFlagSetBehindTheIndexesBack) {
  // Record 20 marked deleted in the data file alone: "Sys Deleted" still says live, the
  // other indexes keep its keys, the live count is off and the slot is on no chain.
  PatchFile(File(".DAT"), RecordStart(20) + kDeletedOffset, {1});
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "\"Sys Deleted\": the key of record 20 does not match"))
      << Lines(findings);
  EXPECT_TRUE(
      HasFinding(findings, "T.IDX", "\"ById\": holds a key for record 20, which is deleted"))
      << Lines(findings);
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "LiveRecordCount")) << Lines(findings);
  EXPECT_TRUE(HasFinding(findings, "T.DAT", "deleted record 20 is not on the chain"))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, LastAutoIncBelowTheRowIds) {
  PatchI32(File(".DAT"), kLastAutoIncOffset, 298);
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.DAT", "record 299 has the RowId 299, above LastAutoInc 298"))
      << Lines(findings);
  EXPECT_EQ(findings.size(), 2u) << Lines(findings);  // records 299 and 300
}

TEST_F(TableVerifyDamage, PageOfTwoIndexes) {
  // "ById" gets the root page of the primary index as the head of its free chain: a new page
  // of "ById" would overwrite it. The free-page slot of descriptor 1 lies at 14 + 120 + 90.
  const std::int32_t primaryRoot = ReadI32(File(".IDX"), 14 + 86);
  PatchI32(File(".IDX"), 14 + 120 + 90, primaryRoot);
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(
      findings, "T.IDX",
      "page " + std::to_string(primaryRoot) + " belongs to both primary index and index \"ById\""))
      << Lines(findings);
}

TEST_F(TableVerifyDamage, DeletedChainThroughALiveRecord) {
  PatchI32(File(".DAT"), kFirstFreeOffset, 1);
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.DAT", "passes through live record 1")) << Lines(findings);
}

TEST_F(TableVerifyDamage, LostFreeChain) {
  PatchI32(File(".BLB"), 9, 0);  // FirstFreeBlock: the freed blocks of row 9 belong nowhere
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.BLB", "in no chain")) << Lines(findings);
}

// One byte of a header that contradicts the rest: the engine refuses to open the table (a
// write of the header would erase an index, or every change would leave one stale, or every
// memo read would fail), and verify names the byte's fault.
TEST_F(TableVerifyDamage, ContradictoryHeadersAreRefusedOnOpenAndNamedByVerify) {
  constexpr std::int64_t kNoPrimaryIndex = 3978;
  constexpr std::int64_t kTemporary = 14 + 101;  // slot 0's TemporaryIndex byte
  struct TCase {
    const char* Extension;
    std::int64_t Offset;
    std::uint8_t Byte;
    int Code;
    const char* Finding;
  } cases[] = {
      {".IDX", kTemporary, 1, 8965, "index slot 0 is marked temporary"},
      {".IDX", kTemporary + 120, 1, 8965, "index slot 1 is marked temporary"},
      {".IDX", kNoPrimaryIndex, 1, 8965,
       "NoPrimaryIndex is set but index slot 0 still holds a primary index"},
      {".IDX", kNoPrimaryIndex, 2, 8961, "NoPrimaryIndex is 2, neither 0 nor 1"},
      {".DAT", kBlobFieldCountOffset, 0, 8961, "BlobFieldCount is 0 but the fields include 1"},
      {".DAT", kBlobFieldCountOffset, 2, 8961, "BlobFieldCount is 2 but the fields include 1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Finding);
    for (const char* any : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(any));
    SetUp();  // a fresh copy
    PatchFile(File(c.Extension), c.Offset, {c.Byte});
    const std::vector<std::string> findings = VerifyCopy();
    EXPECT_TRUE(HasFinding(findings, std::string("T") + c.Extension, c.Finding)) << Lines(findings);
    TEngineSandbox sandbox(FFolder.Path());
    int code = 0;
    try {
      sandbox.Directory().OpenTable("T", false, false);
    } catch (const EKuraEngineError& error) {
      code = error.ErrorCode;
    }
    EXPECT_EQ(code, c.Code);
  }
}

// A leaf of the primary index whose entry count is one too high: the entry past its last one
// is the zeroed rest of the page, naming record 0. A walk raises 8965 instead of answering a
// row of zeros, and verify reports the page.
TEST_F(TableVerifyDamage, LeafCountingOneEntryTooMany) {
  const std::int32_t leaf = FirstLeaf(kPrimaryIndexSlot);
  ASSERT_NE(leaf, 0);
  const std::int64_t countAt = std::int64_t{leaf} * std::int64_t{kIndexPageBytes} + 1;
  const std::string bytes = testing::ReadWholeFile(File(".IDX"));
  const int count = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(countAt)]) |
                    static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(countAt) + 1]) << 8;
  PatchFile(
      File(".IDX"), countAt,
      {static_cast<std::uint8_t>((count + 1) & 0xFF), static_cast<std::uint8_t>((count + 1) >> 8)});
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX", "primary index: ")) << Lines(findings);
  TEngineSandbox sandbox(FFolder.Path());
  TDataCursor cursor(sandbox.Directory());
  cursor.SetTableName("T");
  int code = 0;
  try {
    cursor.Open();
    std::vector<std::uint8_t> buffer(cursor.RecordSize());
    cursor.First();
    while (cursor.GetNextRecord(buffer) == 0)
      ASSERT_GE(cursor.PhysicalRecordNo(), 1) << "a row of zeros answered as a record";
  } catch (const EKuraEngineError& error) {
    code = error.ErrorCode;
  }
  EXPECT_EQ(code, 8965);
}

// A page past every index and every free chain is lost to the file.
TEST_F(TableVerifyDamage, PagesInNoIndexAreReported) {
  const std::int32_t nextPageNo = ReadI32(File(".IDX"), 9);
  std::string bytes = testing::ReadWholeFile(File(".IDX"));
  bytes.append(2 * kIndexPageBytes, '\0');
  testing::WriteWholeFile(File(".IDX"), bytes);
  PatchI32(File(".IDX"), 9, nextPageNo + 2);
  const std::vector<std::string> findings = VerifyCopy();
  EXPECT_TRUE(HasFinding(findings, "T.IDX",
                         "pages " + std::to_string(nextPageNo) + ".." +
                             std::to_string(nextPageNo + 1) +
                             " belong to no index and to no free chain"))
      << Lines(findings);
  EXPECT_EQ(findings.size(), 1u) << Lines(findings);
}

TEST_F(TableVerifyDamage, MissingFiles) {
  for (const char* extension : {".IDX", ".BLB"}) {
    SCOPED_TRACE(extension);
    for (const char* any : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(File(any));
    SetUp();  // a fresh copy of all three
    std::filesystem::remove(File(extension));
    const std::vector<std::string> findings = VerifyCopy();
    EXPECT_TRUE(HasFinding(findings, std::string("T") + extension, "missing")) << Lines(findings);
  }
}

}  // namespace
}  // namespace kura::tool
