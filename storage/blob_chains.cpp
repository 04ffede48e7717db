#include "storage/blob_chains.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "base/engine_codes.h"
#include "base/engine_error.h"

namespace kura {

namespace {

// A value's bytes are collected into a buffer that grows as blocks arrive; the length a
// first block claims is never reserved beyond this, so a damaged length cannot make a huge
// allocation before the blocks to back it have been read.
constexpr std::int64_t kMaxInitialReserve = 64 * 1024;

// Asks for as many blocks as a walk may still meet when nothing better is known.
constexpr std::int32_t kUnknownBlockCount = std::numeric_limits<std::int32_t>::max();

}  // namespace

TBlobChains::TBlobChains(TBlockAccess& access, TBlobHeader& header, int blockSize,
                         const std::string& tableName)
    : FAccess(access), FHeader(header), FBlockSize(blockSize), FTableName(tableName) {}

void TBlobChains::Raise(std::uint16_t code) const {
  RaiseTableError(code, FTableName);
}

void TBlobChains::CheckLink(std::int32_t blockNo) const {
  if (blockNo < 1 || blockNo >= FHeader.NextBlockNo) Raise(codes::kBlobBuffersCorrupt);
}

std::int32_t TBlobChains::BlocksFor(std::int64_t byteCount) const {
  const std::int64_t blocks = (byteCount + DataSize() - 1) / DataSize();
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(blocks, 1, kUnknownBlockCount));
}

void TBlobChains::ReadBlob(TBlobBuffer& buffer) {
  buffer.Data.clear();
  if (buffer.FirstBlock == 0) return;
  CheckLink(buffer.FirstBlock);
  std::unordered_set<std::int32_t> seen{buffer.FirstBlock};
  std::int64_t length = -1;  // known once the first block is in
  std::int32_t blockNo = buffer.FirstBlock;
  std::int32_t readAhead = kUnknownBlockCount;
  for (;;) {
    TPinnedBlock block(FAccess, FAccess.GetBlock(blockNo, readAhead));
    if (length < 0) {
      if (block->BlobChange == 0 || block->BlobChange != buffer.BlobChange)
        Raise(codes::kRecordChanged);
      length = block->BlobLength;
      if (length < 0) Raise(codes::kBlobBuffersCorrupt);
      buffer.Data.reserve(static_cast<std::size_t>(std::min(length, kMaxInitialReserve)));
    } else if (block->BlobChange != buffer.BlobChange) {
      Raise(codes::kBlobBuffersCorrupt);  // a block of another value in this chain
    }
    if (block->UsedBytes > DataSize()) Raise(codes::kBlobBuffersCorrupt);
    const std::int64_t missing = length - buffer.Length();
    const auto take = static_cast<std::size_t>(std::min<std::int64_t>(block->UsedBytes, missing));
    buffer.Data.insert(buffer.Data.end(), block->Data.begin(),
                       block->Data.begin() + static_cast<std::ptrdiff_t>(take));
    const std::int32_t next = block->NextBlock;
    if (buffer.Length() >= length || next == 0) break;
    CheckLink(next);
    if (!seen.insert(next).second) Raise(codes::kBlobBuffersCorrupt);
    blockNo = next;
    readAhead = BlocksFor(length - buffer.Length());
  }
  if (buffer.Length() < length) Raise(codes::kEndOfBlob);
}

std::vector<std::int32_t> TBlobChains::CollectChain(std::int32_t firstBlock,
                                                    std::int32_t blobChange, bool force) {
  std::vector<std::int32_t> blocks;
  std::unordered_set<std::int32_t> seen;
  std::int32_t expectedBlocks = kUnknownBlockCount;
  for (std::int32_t n = firstBlock; n != 0;) {
    CheckLink(n);
    if (!seen.insert(n).second) Raise(codes::kBlobBuffersCorrupt);
    const std::int32_t readAhead =
        std::max<std::int32_t>(1, expectedBlocks - static_cast<std::int32_t>(blocks.size()));
    TPinnedBlock block(FAccess, FAccess.GetBlock(n, readAhead));
    if (block->BlobChange == 0 || block->BlobChange != blobChange) {
      if (!force) Raise(blocks.empty() ? codes::kRecordChanged : codes::kBlobBuffersCorrupt);
      if (block->BlobChange == 0) break;  // a free block: the rest is not this value's
    }
    if (blocks.empty() && block->BlobLength > 0) expectedBlocks = BlocksFor(block->BlobLength);
    blocks.push_back(n);
    n = block->NextBlock;
  }
  return blocks;
}

std::vector<std::int32_t> TBlobChains::ValueBlocks(std::int32_t firstBlock,
                                                   std::int32_t blobChange) {
  return CollectChain(firstBlock, blobChange, false);
}

std::vector<std::int32_t> TBlobChains::FreeChainBlocks() {
  std::vector<std::int32_t> blocks;
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t n = FHeader.FirstFreeBlock; n != 0;) {
    CheckLink(n);
    if (!seen.insert(n).second) Raise(codes::kBlobBuffersCorrupt);
    blocks.push_back(n);
    TPinnedBlock block(FAccess, FAccess.GetBlock(n, 1));
    n = block->NextBlock;
  }
  return blocks;
}

std::int32_t TBlobChains::NewBlock() {
  return NewBlockOutside({});
}

std::int32_t TBlobChains::NewBlockOutside(const std::unordered_set<std::int32_t>& inUse) {
  if (FHeader.FirstFreeBlock != 0) {
    const std::int32_t blockNo = FHeader.FirstFreeBlock;
    CheckLink(blockNo);
    // A free chain that leads back into a live chain would cross-link two values.
    if (inUse.contains(blockNo)) Raise(codes::kBlobBuffersCorrupt);
    TPinnedBlock block(FAccess, FAccess.GetBlock(blockNo, 1));
    const std::int32_t next = block->NextBlock;
    if (next != 0) CheckLink(next);
    FHeader.FirstFreeBlock = next;
    FHeader.Changed = true;
    block->Clear();
    block.MarkChanged();
    return blockNo;
  }
  const std::int32_t blockNo = FHeader.NextBlockNo;
  if (!BlockCountWithinLimits(static_cast<std::int64_t>(blockNo) + 1, FBlockSize))
    Raise(codes::kTableFull);
  FHeader.NextBlockNo = blockNo + 1;
  FHeader.Changed = true;
  TPinnedBlock block(FAccess, FAccess.FreshBlock(blockNo));
  block->Clear();
  block.MarkChanged();
  return blockNo;
}

void TBlobChains::FreeBlock(std::int32_t blockNo) {
  CheckLink(blockNo);
  TPinnedBlock block(FAccess, FAccess.GetBlock(blockNo, 1));
  block->NextBlock = FHeader.FirstFreeBlock;
  block->PrevBlock = 0;
  block->UsedBytes = 0;
  block->BlobChange = 0;  // no value's number: a stale reference to it reads 8708
  block->BlobLength = 0;
  block.MarkChanged();
  FHeader.FirstFreeBlock = blockNo;
  FHeader.Changed = true;
}

void TBlobChains::FreeBlob(std::int32_t firstBlock, std::int32_t expectedChange, bool force) {
  if (firstBlock == 0) return;
  for (const std::int32_t blockNo : CollectChain(firstBlock, expectedChange, force))
    FreeBlock(blockNo);
}

void TBlobChains::WriteBlob(TBlobBuffer& buffer, std::int32_t newChange) {
  const std::int64_t length = buffer.Length();
  if (length > kMaxBlobChange) Raise(codes::kTableFull);
  std::vector<std::int32_t> old;
  if (buffer.FirstBlock != 0) old = CollectChain(buffer.FirstBlock, buffer.BlobChange, false);
  const std::int32_t needed = length == 0 ? 0 : BlocksFor(length);

  std::vector<std::int32_t> blocks(old.begin(),
                                   old.begin() + std::min<std::size_t>(old.size(), needed));
  std::vector<std::int32_t> added;
  try {
    std::unordered_set<std::int32_t> inUse(old.begin(), old.end());
    while (static_cast<std::int32_t>(blocks.size()) < needed) {
      const std::int32_t blockNo = NewBlockOutside(inUse);
      added.push_back(blockNo);
      inUse.insert(blockNo);
      blocks.push_back(blockNo);
    }
  } catch (...) {
    for (auto it = added.rbegin(); it != added.rend(); ++it) FreeBlock(*it);
    throw;
  }

  const auto dataSize = static_cast<std::int64_t>(DataSize());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    TPinnedBlock block(FAccess, FAccess.GetBlock(blocks[i], 1));
    const std::int64_t offset = static_cast<std::int64_t>(i) * dataSize;
    const std::int64_t used = std::min(dataSize, length - offset);
    block->PrevBlock = i == 0 ? 0 : blocks[i - 1];
    block->NextBlock = i + 1 < blocks.size() ? blocks[i + 1] : 0;
    block->UsedBytes = static_cast<std::uint16_t>(used);
    block->BlobChange = newChange;
    block->BlobLength = i == 0 ? static_cast<std::int32_t>(length) : 0;
    std::memcpy(block->Data.data(), buffer.Data.data() + offset, static_cast<std::size_t>(used));
    std::fill(block->Data.begin() + used, block->Data.end(), std::uint8_t{0});
    block.MarkChanged();
  }
  for (std::size_t i = blocks.size(); i < old.size(); ++i) FreeBlock(old[i]);

  buffer.FirstBlock = blocks.empty() ? 0 : blocks.front();
  buffer.BlobChange = newChange;
  // Rewritten blocks change the file even when the header fields stay the same: the next
  // header write must advance BlobChangeCount so other processes drop their cached blocks.
  FHeader.Changed = true;
}

}  // namespace kura
