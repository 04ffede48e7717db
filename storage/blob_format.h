// The BLOB file (".BLB"): a 512-byte header followed by fixed-size blocks. One BLOB value is a
// doubly linked chain of blocks; the record holds only the number of its first block and the
// value's change number.
//
// Block size B: the data file header's BlobBlockSize (low 16 bits), 512 when that is 0. Block n
// (n >= 1) starts at 512 + (n - 1) * B and holds an 18-byte header and B - 18 data bytes.
//
// File header, 512 bytes (little-endian):
//
//   OFFSET  SIZE  DESCRIPTION
//        0     4  BlobChangeCount   signed; incremented on every header write
//        4     4  zero
//        8     1  BlobVersion       always 5
//        9     4  FirstFreeBlock    signed; head of the free chain, 0 = none
//       13     4  NextBlockNo       signed; one more than the number of blocks (1 when empty)
//       17     1  BlobHeaderChanged the in-memory changed flag as it was when written
//       18   494  zero
//
// Block header, 18 bytes:
//
//   OFFSET  SIZE  DESCRIPTION
//        0     4  PrevBlock   signed; previous block of the same value, 0 for the first
//        4     4  NextBlock   signed; next block of the same value, 0 for the last; on a free
//                             block the next free block
//        8     2  UsedBytes   data bytes used in this block
//       10     4  BlobChange  signed; change number of the value this block belongs to
//       14     4  BlobLength  signed; total length of the value in its first block, else 0
//
// When the table is encrypted the header is scrambled as one 512-byte buffer and each block
// as two buffers (its 18 header bytes, then its B - 18 data bytes), each starting with the
// record seeds of the data file.
//
// Invariants (checked by the helpers below and by the structure check):
//   B1. BlobVersion is 5.
//   B2. 1 <= NextBlockNo, and block NextBlockNo - 1 ends at or below the 4 000 000 000-byte
//       file limit (so at most 2 000 000 000 blocks).
//   B3. FirstFreeBlock is 0 or a block number below NextBlockNo.
//   B4. Every link met while walking a chain (PrevBlock aside) is 0 or a block number below
//       NextBlockNo.
//   B5. UsedBytes of a block of a value is at most B - 18.
//   B6. Every block of a value carries the value's change number; no block appears twice in
//       one chain, and every block is in exactly one value's chain or on the free chain.
//   B7. Change numbers handed out are 1 .. 2147483647; 0 never names a value (the block
//       layer writes 0 into blocks it frees).
#pragma once

#include <cstdint>
#include <vector>

#include "storage/buffer_cache.h"

namespace kura {

// --- Sizes ----------------------------------------------------------------------------------
inline constexpr int kBlobHeaderSize = 512;
inline constexpr int kBlockHeaderSize = 18;
inline constexpr int kDefaultBlockSize = 512;
inline constexpr int kMinBlobBlockSize = kBlockHeaderSize + 1;  // at least one data byte
inline constexpr int kMaxBlobBlockSize = 0xFFFF;                // the low 16 bits of the field
inline constexpr std::uint8_t kBlobVersion = 5;
inline constexpr std::int64_t kMaxBlobBlocks = 2'000'000'000;
inline constexpr std::int64_t kMaxBlobFileBytes = 4'000'000'000;
inline constexpr std::int32_t kMaxBlobChange = 2147483647;

// Header field offsets.
inline constexpr int kBlobChangeCountOffset = 0;
inline constexpr int kBlobVersionOffset = 8;
inline constexpr int kFirstFreeBlockOffset = 9;
inline constexpr int kNextBlockNoOffset = 13;
inline constexpr int kBlobHeaderChangedOffset = 17;

// Block header field offsets.
inline constexpr int kPrevBlockOffset = 0;
inline constexpr int kNextBlockOffset = 4;
inline constexpr int kUsedBytesOffset = 8;
inline constexpr int kBlobChangeOffset = 10;
inline constexpr int kBlobLengthOffset = 14;

// The block size a data header's BlobBlockSize field stands for: its low 16 bits, 512 when
// they are 0. Answers 0 for a size that cannot hold a data byte (18 or less).
int BlobBlockSizeOf(std::uint32_t storedBlockSize);

// Data bytes per block.
constexpr int BlockDataSize(int blockSize) {
  return blockSize - kBlockHeaderSize;
}

// File position of block n (n >= 1).
constexpr std::int64_t BlockPosition(std::int32_t blockNo, int blockSize) {
  return kBlobHeaderSize + static_cast<std::int64_t>(blockNo - 1) * blockSize;
}

// Whether a file whose NextBlockNo is nextBlockNo stays within the block and byte limits (B2).
bool BlockCountWithinLimits(std::int64_t nextBlockNo, int blockSize);

// The change number that follows last: last + 1, and 1 after 2147483647 (or after any value
// that is not a valid change number, such as 0 or a damaged negative one).
std::int32_t NextBlobChange(std::int32_t last);

// The file header in memory.
struct TBlobHeader {
  std::int32_t BlobChangeCount = 0;
  std::uint8_t BlobVersion = kBlobVersion;
  std::int32_t FirstFreeBlock = 0;
  std::int32_t NextBlockNo = 1;
  bool Changed = false;  // in memory only; written as BlobHeaderChanged
};

// Writes the 512 header bytes (unused bytes zero).
void EncodeBlobHeader(const TBlobHeader& header, std::uint8_t* bytes);
// Reads the 512 header bytes; Changed is left false.
TBlobHeader DecodeBlobHeader(const std::uint8_t* bytes);

// One block in memory, a cache entry whose Number is the block number: its header fields and
// B - 18 data bytes.
struct TBlock : TCacheEntry {
  explicit TBlock(int blockSize = kDefaultBlockSize)
      : Data(static_cast<std::size_t>(BlockDataSize(blockSize)), 0) {}

  std::int32_t PrevBlock = 0;
  std::int32_t NextBlock = 0;
  std::uint16_t UsedBytes = 0;
  std::int32_t BlobChange = 0;
  std::int32_t BlobLength = 0;
  std::vector<std::uint8_t> Data;  // B - 18 bytes

  // Zeroes the header fields and the data, keeping the data size.
  void Clear();
};

// Writes the block's 18 header bytes and B - 18 data bytes (data.size() must be B - 18).
void EncodeBlock(const TBlock& block, std::uint8_t* bytes, int blockSize);
// Reads a block's fields and data from B bytes; the number is set by the caller.
void DecodeBlock(const std::uint8_t* bytes, int blockSize, TBlock& block);

// A cursor's working copy of one BLOB value.
struct TBlobBuffer {
  std::uint16_t FieldNo = 0;
  std::int32_t FirstBlock = 0;  // from the record; 0 = no stored value
  std::int32_t BlobChange = 0;  // from the record
  std::vector<std::uint8_t> Data;
  std::vector<std::uint8_t> TextIndexCopy;  // the contents the text index last saw
  bool Modified = false;
  int OpenCount = 0;

  std::int64_t Length() const { return static_cast<std::int64_t>(Data.size()); }
};

}  // namespace kura
