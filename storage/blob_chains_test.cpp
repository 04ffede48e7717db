// BLOB values as chains of blocks over a plain block store: layout of a stored value, reuse of
// the old chain, the free chain, change numbers, damaged chains, and a long random model run.
#include "storage/blob_chains.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/blob_test_support.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::BlockAccountingProblem;
using testing::RaisedCode;
using testing::TMemoryBlockStore;
using testing::TValueRef;

std::vector<std::uint8_t> Bytes(std::size_t count, unsigned seed) {
  return testing::RandomBytes(count, seed);
}

class BlobChainsTest : public ::testing::Test {
 protected:
  explicit BlobChainsTest(int blockSize = kDefaultBlockSize)
      : store(blockSize), chains(store, header, blockSize, tableName) {}

  // Writes bytes as a new value (or over an existing one) and answers its reference.
  TValueRef Write(const std::vector<std::uint8_t>& bytes, TValueRef old = {}) {
    TBlobBuffer buffer;
    buffer.FirstBlock = old.FirstBlock;
    buffer.BlobChange = old.BlobChange;
    buffer.Data = bytes;
    lastChange = NextBlobChange(lastChange);
    chains.WriteBlob(buffer, lastChange);
    EXPECT_EQ(store.PinCount(), 0);
    return {buffer.FirstBlock, buffer.BlobChange};
  }

  std::vector<std::uint8_t> Read(TValueRef ref) {
    TBlobBuffer buffer;
    buffer.FirstBlock = ref.FirstBlock;
    buffer.BlobChange = ref.BlobChange;
    chains.ReadBlob(buffer);
    return buffer.Data;
  }

  int ReadCode(TValueRef ref) {
    const int code = RaisedCode([&] { Read(ref); });
    EXPECT_EQ(store.PinCount(), 0);
    return code;
  }

  std::string tableName = "memo.BLB";
  TBlobHeader header;
  TMemoryBlockStore store;
  TBlobChains chains;
  std::int32_t lastChange = 0;
};

TEST_F(BlobChainsTest, ThousandBytesTakeThreeBlocksOf494And494And12) {
  const auto bytes = Bytes(1000, 1);
  const TValueRef ref = Write(bytes);
  EXPECT_EQ(ref.FirstBlock, 1);
  EXPECT_EQ(header.NextBlockNo, 4);
  const TBlock& b1 = store.Raw(1);
  const TBlock& b2 = store.Raw(2);
  const TBlock& b3 = store.Raw(3);
  EXPECT_EQ(b1.UsedBytes, 494);
  EXPECT_EQ(b2.UsedBytes, 494);
  EXPECT_EQ(b3.UsedBytes, 12);
  EXPECT_EQ(b1.BlobLength, 1000);
  EXPECT_EQ(b2.BlobLength, 0);
  EXPECT_EQ(b3.BlobLength, 0);
  EXPECT_EQ(b1.PrevBlock, 0);
  EXPECT_EQ(b1.NextBlock, 2);
  EXPECT_EQ(b2.PrevBlock, 1);
  EXPECT_EQ(b2.NextBlock, 3);
  EXPECT_EQ(b3.PrevBlock, 2);
  EXPECT_EQ(b3.NextBlock, 0);
  for (const TBlock* b : {&b1, &b2, &b3}) EXPECT_EQ(b->BlobChange, ref.BlobChange);
  EXPECT_EQ(Read(ref), bytes);
}

TEST_F(BlobChainsTest, ShrinkingFreesTheTailAndTheNextValueReusesItLastFreedFirst) {
  const TValueRef big = Write(Bytes(1000, 1));
  const auto small = Bytes(100, 2);
  const TValueRef rewritten = Write(small, big);
  EXPECT_EQ(rewritten.FirstBlock, big.FirstBlock);
  EXPECT_NE(rewritten.BlobChange, big.BlobChange);
  EXPECT_EQ(store.Raw(1).NextBlock, 0);
  EXPECT_EQ(header.FirstFreeBlock, 3);
  EXPECT_EQ(store.Raw(3).NextBlock, 2);
  EXPECT_EQ(store.Raw(2).NextBlock, 0);
  EXPECT_EQ(Read(rewritten), small);

  const TValueRef next = Write(Bytes(600, 3));
  EXPECT_EQ(next.FirstBlock, 3);
  EXPECT_EQ(store.Raw(3).NextBlock, 2);
  EXPECT_EQ(header.FirstFreeBlock, 0);
  EXPECT_EQ(header.NextBlockNo, 4);  // nothing appended
  EXPECT_EQ(BlockAccountingProblem(chains, header, {rewritten, next}), "");
}

TEST_F(BlobChainsTest, GrowingKeepsTheOldChainAndAppends) {
  const TValueRef first = Write(Bytes(600, 1));
  const TValueRef other = Write(Bytes(10, 2));
  const auto bigger = Bytes(2000, 3);
  const TValueRef grown = Write(bigger, first);
  EXPECT_EQ(grown.FirstBlock, first.FirstBlock);
  EXPECT_EQ(store.Raw(1).NextBlock, 2);
  EXPECT_EQ(store.Raw(2).NextBlock, 4);  // block 3 belongs to the other value
  EXPECT_EQ(Read(grown), bigger);
  EXPECT_EQ(BlockAccountingProblem(chains, header, {grown, other}), "");
}

TEST_F(BlobChainsTest, AReaderHoldingTheOldChangeNumberGets8708AfterARewrite) {
  const TValueRef old = Write(Bytes(1000, 1));
  Write(Bytes(1000, 2), old);
  EXPECT_EQ(ReadCode(old), codes::kRecordChanged);
  // Writing through the stale reference is refused too and changes nothing.
  const TBlobHeader before = header;
  EXPECT_EQ(RaisedCode([&] { Write(Bytes(5, 3), old); }), codes::kRecordChanged);
  EXPECT_EQ(header.NextBlockNo, before.NextBlockNo);
  EXPECT_EQ(header.FirstFreeBlock, before.FirstFreeBlock);
}

TEST_F(BlobChainsTest, AStaleReferenceToAFreedValueGets8708NotTheFreeChain) {
  const TValueRef old = Write(Bytes(1000, 1));
  Write({}, old);
  EXPECT_EQ(ReadCode(old), codes::kRecordChanged);
}

TEST_F(BlobChainsTest, AnEmptyValueFreesItsChainAndStoresNoFirstBlock) {
  const TValueRef old = Write(Bytes(1000, 1));
  const TValueRef empty = Write({}, old);
  EXPECT_EQ(empty.FirstBlock, 0);
  EXPECT_TRUE(Read(empty).empty());
  EXPECT_EQ(chains.FreeChainBlocks(), (std::vector<std::int32_t>{3, 2, 1}));
  EXPECT_EQ(BlockAccountingProblem(chains, header, {}), "");
}

TEST_F(BlobChainsTest, FreeingChecksChangeNumbersUnlessForced) {
  const TValueRef a = Write(Bytes(1000, 1));
  EXPECT_EQ(RaisedCode([&] { chains.FreeBlob(a.FirstBlock, a.BlobChange + 1, false); }),
            codes::kRecordChanged);
  store.Raw(2).BlobChange = 99;  // a block of another value inside the chain
  EXPECT_EQ(RaisedCode([&] { chains.FreeBlob(a.FirstBlock, a.BlobChange, false); }),
            codes::kBlobBuffersCorrupt);
  EXPECT_EQ(header.FirstFreeBlock, 0);  // nothing freed by the refused call
  chains.FreeBlob(a.FirstBlock, a.BlobChange, true);
  EXPECT_EQ(chains.FreeChainBlocks(), (std::vector<std::int32_t>{3, 2, 1}));
  EXPECT_EQ(store.PinCount(), 0);
}

TEST_F(BlobChainsTest, AForcedFreeStopsAtABlockThatIsAlreadyFree) {
  const TValueRef a = Write(Bytes(1000, 1));
  const TValueRef b = Write(Bytes(10, 2));
  Write({}, b);                // block 4 is free now
  store.Raw(3).NextBlock = 4;  // damage: a's tail links into the free chain
  chains.FreeBlob(a.FirstBlock, a.BlobChange, true);
  EXPECT_EQ(BlockAccountingProblem(chains, header, {}), "");
}

TEST(BlobChangeNumbers, CountUpAndWrapToOne) {
  EXPECT_EQ(NextBlobChange(0), 1);
  EXPECT_EQ(NextBlobChange(1), 2);
  EXPECT_EQ(NextBlobChange(2147483646), 2147483647);
  EXPECT_EQ(NextBlobChange(2147483647), 1);
  EXPECT_EQ(NextBlobChange(-5), 1);
}

// Damage done to a stored three-block value (blocks 1, 2, 3) and the code a read answers.
struct TDamageCase {
  const char* name;
  void (*damage)(TMemoryBlockStore& store, TBlobHeader& header);
  int code;
};

const TDamageCase kDamageCases[] = {
    {"chain loops back",
     [](auto& s, auto&) {
       s.Raw(3).NextBlock = 1;
       s.Raw(1).BlobLength = 5000;
     },
     codes::kBlobBuffersCorrupt},
    {"chain loops on itself",
     [](auto& s, auto&) {
       s.Raw(2).NextBlock = 2;
       s.Raw(2).UsedBytes = 0;
     },
     codes::kBlobBuffersCorrupt},
    {"link past the last block", [](auto& s, auto&) { s.Raw(2).NextBlock = 4; },
     codes::kBlobBuffersCorrupt},
    {"negative link", [](auto& s, auto&) { s.Raw(2).NextBlock = -7; }, codes::kBlobBuffersCorrupt},
    {"block of another value", [](auto& s, auto&) { s.Raw(3).BlobChange += 1; },
     codes::kBlobBuffersCorrupt},
    {"used bytes larger than the block", [](auto& s, auto&) { s.Raw(2).UsedBytes = 495; },
     codes::kBlobBuffersCorrupt},
    {"chain shorter than the length", [](auto& s, auto&) { s.Raw(2).NextBlock = 0; },
     codes::kEndOfBlob},
    {"2 GB length in three blocks", [](auto& s, auto&) { s.Raw(1).BlobLength = 2147483647; },
     codes::kEndOfBlob},
    {"negative length", [](auto& s, auto&) { s.Raw(1).BlobLength = -1; },
     codes::kBlobBuffersCorrupt},
    {"first block outside a shrunk file", [](auto&, auto& h) { h.NextBlockNo = 1; },
     codes::kBlobBuffersCorrupt},
};

TEST_F(BlobChainsTest, DamagedChainsGiveEngineErrorsNotLoops) {
  for (const TDamageCase& c : kDamageCases) {
    SCOPED_TRACE(c.name);
    TMemoryBlockStore fresh(kDefaultBlockSize);
    TBlobHeader freshHeader;
    TBlobChains freshChains(fresh, freshHeader, kDefaultBlockSize, tableName);
    TBlobBuffer buffer;
    buffer.Data = Bytes(1000, 7);
    freshChains.WriteBlob(buffer, 5);
    c.damage(fresh, freshHeader);
    TBlobBuffer reader;
    reader.FirstBlock = buffer.FirstBlock;
    reader.BlobChange = 5;
    EXPECT_EQ(RaisedCode([&] { freshChains.ReadBlob(reader); }), c.code);
    EXPECT_EQ(fresh.PinCount(), 0);
    // Rewriting or freeing the damaged value is refused or succeeds, but never loops.
    RaisedCode([&] { freshChains.FreeBlob(buffer.FirstBlock, 5, false); });
    EXPECT_EQ(fresh.PinCount(), 0);
  }
}

TEST_F(BlobChainsTest, AFreeChainThatLeadsIntoALiveValueIsNotHandedOutTwice) {
  const TValueRef a = Write(Bytes(1000, 1));
  const TValueRef b = Write(Bytes(10, 2));
  Write({}, b);                // block 4 free
  store.Raw(4).NextBlock = 1;  // damage: the free chain continues into value a
  EXPECT_EQ(RaisedCode([&] { Write(Bytes(3000, 3), a); }), codes::kBlobBuffersCorrupt);
  EXPECT_EQ(Read(a), Bytes(1000, 1));   // a is intact
  EXPECT_EQ(header.FirstFreeBlock, 4);  // the block it took went back
  EXPECT_EQ(store.PinCount(), 0);
}

TEST_F(BlobChainsTest, TheFileLimitIsEnforced) {
  header.NextBlockNo = static_cast<std::int32_t>((kMaxBlobFileBytes - kBlobHeaderSize) / 512);
  EXPECT_EQ(RaisedCode([&] { Write(Bytes(2000, 1)); }), codes::kTableFull);
  EXPECT_EQ(header.FirstFreeBlock, header.NextBlockNo - 1);  // the one block it took is back
}

// --- Model test --------------------------------------------------------------------------

TEST(BlobChainsModel, DefaultBlocksMatchTheModel) {
  TBlobHeader header;
  TMemoryBlockStore store(kDefaultBlockSize);
  const std::string name = "model.BLB";
  TBlobChains chains(store, header, kDefaultBlockSize, name);
  testing::TModelHooks hooks;
  hooks.PinCount = [&] { return store.PinCount(); };
  EXPECT_EQ(testing::RunBlobModel(chains, header, 20261210, 20, 25, hooks), "");
}

TEST(BlobChainsModel, LargeBlocksMatchTheModel) {
  TBlobHeader header;
  TMemoryBlockStore store(4096);
  const std::string name = "model.BLB";
  TBlobChains chains(store, header, 4096, name);
  testing::TModelHooks hooks;
  hooks.PinCount = [&] { return store.PinCount(); };
  EXPECT_EQ(testing::RunBlobModel(chains, header, 77, 15, 25, hooks), "");
}

}  // namespace
}  // namespace kura
