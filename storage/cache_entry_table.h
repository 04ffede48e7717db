// The entries of one buffer cache by number: an open-addressing hash table with linear
// probing that owns the entries. A lookup is one hash and, at the load kept here (at most one
// half), one or two probes of a contiguous array, whatever the cache's size: a cache of every
// record of a large table finds a record as fast as one of 100.
//
// Removal shifts the later members of the probe run back instead of leaving tombstones, so a
// cache that churns through many numbers never slows down. Numbers are positive; 0 marks a
// free slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace kura {

template <typename TEntry>
class TCacheEntryTable {
 public:
  // The entry of number n, or nullptr.
  TEntry* Find(std::int32_t number) const {
    if (FSlots.empty()) return nullptr;
    for (std::size_t i = Home(number);; i = (i + 1) & FMask) {
      const TSlot& slot = FSlots[i];
      if (slot.Number == number) return slot.Entry.get();
      if (slot.Number == 0) return nullptr;
    }
  }

  // Takes the entry under its number, which must be positive and not held yet.
  void Insert(std::unique_ptr<TEntry> entry) {
    if ((FCount + 1) * 2 > FSlots.size())
      Rehash(FSlots.empty() ? kInitialSlots : FSlots.size() * 2);
    Place(std::move(entry));
    ++FCount;
  }

  // Gives up the entry of number n; nullptr when none is held.
  std::unique_ptr<TEntry> Extract(std::int32_t number) {
    if (FSlots.empty()) return nullptr;
    std::size_t hole = Home(number);
    while (FSlots[hole].Number != number) {
      if (FSlots[hole].Number == 0) return nullptr;
      hole = (hole + 1) & FMask;
    }
    std::unique_ptr<TEntry> entry = std::move(FSlots[hole].Entry);
    FSlots[hole].Number = 0;
    --FCount;
    // Every later member of the run whose home does not lie between the hole and itself
    // would no longer be reached past the hole: it moves into the hole.
    for (std::size_t next = (hole + 1) & FMask; FSlots[next].Number != 0;
         next = (next + 1) & FMask) {
      const std::size_t home = Home(FSlots[next].Number);
      if (((next - home) & FMask) >= ((next - hole) & FMask)) {
        FSlots[hole] = std::move(FSlots[next]);
        FSlots[next].Number = 0;
        hole = next;
      }
    }
    return entry;
  }

  std::size_t Size() const { return FCount; }

  // Calls visit(entry) for every entry, in no particular order; visit must not insert or
  // extract.
  template <typename TVisit>
  void Visit(TVisit visit) const {
    for (const TSlot& slot : FSlots) {
      if (slot.Number != 0) visit(slot.Entry.get());
    }
  }

  // Whether every entry sits in the slot its number leads to and the count agrees (for the
  // cache's invariant checks).
  bool Consistent() const {
    std::size_t held = 0;
    for (const TSlot& slot : FSlots) {
      if (slot.Number == 0) continue;
      ++held;
      if (slot.Number < 0 || !slot.Entry || slot.Entry->Number != slot.Number) return false;
      if (Find(slot.Number) != slot.Entry.get()) return false;
    }
    return held == FCount;
  }

 private:
  struct TSlot {
    std::int32_t Number = 0;
    std::unique_ptr<TEntry> Entry;
  };

  static constexpr std::size_t kInitialSlots = 16;

  // Fibonacci hashing: consecutive numbers (the usual access pattern) spread over the table.
  std::size_t Home(std::int32_t number) const {
    const std::uint64_t mixed =
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(mixed >> FShift);
  }

  void Place(std::unique_ptr<TEntry> entry) {
    std::size_t i = Home(entry->Number);
    while (FSlots[i].Number != 0) i = (i + 1) & FMask;
    FSlots[i].Number = entry->Number;
    FSlots[i].Entry = std::move(entry);
  }

  void Rehash(std::size_t slots) {
    std::vector<TSlot> old = std::exchange(FSlots, std::vector<TSlot>(slots));
    FMask = slots - 1;
    FShift = 64;
    for (std::size_t s = slots; s > 1; s >>= 1) --FShift;
    for (TSlot& slot : old) {
      if (slot.Number != 0) Place(std::move(slot.Entry));
    }
  }

  std::vector<TSlot> FSlots;  // a power of two in size, or empty
  std::size_t FCount = 0;
  std::size_t FMask = 0;
  int FShift = 64;  // 64 - log2(slots): the top bits of the mixed number pick the home slot
};

}  // namespace kura
