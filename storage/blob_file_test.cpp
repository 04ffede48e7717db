// The BLOB file handler on disk: header and block bytes, opening checks, read-ahead, write-back
// in runs, the cache under pins and the table lock, scrambling, change detection between two
// handlers, and the model run through the real cache with flushes and reopens.
#include "storage/blob_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "storage/blob_test_support.h"
#include "storage/data_file.h"
#include "storage/failing_file.h"
#include "storage/field_types.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::RaisedCode;
using testing::ReadWholeFile;
using testing::TScratchFolder;
using testing::WriteWholeFile;

std::vector<std::uint8_t> Bytes(std::size_t count, unsigned seed) {
  return testing::RandomBytes(count, seed);
}

class BlobFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.Path().empty());
    testing::InstallFailingFiles(list, io);
  }

  std::unique_ptr<TBlobFile> Handler(std::uint32_t storedBlockSize = 0, bool encrypted = false) {
    auto blob = std::make_unique<TBlobFile>(list);
    blob->SetFileName(path);
    blob->SetStoredBlockSize(storedBlockSize);
    blob->SetEncrypted(encrypted);
    return blob;
  }

  std::unique_ptr<TBlobFile> Created(std::uint32_t storedBlockSize = 0, bool encrypted = false) {
    auto blob = Handler(storedBlockSize, encrypted);
    blob->CreateBlobFile();
    blob->FlushBlobHeader(false);
    return blob;
  }

  // Writes a new value and everything to disk; answers the reference.
  TBlobBuffer Store(TBlobFile& blob, const std::vector<std::uint8_t>& bytes, std::int32_t change) {
    TBlobBuffer buffer;
    buffer.Data = bytes;
    blob.WriteBlob(buffer, change);
    blob.WriteChangedBlocks();
    blob.FlushBlobHeader(false);
    return buffer;
  }

  std::vector<std::uint8_t> Read(TBlobFile& blob, const TBlobBuffer& ref) {
    TBlobBuffer buffer;
    buffer.FirstBlock = ref.FirstBlock;
    buffer.BlobChange = ref.BlobChange;
    blob.ReadBlob(buffer);
    return buffer.Data;
  }

  std::string Disk() { return ReadWholeFile(path); }
  static std::uint8_t At(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint8_t>(bytes.at(offset));
  }
  static std::int32_t I32At(const std::string& bytes, std::size_t offset) {
    return GetI32LE(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset);
  }

  TScratchFolder folder;
  TFileList list;
  testing::TFileFaults io;
  std::string path = folder.File("memo.BLB");
};

TEST_F(BlobFileTest, ACreatedFileIsAHeaderOfVersion5WithNoBlocks) {
  auto blob = Created();
  std::string disk = Disk();
  ASSERT_EQ(disk.size(), 512u);
  EXPECT_EQ(I32At(disk, 0), 1);  // BlobChangeCount after the first write
  EXPECT_EQ(I32At(disk, 4), 0);
  EXPECT_EQ(At(disk, 8), 5);
  EXPECT_EQ(I32At(disk, 9), 0);   // FirstFreeBlock
  EXPECT_EQ(I32At(disk, 13), 1);  // NextBlockNo
  EXPECT_EQ(At(disk, 17), 1);     // written because it had changed
  for (std::size_t i = 18; i < 512; ++i) ASSERT_EQ(At(disk, i), 0) << i;

  blob->FlushBlobHeader(false);  // unchanged: nothing written
  EXPECT_EQ(I32At(Disk(), 0), 1);
  blob->FlushBlobHeader(true);  // forced: written, counted, flag 0
  disk = Disk();
  EXPECT_EQ(I32At(disk, 0), 2);
  EXPECT_EQ(At(disk, 17), 0);
}

TEST_F(BlobFileTest, AThousandByteValueOnDisk) {
  auto blob = Created();
  const auto bytes = Bytes(1000, 1);
  const TBlobBuffer ref = Store(*blob, bytes, 7);
  const std::string disk = Disk();
  ASSERT_EQ(disk.size(), 512u + 3 * 512u);
  EXPECT_EQ(I32At(disk, 13), 4);
  const std::size_t b1 = 512, b2 = 1024, b3 = 1536;
  EXPECT_EQ(I32At(disk, b1 + 0), 0);
  EXPECT_EQ(I32At(disk, b1 + 4), 2);
  EXPECT_EQ(GetU16LE(reinterpret_cast<const std::uint8_t*>(disk.data()) + b1 + 8), 494);
  EXPECT_EQ(I32At(disk, b1 + 10), 7);
  EXPECT_EQ(I32At(disk, b1 + 14), 1000);
  EXPECT_EQ(I32At(disk, b2 + 0), 1);
  EXPECT_EQ(I32At(disk, b2 + 14), 0);
  EXPECT_EQ(GetU16LE(reinterpret_cast<const std::uint8_t*>(disk.data()) + b3 + 8), 12);
  EXPECT_EQ(I32At(disk, b3 + 4), 0);
  EXPECT_EQ(At(disk, b1 + 18), bytes[0]);
  EXPECT_EQ(At(disk, b2 + 18), bytes[494]);
  EXPECT_EQ(At(disk, b3 + 18 + 11), bytes[999]);

  blob->Close();
  auto reopened = Handler();
  reopened->Open();
  EXPECT_EQ(Read(*reopened, ref), bytes);
}

TEST_F(BlobFileTest, OpeningRefusesOtherVersionsAndUnusableBlockSizes) {
  Created()->Close();
  std::string disk = Disk();
  disk[8] = 4;
  WriteWholeFile(path, disk);
  auto blob = Handler();
  EXPECT_EQ(RaisedCode([&] { blob->Open(); }), codes::kWrongVersion);
  EXPECT_FALSE(blob->IsOpen());

  auto tiny = Handler(18);
  EXPECT_EQ(RaisedCode([&] { tiny->Open(); }), codes::kHeaderCorrupt);
  EXPECT_EQ(RaisedCode([&] { tiny->CreateBlobFile(); }), codes::kBlobFieldLimits);
  // Only the low 16 bits count: 0x10000 stands for 0, the default 512.
  EXPECT_EQ(Handler(0x10000)->BlockSize(), 512);
  EXPECT_EQ(Handler(1024)->BlockSize(), 1024);
}

TEST_F(BlobFileTest, AShortFileIsRefusedOnOpen) {
  WriteWholeFile(path, std::string(100, '\0'));
  auto blob = Handler();
  EXPECT_EQ(RaisedCode([&] { blob->Open(); }), codes::kReadError);
  EXPECT_FALSE(blob->IsOpen());
}

TEST_F(BlobFileTest, TheStructureCheckLooksAtVersionFreeChainAndBlockCount) {
  struct TCase {
    const char* name;
    std::size_t offset;
    std::int32_t value;
    int code;
  };
  const TCase cases[] = {
      {"free head at NextBlockNo", 9, 4, codes::kHeaderCorrupt},
      {"negative free head", 9, -1, codes::kHeaderCorrupt},
      {"free head inside the file", 9, 3, 0},
      {"NextBlockNo 0", 13, 0, codes::kHeaderCorrupt},
      {"NextBlockNo past the end of the file", 13, 5, codes::kHeaderCorrupt},
      {"NextBlockNo below the end of the file", 13, 2, 0},
      {"NextBlockNo past 4 000 000 000 bytes", 13, 8'000'000, codes::kHeaderCorrupt},
  };
  {
    auto blob = Created();
    Store(*blob, Bytes(1000, 1), 1);
  }
  const std::string good = Disk();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string disk = good;
    PutI32LE(reinterpret_cast<std::uint8_t*>(disk.data()) + c.offset, c.value);
    WriteWholeFile(path, disk);
    auto blob = Handler();
    EXPECT_EQ(RaisedCode([&] {
                blob->Open();
                blob->CheckBlobStructure();
              }),
              c.code);
  }
}

TEST_F(BlobFileTest, AMissReadsAheadUpTo16KBAndNoMoreThanTheValueNeeds) {
  const auto bytes = Bytes(60 * 494, 1);  // exactly 60 blocks
  TBlobBuffer ref;
  {
    auto blob = Created();
    ref = Store(*blob, bytes, 1);
    Store(*blob, Bytes(10 * 494, 2), 2);  // 10 more blocks after it
  }
  auto blob = Handler();
  blob->Open();
  io.ResetCounters();
  EXPECT_EQ(Read(*blob, ref), bytes);
  EXPECT_EQ(io.Reads, (std::vector<std::int64_t>{32 * 512, 28 * 512}));
  io.ResetCounters();
  EXPECT_EQ(Read(*blob, ref), bytes);  // the cache holds 64 blocks: no read at all
  EXPECT_EQ(io.ReadCalls, 0);
}

TEST_F(BlobFileTest, ChangedBlocksAreWrittenOneRunPerConsecutiveNumbers) {
  auto blob = Created();
  TBlobBuffer buffer;
  buffer.Data = Bytes(10 * 494, 1);
  blob->WriteBlob(buffer, 1);
  io.ResetCounters();
  blob->WriteChangedBlocks();
  EXPECT_EQ(io.WriteCalls, 1);

  for (std::int32_t n : {2, 5, 6}) {
    TBlock& block = blob->GetBlock(n, 1, true);
    block.Data[0] ^= 0xFF;
    blob->MarkBlockChanged(block);
    blob->ReleaseBlock(block);
  }
  TBlock& pinned = blob->GetBlock(8, 1, true);
  blob->MarkBlockChanged(pinned);
  io.ResetCounters();
  blob->WriteChangedBlocks();
  EXPECT_EQ(io.WriteCalls, 2);  // block 2, then blocks 5 and 6; block 8 is pinned
  blob->ReleaseBlock(pinned);
  io.ResetCounters();
  blob->WriteChangedBlocks();
  EXPECT_EQ(io.WriteCalls, 1);
  EXPECT_EQ(static_cast<std::uint8_t>(Disk().at(512 + 4 * 512 + 18)), buffer.Data[4 * 494] ^ 0xFF);
}

TEST_F(BlobFileTest, ReadAheadNeverBringsBackOlderBytesOfABlockWrittenBackMeanwhile) {
  auto blob = Created(4096);  // a cache of 8 blocks, read-ahead of 4
  TBlobBuffer buffer;
  buffer.Data = Bytes(9 * 4078, 1);  // blocks 1 to 9
  blob->WriteBlob(buffer, 1);
  blob->WriteChangedBlocks();
  blob->DiscardBlocks();
  // Blocks 2 to 9 fill the cache, all changed, block 2 the least recently used.
  for (std::int32_t n = 2; n <= 9; ++n) {
    TBlock& block = blob->GetBlock(n, 1, true);
    block.Data[0] = 0xEE;
    blob->MarkBlockChanged(block);
    blob->ReleaseBlock(block);
  }
  // The miss on block 1 reads blocks 1 to 4 from disk, then makes room: every changed block
  // is written back and block 2 is evicted. The bytes read for block 2 are older than that.
  TBlock& first = blob->GetBlock(1, 4, true);
  blob->ReleaseBlock(first);
  TBlock& second = blob->GetBlock(2, 1, true);
  EXPECT_EQ(second.Data[0], 0xEE);
  blob->ReleaseBlock(second);
}

TEST_F(BlobFileTest, TheCacheHolds64BlocksAndGrowsBy32WhenAllArePinned) {
  auto blob = Created();
  EXPECT_EQ(blob->Cache().Capacity(), 64u);
  EXPECT_EQ(Handler(4096)->Cache().Capacity(), 8u);
  TBlobBuffer buffer;
  buffer.Data = Bytes(70 * 494, 1);
  blob->WriteBlob(buffer, 1);
  blob->WriteChangedBlocks();
  std::vector<TBlock*> pins;
  for (std::int32_t n = 1; n <= 70; ++n) pins.push_back(&blob->GetBlock(n, 1, true));
  EXPECT_EQ(blob->Cache().Capacity(), 96u);
  for (TBlock* block : pins) blob->ReleaseBlock(*block);
  EXPECT_EQ(blob->Cache().CheckInvariants(), "");
  blob->TrimBlocks();  // back to the target once nothing is pinned
  EXPECT_EQ(blob->Cache().Capacity(), 64u);
  EXPECT_EQ(blob->Cache().Count(), 64u);
}

TEST_F(BlobFileTest, WhileTheTableLockIsHeldChangedBlocksStayInMemory) {
  auto blob = Created();
  bool locked = true;
  blob->SetTableLockQuery([&] { return locked; });
  TBlobBuffer buffer;
  buffer.Data = Bytes(200 * 494, 1);
  io.ResetCounters();
  blob->WriteBlob(buffer, 1);
  EXPECT_EQ(io.WriteCalls, 0);
  EXPECT_GE(blob->Cache().Count(), 200u);
  locked = false;
  blob->WriteChangedBlocks();
  blob->FlushBlobHeader(false);
  EXPECT_EQ(Disk().size(), 512u + 200u * 512u);
  EXPECT_EQ(Read(*blob, buffer), buffer.Data);
}

TEST_F(BlobFileTest, AReaderOfAnotherHandlerSeesTheChangeAndGets8708ForTheOldNumber) {
  Created()->Close();
  auto writer = Handler();
  auto reader = Handler();
  writer->Open();
  reader->Open();
  const auto first = Bytes(1000, 1);
  const TBlobBuffer old = Store(*writer, first, 1);
  EXPECT_TRUE(reader->BlobHeaderChangedOnDisk());
  reader->DiscardBlocks();
  EXPECT_EQ(Read(*reader, old), first);
  EXPECT_FALSE(reader->BlobHeaderChangedOnDisk());

  TBlobBuffer rewrite = old;
  rewrite.Data = Bytes(1200, 2);
  writer->WriteBlob(rewrite, 2);
  writer->WriteChangedBlocks();
  writer->FlushBlobHeader(false);
  EXPECT_TRUE(reader->BlobHeaderChangedOnDisk());
  reader->DiscardBlocks();
  EXPECT_EQ(RaisedCode([&] { Read(*reader, old); }), codes::kRecordChanged);
  EXPECT_EQ(Read(*reader, rewrite), rewrite.Data);
}

TEST_F(BlobFileTest, EmptyingCutsTheFileToItsHeader) {
  auto blob = Created();
  Store(*blob, Bytes(5000, 1), 1);
  blob->EmptyBlobFile();
  blob->FlushBlobHeader(false);
  const std::string disk = Disk();
  EXPECT_EQ(disk.size(), 512u);
  EXPECT_EQ(I32At(disk, 13), 1);
  EXPECT_EQ(I32At(disk, 9), 0);
  EXPECT_EQ(Store(*blob, Bytes(10, 2), 2).FirstBlock, 1);
}

TEST_F(BlobFileTest, ARecordsBlobsShareOneNewChangeNumber) {
  auto blob = Created();
  TBlobBuffer memo, picture;
  memo.Data = Bytes(100, 1);
  picture.Data = Bytes(3000, 2);
  TBlobBuffer* both[] = {&memo, &picture};
  EXPECT_EQ(blob->WriteRecordBlobs(both, 41), 42);
  EXPECT_EQ(memo.BlobChange, 42);
  EXPECT_EQ(picture.BlobChange, 42);
  EXPECT_EQ(blob->WriteRecordBlobs(both, 2147483647), 1);  // wraps to 1
  EXPECT_EQ(Read(*blob, picture), picture.Data);

  picture.BlobChange = 5;  // a buffer of another record
  const TBlobHeader before = blob->Header();
  EXPECT_EQ(RaisedCode([&] { blob->WriteRecordBlobs(both, 9); }), codes::kBlobBuffersCorrupt);
  EXPECT_EQ(blob->Header().NextBlockNo, before.NextBlockNo);
}

TEST_F(BlobFileTest, AnEncryptedFileIsScrambledHeaderAsOneBufferAndEachBlockAsTwo) {
  const auto bytes = Bytes(600, 1);
  TBlobBuffer ref;
  {
    auto blob = Created(0, true);
    ref = Store(*blob, bytes, 3);
  }
  const std::string disk = Disk();
  // The stream for a buffer: byte i is XORed with (0x0B + i) and (0x0D - i), modulo 256.
  auto mask = [](std::size_t i) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(0x0B + i) ^
                                     static_cast<std::uint8_t>(0x0D - i));
  };
  EXPECT_EQ(At(disk, 8), 5 ^ mask(8));                // version
  EXPECT_EQ(At(disk, 13), 3 ^ mask(13));              // NextBlockNo 3
  EXPECT_EQ(At(disk, 100), 0 ^ mask(100));            // the zero tail is scrambled too
  EXPECT_EQ(At(disk, 512 + 4), 2 ^ mask(4));          // block 1 NextBlock
  EXPECT_EQ(At(disk, 512 + 10), 3 ^ mask(10));        // block 1 BlobChange
  EXPECT_EQ(At(disk, 512 + 18), bytes[0] ^ mask(0));  // the data buffer starts afresh
  EXPECT_EQ(At(disk, 1024 + 18 + 5), bytes[494 + 5] ^ mask(5));

  auto reopened = Handler(0, true);
  reopened->Open();
  EXPECT_EQ(Read(*reopened, ref), bytes);
  auto plain = Handler(0, false);
  reopened->Close();
  EXPECT_EQ(RaisedCode([&] { plain->Open(); }), codes::kWrongVersion);
}

TEST_F(BlobFileTest, BlocksCountedButMissingFromTheFileAreRefused) {
  TBlobBuffer ref;
  {
    auto blob = Created();
    ref = Store(*blob, Bytes(2000, 1), 1);
  }
  std::string disk = Disk();
  disk.resize(512 + 512 + 100);  // block 2 of 5 cut short, the rest gone
  WriteWholeFile(path, disk);
  auto blob = Handler();
  EXPECT_EQ(RaisedCode([&] { blob->Open(); }), codes::kHeaderCorrupt);
  EXPECT_FALSE(blob->IsOpen());

  // Cut behind the back of an open handler: the read finds the block missing.
  WriteWholeFile(path, std::string(disk.begin(), disk.begin() + 512) + std::string(5 * 512, 'x'));
  blob->Open();
  WriteWholeFile(path, disk);
  EXPECT_EQ(RaisedCode([&] { Read(*blob, ref); }), codes::kBlobBuffersCorrupt);
}

TEST_F(BlobFileTest, FailedReadsAndWritesRaiseAndLoseNothing) {
  auto blob = Created();
  const auto bytes = Bytes(3000, 1);
  TBlobBuffer buffer;
  buffer.Data = bytes;
  blob->WriteBlob(buffer, 1);
  io.WriteBudget = 0;
  EXPECT_EQ(RaisedCode([&] { blob->WriteChangedBlocks(); }), codes::kWriteError);
  EXPECT_TRUE(blob->Cache().HasChanges());  // still to be written
  io.WriteBudget = -1;
  blob->WriteChangedBlocks();
  blob->FlushBlobHeader(false);
  EXPECT_FALSE(blob->Cache().HasChanges());

  blob->DiscardBlocks();
  io.FailReads = true;
  EXPECT_EQ(RaisedCode([&] { Read(*blob, buffer); }), codes::kReadError);
  EXPECT_EQ(blob->Cache().Count(), 0u);
  io.FailReads = false;
  EXPECT_EQ(Read(*blob, buffer), bytes);
}

TEST_F(BlobFileTest, TheDataFileGivesBlockSizeScramblingAndTheChangeNumbers) {
  TDataFile data(list);
  data.SetFileName(folder.File("memo.DAT"));
  TFieldDescriptor memo;
  memo.FieldName = "MEMO";
  memo.FieldType = kFieldTypeBlob;
  memo.FieldSubType = 22;
  TDataFileSettings settings;
  settings.BlobBlockSize = 1024;
  settings.Encrypted = true;
  settings.Password = "secret";
  const TFieldDescriptor fields[] = {memo};
  data.CreateDataFile(fields, settings);
  data.SetLastBlobChange(2147483647);

  auto blob = Handler();
  blob->ConfigureFrom(data);
  EXPECT_EQ(blob->BlockSize(), 1024);
  EXPECT_TRUE(blob->Encrypted());
  blob->CreateBlobFile();
  TBlobBuffer buffer;
  buffer.Data = Bytes(2000, 1);
  TBlobBuffer* modified[] = {&buffer};
  EXPECT_EQ(blob->WriteRecordBlobs(modified, data), 1);  // wraps to 1
  EXPECT_EQ(data.LastBlobChange(), 1);
  EXPECT_EQ(blob->WriteRecordBlobs(modified, data), 2);
  EXPECT_EQ(data.LastBlobChange(), 2);
  blob->WriteChangedBlocks();
  blob->FlushBlobHeader(false);
  EXPECT_EQ(Disk().size(), 512u + 2u * 1024u);
  EXPECT_NE(At(Disk(), 8), 5);  // scrambled
  EXPECT_EQ(Read(*blob, buffer), buffer.Data);
}

// The model run through the real cache: small caches (so blocks are evicted and written back
// all the time), writes and header flushes after each batch, and a close and reopen after
// every other one.
void RunFileModel(std::uint32_t blockSize, bool encrypted, unsigned seed) {
  TScratchFolder folder;
  TFileList list;
  TBlobFile blob(list);
  blob.SetFileName(folder.File("model.BLB"));
  blob.SetStoredBlockSize(blockSize);
  blob.SetEncrypted(encrypted);
  blob.CreateBlobFile();
  testing::TModelHooks hooks;
  hooks.PinCount = [&] {
    int pins = static_cast<int>(blob.Cache().DetachedCount());
    blob.Cache().ForEach([&](TBlock* block) { pins += block->PinCount; });
    return pins;
  };
  hooks.AfterBatch = [&](int batch) {
    if (const std::string problem = blob.Cache().CheckInvariants(); !problem.empty())
      throw std::runtime_error("cache: " + problem);
    blob.WriteChangedBlocks();
    blob.FlushBlobHeader(false);
    if (batch % 2 == 1) {
      blob.Close();
      blob.Open();
      blob.CheckBlobStructure();
    }
  };
  EXPECT_EQ(testing::RunBlobModel(blob.Chains(), blob.Header(), seed, 12, 25, hooks), "");
}

TEST(BlobFileModel, DefaultBlocksThroughTheCache) {
  RunFileModel(0, false, 5);
}

TEST(BlobFileModel, LargeEncryptedBlocksThroughASmallCache) {
  RunFileModel(4096, true, 6);
}

}  // namespace
}  // namespace kura
