// One page of a Kura index file, in memory and as its 4096 bytes on disk.
//
// Page n (n >= 1) lies at n x 4096. Page layout:
//
// OFFSET  SIZE  DESCRIPTION
//      0     1  page type: 0 root branch, 1 branch, 2 leaf, 3 root leaf (the only page of a
//               one-level tree), 4 parameter page of the text index
//      1     2  number of entries (0 for a free page)
//      3     4  previous page on the same level (signed), 0 = none
//      7     4  next page on the same level (signed), 0 = none; on a free page the next
//               free page of the index's chain
//     11     2  bytes used by the entries of a compressed leaf
//     13  4083  entries (a parameter page: 4083 bytes of raw parameter data)
//
// Branch entry: the child's first key (K), the child's page number (4) and the number of keys
// in the child's subtree (4); uncounted indexes leave the count out. Leaf entries, by the
// index's compression mode, followed by the record number (4):
//
//   0 none              key (K)
//   1 duplicate bytes   d (1), key bytes d .. K-1
//   2 trailing bytes    t (1), the key without its last t zero bytes
//   3 both              d (1), t (1), key bytes d .. K-t-1
//
// d is the length of the prefix shared with the previous entry's key (0 for the first entry);
// t counts trailing zero bytes. In a non-unique index the RowId suffix is never counted in t:
// t counts the zeros just before it and the suffix is stored whole after the shortened body
// (in mode 3 only when K - d >= 5; otherwise t is 0). d and t are each at most 254.
//
// Capacities: a branch holds 4083 div (K + 8) entries (4083 div (K + 4) uncounted); an
// uncompressed leaf 4083 div (K + 4); a compressed leaf what fits in 4083 bytes.
//
// Invariants of a page image (checked when decoding, 8965 when broken):
//   1. The type is 0..4; the entry count fits the page's capacity.
//   2. A compressed leaf's entries end exactly at its bytes-used count, at most 4083.
//   3. The first entry's d is 0; every d and t stays within the key and at most 254.
//   4. Every entry names a child page or a record numbered from 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "storage/buffer_cache.h"
#include "storage/index_key.h"
#include "storage/little_endian.h"

namespace kura {

inline constexpr std::size_t kIndexPageBytes = 4096;
inline constexpr std::size_t kPageHeaderSize = 13;
inline constexpr std::size_t kPageEntryArea = kIndexPageBytes - kPageHeaderSize;  // 4083

inline constexpr std::uint8_t kPageRootBranch = 0;
inline constexpr std::uint8_t kPageBranch = 1;
inline constexpr std::uint8_t kPageLeaf = 2;
inline constexpr std::uint8_t kPageRootLeaf = 3;
inline constexpr std::uint8_t kPageParams = 4;

// Longest run of shared or trailing bytes one compression byte can say.
inline constexpr int kMaxCompressionRun = 254;

using TPageImage = std::array<std::uint8_t, kIndexPageBytes>;

// What the pages of one index need to know about its keys.
struct TPageFormat {
  int KeyLength = 0;
  bool Unique = true;
  std::uint8_t Compression = kCompressNone;
  bool Counted = true;  // branch entries carry subtree counts
};

// The page format of the index in `slot` with its descriptor (the text index is uncounted).
TPageFormat PageFormatOf(int slot, const TIndexDescriptor& descriptor);

// Entries a branch page of the format holds.
int BranchCapacity(const TPageFormat& format);
// Entries an uncompressed leaf of the format holds.
int LeafCapacity(const TPageFormat& format);

// A page in memory: a cache entry of the index slot's page cache (the cache owns the common
// part; Changed marks a page to be written back).
class TPage : public TCacheEntry {
 public:
  TPage() = default;

  // Empties the page for a new number (the cache's contract).
  void Clear() { Reset(0, FSlot, FFormat); }

  // Makes the page an empty page `pageNo` of the format, with type and links zero.
  void Reset(std::int32_t pageNo, int slot, const TPageFormat& format);

  std::int32_t PageNo() const { return FPageNo; }
  int Slot() const { return FSlot; }
  const TPageFormat& Format() const { return FFormat; }

  std::uint8_t Type = kPageRootLeaf;
  std::int32_t PrevPage = 0;
  std::int32_t NextPage = 0;
  bool Freed = false;
  // Raw parameter data of a parameter page (type 4).
  std::vector<std::uint8_t> Params;

  bool IsLeaf() const { return Type == kPageLeaf || Type == kPageRootLeaf; }
  bool IsRoot() const { return Type == kPageRootBranch || Type == kPageRootLeaf; }
  // A leaf whose entries are compressed (and so never rebalanced).
  bool IsCompressedLeaf() const { return IsLeaf() && FFormat.Compression != kCompressNone; }

  int Count() const { return FCount; }
  // Entries of a branch or uncompressed leaf (for a compressed leaf the uncompressed one).
  int Capacity() const;
  // True when the entries do not fit the page (count past capacity, or more than 4083 bytes
  // of compressed entries).
  bool OverCapacity() const;
  // True for a branch or uncompressed leaf with fewer entries than half its capacity.
  bool Underfull() const { return 2 * FCount < Capacity(); }
  // Bytes the entries take on disk.
  int BytesUsed() const;

  // Entry access, positions 1..Count().
  const std::uint8_t* Key(int pos) const { return Entry(pos); }
  // The record number of a leaf entry or the child page of a branch entry. Inline: every
  // descent and leaf walk reads these in its inner loop.
  std::int32_t ChildOrRecord(int pos) const { return NumberOf(Entry(pos), FFormat.KeyLength); }
  // The subtree count of a branch entry.
  std::int32_t KeyCount(int pos) const {
    return GetI32LE(Entry(pos) + FFormat.KeyLength + kCountAfterKey);
  }
  std::uint8_t SharedPrefix(int pos) const { return Entry(pos)[FFormat.KeyLength + 8]; }
  std::uint8_t TrailingZeros(int pos) const { return Entry(pos)[FFormat.KeyLength + 9]; }

  // The entries 1..Count() as they are held in memory, one after the other, EntryStride()
  // bytes each: the key (decompressed), then the number read by NumberOf. Lets a caller copy
  // a whole leaf at once.
  std::span<const std::uint8_t> EntryImage() const {
    return {FEntries.data(), static_cast<std::size_t>(FCount) * Stride()};
  }
  std::size_t EntryStride() const { return Stride(); }
  // The record or child number of an in-memory entry whose key is keyLength bytes long.
  static std::int32_t NumberOf(const std::uint8_t* entry, int keyLength) {
    return GetI32LE(entry + keyLength + kNumberAfterKey);
  }

  void SetKey(int pos, const std::uint8_t* key);
  void SetChildOrRecord(int pos, std::int32_t number);
  void SetKeyCount(int pos, std::int32_t count);
  // Sum of the subtree counts of a branch (the entry count of a leaf).
  std::int64_t TotalKeys() const;

  // Inserts an entry at pos (1..Count()+1), shifting the following ones.
  void InsertEntry(int pos, const std::uint8_t* key, std::int32_t number, std::int32_t count);
  // Removes the entry at pos.
  void RemoveEntry(int pos);
  // Moves entries pos..Count() to the end of `other` (same format).
  void MoveTailTo(int pos, TPage& other);
  // Moves the first n entries to the end of `other`: `other` keeps its entries and these
  // follow them.
  void MoveHeadToEndOf(int n, TPage& other);
  // Moves the last n entries to the front of `other`.
  void MoveTailToFrontOf(int n, TPage& other);

  // Writes the 4096-byte image. A free page is written with its next link and no entries.
  void Encode(std::span<std::uint8_t, kIndexPageBytes> image) const;
  // Reads the 4096-byte image into this page (already Reset with number, slot and format).
  // Raises 8965 when the image breaks an invariant above.
  void Decode(std::span<const std::uint8_t, kIndexPageBytes> image);

 private:
  // In-memory entry: key (K), number (4), count (4), d (1), t (1).
  static constexpr std::size_t kNumberAfterKey = 0;
  static constexpr std::size_t kCountAfterKey = 4;

  std::size_t Stride() const { return static_cast<std::size_t>(FFormat.KeyLength) + 10; }
  std::uint8_t* Entry(int pos) { return FEntries.data() + (pos - 1) * Stride(); }
  const std::uint8_t* Entry(int pos) const { return FEntries.data() + (pos - 1) * Stride(); }
  // Recomputes d and t of the entry at pos and answers its on-disk size.
  int Recompute(int pos);
  int EntrySize(int pos) const;
  void RecomputeAll();
  void DecodeCompressed(const std::uint8_t* entries, int count, int bytesUsed);

  std::int32_t FPageNo = 0;
  int FSlot = 0;
  TPageFormat FFormat;
  int FCount = 0;
  int FBytesUsed = 0;
  std::vector<std::uint8_t> FEntries;
  // The sum TotalKeys answers for a branch, kept until a count changes: a cursor recounts its
  // index from the root after every change, and the root of a large index has hundreds of
  // entries. Every method that changes a count or moves entries forgets it.
  static constexpr std::int64_t kUnknownTotal = -1;
  mutable std::int64_t FKeyTotal = kUnknownTotal;
};

}  // namespace kura
