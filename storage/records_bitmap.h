// A set of physical record numbers of one table, one bit per record.
//
// Record k (records are numbered from 1) is bit (k-1) mod 32 of 32-bit word (k-1) div 32,
// least significant bit first. Words are kept in host order in memory; the bitmap is never
// written to a file. Filters build one bitmap per condition from index scans, combine them
// with AND, OR and NOT, and then walk or count the result instead of reading records.
//
// Invariants (checked by AssertValid in debug builds):
//   1. rounded_size_ is size_ rounded up to a multiple of 32; word_count_ = rounded_size_ / 32.
//   2. The buffer holds at least word_count_ words and grows in 256-byte steps; new bytes are 0.
//   3. Bits past size_ in the last word carry no meaning: counting and walking never read them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kura {

class TRecordsBitmap {
 public:
  static constexpr std::uint32_t kBitsPerWord = 32;
  static constexpr std::uint32_t kGrowthBytes = 256;  // the buffer grows in steps of this
  // The most records a bitmap covers: the size rounded up to whole words must stay a 32-bit
  // number (0xFFFFFFFF rounded up would wrap to 0).
  static constexpr std::uint32_t kMaxSize = 0xFFFFFFFFu / kBitsPerWord * kBitsPerWord;

  // Covers n records. No change when n equals the size; otherwise the rounded size and word
  // count follow n, the buffer grows if needed (never shrinks) and existing bits are kept.
  // Throws std::length_error, changing nothing, when n exceeds kMaxSize.
  void SetSize(std::uint32_t n);

  bool IsSet(std::uint32_t k) const;  // 1 <= k <= Size()
  void SetBit(std::uint32_t k);
  void ClearBit(std::uint32_t k);

  // Fill the whole allocated buffer with 0 or 1 bits.
  void ClearAll();
  void SetAll();

  // Number of set records among 1..Size().
  std::uint32_t Count() const;
  // Number of set records among 1..k-1 (0 when k < 2): a record's position within the set.
  std::uint32_t CountBefore(std::uint32_t k) const;

  struct WalkResult {
    bool reached;          // n set records were passed
    std::uint32_t passed;  // how many were passed
  };
  // Walks forward from record p+1 until n set records were passed or Size() is reached.
  // p becomes the last set record passed; counter grows by one per set record passed.
  WalkResult FindNext(std::uint32_t& p, std::uint32_t n, std::int64_t& counter) const;
  // The same backward from record p-1 towards record 1; counter shrinks per record passed.
  WalkResult FindPrior(std::uint32_t& p, std::uint32_t n, std::int64_t& counter) const;

  // Word-wise combination over this bitmap's words; both bitmaps must have the same size.
  void AndWith(const TRecordsBitmap& other);
  void OrWith(const TRecordsBitmap& other);
  void Invert();  // flips the meaningless bits past Size() too
  void Assign(const TRecordsBitmap& other);

  std::uint32_t Size() const { return size_; }
  std::uint32_t RoundedSize() const { return rounded_size_; }
  std::uint32_t WordCount() const { return word_count_; }
  std::uint32_t Capacity() const { return static_cast<std::uint32_t>(bits_.size() * 4); }

 private:
  void AssertValid() const;
  std::uint32_t Word(std::uint32_t w) const { return bits_[w]; }
  std::uint32_t CountWord(std::uint32_t w, std::uint32_t first_bit, std::uint32_t end_bit) const;

  std::vector<std::uint32_t> bits_;  // the bits; capacity in bytes = bits_.size() * 4
  std::uint32_t size_ = 0;           // records covered: the table's physical record count
  std::uint32_t rounded_size_ = 0;   // size_ rounded up to a multiple of 32
  std::uint32_t word_count_ = 0;     // rounded_size_ / 32
};

// The process-wide pool of free bitmaps, so a filter evaluation allocates nothing.
class TRecordsBitmapStack {
 public:
  static constexpr std::size_t kCapacity = 64;

  // A bitmap with every allocated bit cleared: the last one released, or a new empty one.
  static std::unique_ptr<TRecordsBitmap> AcquireBitmap();
  // Returns the bitmap to the pool, or destroys it when the pool holds kCapacity already.
  // The reference is left empty.
  static void ReleaseBitmap(std::unique_ptr<TRecordsBitmap>& bitmap);
  // Bitmaps waiting in the pool.
  static std::size_t PooledCount();
};

// Sets bit recordNo when the bitmap has it: a record number read from an index may lie
// outside (a damaged index names others).
inline void SetBitIfInside(TRecordsBitmap& bitmap, std::int32_t recordNo) {
  if (recordNo >= 1 && static_cast<std::uint32_t>(recordNo) <= bitmap.Size())
    bitmap.SetBit(static_cast<std::uint32_t>(recordNo));
}

// Grows a bitmap to n bits with the new bits clear (SetSize leaves bits past the old size
// undefined); a bitmap already that large is left alone.
inline void GrowCleared(TRecordsBitmap& bitmap, std::uint32_t n) {
  const std::uint32_t before = bitmap.Size();
  if (n <= before) return;
  bitmap.SetSize(n);
  for (std::uint32_t k = before + 1; k <= n; ++k) bitmap.ClearBit(k);
}

}  // namespace kura
