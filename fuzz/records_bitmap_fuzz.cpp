// Arbitrary bytes as a program of records-bitmap operations, run against a plain vector of
// flags: sizes, bits, fills, combinations, counts and walks never read outside the buffer and
// always agree with the model (bits past the size carry no meaning, so the model only knows
// records 1..Size()).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "storage/records_bitmap.h"

namespace {

// Sizes stay small enough for a fast run yet cross the 2048-record buffer step on both sides.
constexpr std::uint32_t kMaxFuzzSize = 4200;

class TProgram {
 public:
  TProgram(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t Number() {
    std::uint32_t value = Byte();
    value |= static_cast<std::uint32_t>(Byte()) << 8;
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct TModel {
  std::vector<bool> set;  // index k-1 for record k

  std::uint32_t CountBefore(std::uint32_t k) const {
    std::uint32_t count = 0;
    for (std::uint32_t r = 1; r < k && r <= set.size(); ++r) count += set[r - 1];
    return count;
  }
};

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckWalks(const kura::TRecordsBitmap& bitmap, const TModel& model, std::uint32_t from,
                std::uint32_t n) {
  const auto size = static_cast<std::uint32_t>(model.set.size());
  std::uint32_t p = from;
  std::int64_t counter = 0;
  std::uint32_t expected_p = from;
  std::uint32_t expected = 0;
  for (std::uint64_t r = std::uint64_t{from} + 1; r <= size && expected < n; ++r) {
    if (model.set[r - 1]) ++expected, expected_p = static_cast<std::uint32_t>(r);
  }
  auto next = bitmap.FindNext(p, n, counter);
  Check(next.passed == expected && counter == expected && (expected == 0 || p == expected_p));
  Check(next.reached == (expected == n && n > 0));

  p = from;
  counter = 0;
  expected_p = from;
  expected = 0;
  for (std::int64_t r = std::min<std::int64_t>(std::int64_t{from} - 1, size);
       r >= 1 && expected < n; --r) {
    if (model.set[r - 1]) ++expected, expected_p = static_cast<std::uint32_t>(r);
  }
  auto prior = bitmap.FindPrior(p, n, counter);
  Check(prior.passed == expected && counter == -std::int64_t{expected} &&
        (expected == 0 || p == expected_p));
  Check(prior.reached == (expected == n && n > 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TProgram program(data, size);
  kura::TRecordsBitmap bitmap;
  kura::TRecordsBitmap other;
  TModel model;
  for (int step = 0; step < 64 && !program.AtEnd(); ++step) {
    const std::uint32_t records = static_cast<std::uint32_t>(model.set.size());
    switch (program.Byte() % 8) {
      case 0: {  // resize: bits inside both sizes are kept, new records are unknown
        const std::uint32_t n = program.Number() % (kMaxFuzzSize + 1);
        bitmap.SetSize(n);
        model.set.resize(n, false);
        for (std::uint32_t k = records + 1; k <= n; ++k) model.set[k - 1] = bitmap.IsSet(k);
        break;
      }
      case 1:
      case 2: {  // set or clear one record
        if (records == 0) break;
        const std::uint32_t k = program.Number() % records + 1;
        const bool on = program.Byte() & 1;
        on ? bitmap.SetBit(k) : bitmap.ClearBit(k);
        model.set[k - 1] = on;
        break;
      }
      case 3: {  // fill
        const bool on = program.Byte() & 1;
        on ? bitmap.SetAll() : bitmap.ClearAll();
        std::fill(model.set.begin(), model.set.end(), on);
        break;
      }
      case 4: {  // invert
        bitmap.Invert();
        model.set.flip();
        break;
      }
      case 5: {  // combine with a bitmap of the same size: all records or none set
        other.SetSize(records);
        const std::uint8_t how = program.Byte();
        (how & 1) ? other.SetAll() : other.ClearAll();
        if (how & 2) {
          bitmap.AndWith(other);
          if (!(how & 1)) std::fill(model.set.begin(), model.set.end(), false);
        } else {
          bitmap.OrWith(other);
          if (how & 1) std::fill(model.set.begin(), model.set.end(), true);
        }
        break;
      }
      case 6: {  // walk from a point that may lie past the size, by a count up to 2^32-1
        const std::uint32_t from = program.Number() % (records + 3);
        const std::uint8_t shape = program.Byte();
        const std::uint32_t n = (shape & 0x80) ? 0xFFFFFFFFu : shape;
        CheckWalks(bitmap, model, from, n);
        break;
      }
      default: {  // count
        const std::uint32_t k = program.Number() % (records + 3);
        Check(bitmap.CountBefore(k) == model.CountBefore(k));
        Check(bitmap.Count() == model.CountBefore(records + 1));
        break;
      }
    }
  }
  return 0;
}
