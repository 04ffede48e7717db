#include "storage/records_bitmap.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace kura {
namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr std::uint32_t kWordsPerGrowth = TRecordsBitmap::kGrowthBytes / 4;

// Low `count` bits set (count 0..32).
constexpr std::uint32_t LowBits(std::uint32_t count) {
  return count >= 32 ? kAllOnes : ((1u << count) - 1u);
}

// Set bits of whole words, 64 bits at a time. Counting is what every count of a filtered
// cursor ends in, so the processor's population count is used where it has one.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("popcnt"))) std::uint32_t CountWordsPopcnt(const std::uint32_t* words,
                                                                 std::uint32_t count) {
  std::uint64_t total = 0;
  std::uint32_t w = 0;
  for (; w + 2 <= count; w += 2) {
    std::uint64_t pair = 0;
    std::memcpy(&pair, words + w, sizeof pair);
    total += static_cast<std::uint64_t>(__builtin_popcountll(pair));
  }
  if (w < count) total += static_cast<std::uint64_t>(__builtin_popcount(words[w]));
  return static_cast<std::uint32_t>(total);
}
#endif

std::uint32_t CountWordsPortable(const std::uint32_t* words, std::uint32_t count) {
  std::uint32_t total = 0;
  for (std::uint32_t w = 0; w < count; ++w)
    total += static_cast<std::uint32_t>(std::popcount(words[w]));
  return total;
}

std::uint32_t CountWords(const std::uint32_t* words, std::uint32_t count) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  static const bool hasPopcnt = __builtin_cpu_supports("popcnt");
  if (hasPopcnt) return CountWordsPopcnt(words, count);
#endif
  return CountWordsPortable(words, count);
}

}  // namespace

void TRecordsBitmap::AssertValid() const {
  assert(rounded_size_ % kBitsPerWord == 0);                     // invariant 1
  assert(rounded_size_ >= size_ && rounded_size_ - size_ < 32);  // invariant 1
  assert(word_count_ == rounded_size_ / kBitsPerWord);           // invariant 1
  assert(bits_.size() >= word_count_);                           // invariant 2
  assert(bits_.size() % kWordsPerGrowth == 0);                   // invariant 2
}

void TRecordsBitmap::SetSize(std::uint32_t n) {
  if (n == size_) return;
  if (n > kMaxSize) throw std::length_error("a records bitmap covers at most 4294967264 records");
  size_ = n;
  const std::uint64_t rounded = (static_cast<std::uint64_t>(n) + 31) / 32 * 32;
  rounded_size_ = static_cast<std::uint32_t>(rounded);
  word_count_ = static_cast<std::uint32_t>(rounded / kBitsPerWord);
  if (bits_.size() < word_count_) {
    const std::size_t steps = (word_count_ + kWordsPerGrowth - 1) / kWordsPerGrowth;
    bits_.resize(steps * kWordsPerGrowth, 0u);
  }
  AssertValid();
}

bool TRecordsBitmap::IsSet(std::uint32_t k) const {
  assert(k >= 1 && k <= size_);
  return (bits_[(k - 1) / 32] >> ((k - 1) % 32)) & 1u;
}

void TRecordsBitmap::SetBit(std::uint32_t k) {
  assert(k >= 1 && k <= size_);
  bits_[(k - 1) / 32] |= 1u << ((k - 1) % 32);
}

void TRecordsBitmap::ClearBit(std::uint32_t k) {
  assert(k >= 1 && k <= size_);
  bits_[(k - 1) / 32] &= ~(1u << ((k - 1) % 32));
}

void TRecordsBitmap::ClearAll() {
  std::fill(bits_.begin(), bits_.end(), 0u);
}
void TRecordsBitmap::SetAll() {
  std::fill(bits_.begin(), bits_.end(), kAllOnes);
}

// Set bits of word w from bit first_bit up to (not including) end_bit.
std::uint32_t TRecordsBitmap::CountWord(std::uint32_t w, std::uint32_t first_bit,
                                        std::uint32_t end_bit) const {
  const std::uint32_t mask = LowBits(end_bit) & ~LowBits(first_bit);
  return static_cast<std::uint32_t>(std::popcount(Word(w) & mask));
}

std::uint32_t TRecordsBitmap::Count() const {
  return CountBefore(size_ + 1);
}

std::uint32_t TRecordsBitmap::CountBefore(std::uint32_t k) const {
  if (k < 2) return 0;
  const std::uint32_t records = std::min<std::uint64_t>(k - 1, size_);
  const std::uint32_t full_words = records / 32;
  std::uint32_t count = CountWords(bits_.data(), full_words);
  if (records % 32) count += CountWord(full_words, 0, records % 32);
  return count;
}

TRecordsBitmap::WalkResult TRecordsBitmap::FindNext(std::uint32_t& p, std::uint32_t n,
                                                    std::int64_t& counter) const {
  std::uint32_t passed = 0;
  std::uint64_t r = static_cast<std::uint64_t>(p) + 1;
  while (r <= size_ && passed < n) {
    std::uint32_t w = static_cast<std::uint32_t>((r - 1) / 32);
    const std::uint32_t first_bit = static_cast<std::uint32_t>((r - 1) % 32);
    if (first_bit == 0) {
      // Whole words of set records inside the size, while they cannot overshoot n. The
      // bound comes first: with a size that fills the buffer, word w may lie past its end.
      while ((static_cast<std::uint64_t>(w) + 1) * 32 <= size_ && passed + 32 < n &&
             Word(w) == kAllOnes) {
        passed += 32;
        counter += 32;
        p = (w + 1) * 32;
        ++w;
      }
      if (static_cast<std::uint64_t>(w) * 32 + 1 > size_) break;
    }
    const std::uint32_t end_bit = std::min<std::uint64_t>(32, size_ - std::uint64_t{w} * 32);
    std::uint32_t bits = Word(w) & LowBits(end_bit) & ~LowBits(first_bit);
    while (bits != 0) {  // a zero word falls straight through
      p = w * 32 + static_cast<std::uint32_t>(std::countr_zero(bits)) + 1;
      ++passed;
      ++counter;
      if (passed == n) return {true, passed};
      bits &= bits - 1;
    }
    r = (static_cast<std::uint64_t>(w) + 1) * 32 + 1;
  }
  return {passed == n && n > 0, passed};
}

TRecordsBitmap::WalkResult TRecordsBitmap::FindPrior(std::uint32_t& p, std::uint32_t n,
                                                     std::int64_t& counter) const {
  std::uint32_t passed = 0;
  if (p < 2) return {false, 0};
  std::uint32_t r = std::min(p - 1, size_);  // records past the size do not exist
  while (r >= 1 && passed < n) {
    std::uint32_t w = (r - 1) / 32;
    const std::uint32_t last_bit = (r - 1) % 32;
    if (last_bit == 31) {
      // Whole words of set records, while 32 more cannot reach n.
      bool below_start = false;
      while (Word(w) == kAllOnes && passed + 32 < n) {
        passed += 32;
        counter -= 32;
        p = w * 32 + 1;
        if (w == 0) {
          below_start = true;
          break;
        }
        --w;
      }
      if (below_start) break;
    }
    const std::uint32_t top = (w == (r - 1) / 32) ? last_bit : 31;
    std::uint32_t bits = Word(w) & LowBits(top + 1);
    while (bits != 0) {
      const std::uint32_t high = 31 - static_cast<std::uint32_t>(std::countl_zero(bits));
      p = w * 32 + high + 1;
      ++passed;
      --counter;
      if (passed == n) return {true, passed};
      bits &= ~(1u << high);
    }
    r = w * 32;  // the record just below this word
  }
  return {passed == n && n > 0, passed};
}

// The word loops below run over plain pointers so that the compiler can do them many words
// at a time.
void TRecordsBitmap::AndWith(const TRecordsBitmap& other) {
  assert(other.size_ == size_);
  const std::uint32_t words = std::min<std::size_t>(word_count_, other.bits_.size());
  std::uint32_t* target = bits_.data();
  const std::uint32_t* source = other.bits_.data();
  for (std::uint32_t w = 0; w < words; ++w) target[w] &= source[w];
  std::fill(target + words, target + word_count_, 0u);
}

void TRecordsBitmap::OrWith(const TRecordsBitmap& other) {
  assert(other.size_ == size_);
  const std::uint32_t words = std::min<std::size_t>(word_count_, other.bits_.size());
  std::uint32_t* target = bits_.data();
  const std::uint32_t* source = other.bits_.data();
  for (std::uint32_t w = 0; w < words; ++w) target[w] |= source[w];
}

void TRecordsBitmap::Invert() {
  std::uint32_t* words = bits_.data();
  for (std::uint32_t w = 0; w < word_count_; ++w) words[w] = ~words[w];
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  bits_ = other.bits_;
  size_ = other.size_;
  rounded_size_ = other.rounded_size_;
  word_count_ = other.word_count_;
}

namespace {

std::mutex pool_mutex;
std::vector<std::unique_ptr<TRecordsBitmap>>& Pool() {
  static auto* pool = new std::vector<std::unique_ptr<TRecordsBitmap>>();  // lives to exit
  return *pool;
}

}  // namespace

std::unique_ptr<TRecordsBitmap> TRecordsBitmapStack::AcquireBitmap() {
  std::unique_ptr<TRecordsBitmap> bitmap;
  {
    std::lock_guard<std::mutex> lock(pool_mutex);
    auto& pool = Pool();
    if (!pool.empty()) {
      bitmap = std::move(pool.back());
      pool.pop_back();
    }
  }
  if (!bitmap) return std::make_unique<TRecordsBitmap>();
  bitmap->ClearAll();
  return bitmap;
}

void TRecordsBitmapStack::ReleaseBitmap(std::unique_ptr<TRecordsBitmap>& bitmap) {
  if (!bitmap) return;
  std::lock_guard<std::mutex> lock(pool_mutex);
  auto& pool = Pool();
  if (pool.size() < kCapacity) pool.push_back(std::move(bitmap));
  bitmap.reset();  // destroys it when the pool was full
}

std::size_t TRecordsBitmapStack::PooledCount() {
  std::lock_guard<std::mutex> lock(pool_mutex);
  return Pool().size();
}

}  // namespace kura
