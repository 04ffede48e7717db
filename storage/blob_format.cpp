#include "storage/blob_format.h"

#include <algorithm>
#include <cstring>

#include "storage/little_endian.h"

namespace kura {

int BlobBlockSizeOf(std::uint32_t storedBlockSize) {
  const int size = static_cast<int>(storedBlockSize & 0xFFFFu);
  if (size == 0) return kDefaultBlockSize;
  return size < kMinBlobBlockSize ? 0 : size;
}

bool BlockCountWithinLimits(std::int64_t nextBlockNo, int blockSize) {
  if (nextBlockNo < 1 || nextBlockNo - 1 > kMaxBlobBlocks) return false;
  return BlockPosition(static_cast<std::int32_t>(nextBlockNo), blockSize) <= kMaxBlobFileBytes;
}

std::int32_t NextBlobChange(std::int32_t last) {
  return last >= 1 && last < kMaxBlobChange ? last + 1 : 1;
}

void EncodeBlobHeader(const TBlobHeader& header, std::uint8_t* bytes) {
  std::memset(bytes, 0, kBlobHeaderSize);
  PutI32LE(bytes + kBlobChangeCountOffset, header.BlobChangeCount);
  bytes[kBlobVersionOffset] = header.BlobVersion;
  PutI32LE(bytes + kFirstFreeBlockOffset, header.FirstFreeBlock);
  PutI32LE(bytes + kNextBlockNoOffset, header.NextBlockNo);
  bytes[kBlobHeaderChangedOffset] = header.Changed ? 1 : 0;
}

TBlobHeader DecodeBlobHeader(const std::uint8_t* bytes) {
  TBlobHeader header;
  header.BlobChangeCount = GetI32LE(bytes + kBlobChangeCountOffset);
  header.BlobVersion = bytes[kBlobVersionOffset];
  header.FirstFreeBlock = GetI32LE(bytes + kFirstFreeBlockOffset);
  header.NextBlockNo = GetI32LE(bytes + kNextBlockNoOffset);
  header.Changed = false;
  return header;
}

void TBlock::Clear() {
  PrevBlock = NextBlock = 0;
  UsedBytes = 0;
  BlobChange = BlobLength = 0;
  std::fill(Data.begin(), Data.end(), std::uint8_t{0});
}

void EncodeBlock(const TBlock& block, std::uint8_t* bytes, int blockSize) {
  PutI32LE(bytes + kPrevBlockOffset, block.PrevBlock);
  PutI32LE(bytes + kNextBlockOffset, block.NextBlock);
  PutU16LE(bytes + kUsedBytesOffset, block.UsedBytes);
  PutI32LE(bytes + kBlobChangeOffset, block.BlobChange);
  PutI32LE(bytes + kBlobLengthOffset, block.BlobLength);
  const std::size_t dataSize = static_cast<std::size_t>(BlockDataSize(blockSize));
  const std::size_t have = std::min(dataSize, block.Data.size());
  if (have > 0) std::memcpy(bytes + kBlockHeaderSize, block.Data.data(), have);
  if (have < dataSize) std::memset(bytes + kBlockHeaderSize + have, 0, dataSize - have);
}

void DecodeBlock(const std::uint8_t* bytes, int blockSize, TBlock& block) {
  block.PrevBlock = GetI32LE(bytes + kPrevBlockOffset);
  block.NextBlock = GetI32LE(bytes + kNextBlockOffset);
  block.UsedBytes = GetU16LE(bytes + kUsedBytesOffset);
  block.BlobChange = GetI32LE(bytes + kBlobChangeOffset);
  block.BlobLength = GetI32LE(bytes + kBlobLengthOffset);
  block.Data.assign(bytes + kBlockHeaderSize, bytes + blockSize);
}

}  // namespace kura
