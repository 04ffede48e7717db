// BLOB values as chains of blocks: reading, writing (reusing, growing and shrinking the old
// chain), freeing, and the free chain of blocks, over any block store.
//
// The chain layer trusts nothing it reads: every link is checked against NextBlockNo, every
// block of a value against the value's change number, and every walk against blocks met
// twice, so a damaged file gives an engine error and never a loop or a huge allocation:
//   8708  the first block of a value carries another change number (someone rewrote it)
//   8963  a later block carries another change number, a block is met twice, a link lies
//         outside the file, or a block claims more used bytes than it has
//   8711  the chain ends before the value's recorded length
//   9479  the file would pass 2 000 000 000 blocks or 4 000 000 000 bytes
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "storage/blob_format.h"

namespace kura {

// Where blocks come from: the BLOB file's block cache, or a plain store in tests.
class TBlockAccess {
 public:
  virtual ~TBlockAccess() = default;
  // Block blockNo (1 .. NextBlockNo - 1), pinned. On a miss it is read from the file together
  // with up to readAhead - 1 following blocks in one read.
  virtual TBlock& GetBlock(std::int32_t blockNo, std::int32_t readAhead) = 0;
  // Block blockNo, pinned and cleared, without reading: a block just added at the end.
  virtual TBlock& FreshBlock(std::int32_t blockNo) = 0;
  // Marks a pinned block as changed, to be written back.
  virtual void MarkBlockChanged(TBlock& block) = 0;
  // Unpins a block answered by GetBlock or FreshBlock.
  virtual void ReleaseBlock(TBlock& block) = 0;
};

// Keeps one block pinned for a scope.
class TPinnedBlock {
 public:
  TPinnedBlock(TBlockAccess& access, TBlock& block) : FAccess(access), FBlock(&block) {}
  ~TPinnedBlock() { FAccess.ReleaseBlock(*FBlock); }
  TPinnedBlock(const TPinnedBlock&) = delete;
  TPinnedBlock& operator=(const TPinnedBlock&) = delete;
  TBlock* operator->() const { return FBlock; }
  TBlock& operator*() const { return *FBlock; }
  void MarkChanged() { FAccess.MarkBlockChanged(*FBlock); }

 private:
  TBlockAccess& FAccess;
  TBlock* FBlock;
};

class TBlobChains {
 public:
  // access and header must outlive the chains; tableName names the table in errors.
  TBlobChains(TBlockAccess& access, TBlobHeader& header, int blockSize,
              const std::string& tableName);

  int BlockSize() const { return FBlockSize; }
  int DataSize() const { return BlockDataSize(FBlockSize); }
  void SetBlockSize(int blockSize) { FBlockSize = blockSize; }

  // Fills buffer.Data from the chain starting at buffer.FirstBlock, checking every block
  // against buffer.BlobChange. A first block of 0 is an empty value.
  void ReadBlob(TBlobBuffer& buffer);

  // Stores buffer.Data under the change number newChange (1 .. 2147483647), reusing the old
  // chain named by buffer.FirstBlock and buffer.BlobChange: its blocks are overwritten in
  // order, new blocks are added when the value grew, and the surplus is freed when it shrank.
  // An empty value frees the whole chain. Afterwards buffer.FirstBlock is the new first block
  // (0 for an empty value) and buffer.BlobChange is newChange. The old chain is checked whole
  // before anything changes, so a damaged or stale chain leaves the file as it was. The
  // header is marked changed, so the next header write tells other processes.
  void WriteBlob(TBlobBuffer& buffer, std::int32_t newChange);

  // Puts every block of the chain starting at firstBlock on the free chain. Each must carry
  // expectedChange (8963 otherwise) unless force is set; a forced walk stops at a block that
  // is already free. A first block of 0 does nothing.
  void FreeBlob(std::int32_t firstBlock, std::int32_t expectedChange, bool force);

  // A cleared block, changed: the head of the free chain when there is one (last freed
  // first), else a new block at the end of the file. Answers its number.
  std::int32_t NewBlock();
  // Puts block blockNo at the head of the free chain; its change number becomes 0.
  void FreeBlock(std::int32_t blockNo);

  // The blocks of the value starting at firstBlock, in chain order, checked as ReadBlob
  // checks them (8708 for a first block of another change number).
  std::vector<std::int32_t> ValueBlocks(std::int32_t firstBlock, std::int32_t blobChange);
  // The blocks of the free chain from its head; 8963 for a link outside the file or a loop.
  std::vector<std::int32_t> FreeChainBlocks();

 private:
  // NewBlock, refusing (8963, nothing changed) a free-chain head that is one of inUse.
  std::int32_t NewBlockOutside(const std::unordered_set<std::int32_t>& inUse);
  // Raises 8963 unless blockNo names a block of the file.
  void CheckLink(std::int32_t blockNo) const;
  // Walks a chain; see ValueBlocks and FreeBlob.
  std::vector<std::int32_t> CollectChain(std::int32_t firstBlock, std::int32_t blobChange,
                                         bool force);
  // Blocks needed for byteCount bytes (at least 1).
  std::int32_t BlocksFor(std::int64_t byteCount) const;
  [[noreturn]] void Raise(std::uint16_t code) const;

  TBlockAccess& FAccess;
  TBlobHeader& FHeader;
  int FBlockSize;
  const std::string& FTableName;
};

}  // namespace kura
