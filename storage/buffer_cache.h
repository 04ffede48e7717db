// The cache machinery shared by the three files of a table: cached record images of the data
// file, cached index pages of the index file (one cache per index slot) and cached BLOB blocks
// of the BLOB file.
//
// CONTRACT (read this before building a cache on it)
//
// Entries. An entry type derives from TCacheEntry (the common part: owner, changed flag, pin
// count, number and the links of the most-recently-used chain) and adds its own data. It must
// have a `void Clear()` that empties its data for a new number (the common part is reset by
// the cache, not by Clear). Entries are numbered from 1; 0 means "none" and is never cached.
//
// Pools. A TCachePool<T> belongs to one file handler and makes entries through the factory it
// is given (so a record pool makes records of the file's record size). It keeps at most its
// limit of unused entries (kRecordPoolLimit, kPagePoolLimit, kBlockPoolLimit); an entry given
// back to a full pool is destroyed. Several caches of one handler may share its pool (the 33
// page caches of an index file). The pool must outlive its caches.
//
// Caches. A TBufferCache<T> keeps its entries in a list sorted by number and in a
// most-recently-used chain (head = most recent). Lookup scans the first ChainScan entries of
// the chain (4 for records and blocks, 2 for pages), then binary-searches the list.
// - Find(n): a hit moves the entry to the head of the chain, pins it and counts a hit; a miss
//   answers nullptr and counts a read (the caller then reads from its file).
// - MakeEntry(n): a new, cleared entry for a number that is not cached, pinned, at the head.
//   When the cache is at capacity it makes room: (1) the least recently used entry that is
//   neither changed nor pinned is reused; (2) failing that, and unless the table lock is held
//   (the table supplies that answer through SetTableLockQuery; while a transaction holds the
//   lock its changes stay in memory), every changed unpinned entry is written back through the
//   owner's write-back callback and the walk is repeated; (3) failing that, the capacity grows
//   by the growth step and a fresh entry comes from the pool.
// - InsertReadAhead(n): for an entry read along with a miss. An uncached number gets a new
//   unpinned entry at the head of the chain, but only if room can be made by steps (1) and (2):
//   read-ahead never grows the cache. A cached entry that is neither pinned nor changed is
//   answered for the caller to refresh; a pinned or changed one, or no room, answers nullptr
//   and the caller drops that part of the read.
// - The common fields (Changed, PinCount, Number, links) change only through the cache's
//   methods: the cache keeps its evictable entries in recency order, so that finding the least
//   recently used one never walks a chain full of pinned or changed entries.
// - Release(e) unpins (never below 0). Pin(e) pins again. Touch(e) makes a cached entry the
//   most recent without pinning it. Peek(n) looks without pinning, moving or counting. The caller
//   that changes an entry's data calls MarkChanged(e) (a changed entry is never evicted).
// - WriteBack(): the changed, unpinned entries in number order, handed to the write-back
//   callback one run of consecutive numbers per call; after each successful call the entries of
//   that run are unchanged. If the callback raises, that run and the later ones stay changed
//   and the error propagates. Pinned entries are never written.
// - Trim(): evicts unchanged, unpinned entries from the least recently used end until no more
//   than the target capacity remain; the capacity becomes max(count, target).
// - Discard(): every entry leaves the cache whatever its state (another process changed the
//   file, or a rollback). Unpinned entries go back to the pool at once. A pinned entry is only
//   detached: its holder may still read it and must still Release it, and it goes back to the
//   pool on its last Release (so no holder is left with a freed entry).
// - Remove(e): the same for one entry.
// Every failure of the cache's own bookkeeping (a number already cached or not positive, an
// entry that is not this cache's, a pin count past 65535) raises the cache's corrupt-buffers
// code (8962 records, 8965 pages, 8963 blocks) with the owner's name.
//
// Capacities. SetCapacity(n) sets both the capacity and the target capacity (done when the
// file is opened); growth raises only the capacity, Trim brings it back. The helpers below
// compute the sizes of the three caches from the session's fixed budgets.
//
// Threads: one thread per table object at a time, as for the table itself.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"

namespace kura {

class TFileHandler;

// --- Sizes --------------------------------------------------------------------------------

// Unused objects kept per file handler.
inline constexpr std::size_t kRecordPoolLimit = 64;
inline constexpr std::size_t kPagePoolLimit = 4;
inline constexpr std::size_t kBlockPoolLimit = 32;

// Entries of the most-recently-used chain compared before the binary search.
inline constexpr std::size_t kRecordChainScan = 4;
inline constexpr std::size_t kPageChainScan = 2;
inline constexpr std::size_t kBlockChainScan = 4;

// Growth of a cache that is full of pinned or changed entries.
inline constexpr std::size_t kRecordCacheGrowth = 64;
inline constexpr std::size_t kPageCacheGrowth = 4;
inline constexpr std::size_t kBlockCacheGrowth = 32;

// The session's fixed buffer budgets.
inline constexpr std::size_t kRecordBufferBytes = 16384;
inline constexpr std::size_t kRecordBufferMaxCount = 8192;
inline constexpr std::size_t kIndexBufferBytes = 16384;
inline constexpr std::size_t kIndexPageSize = 8192;
inline constexpr std::size_t kBlobBufferBytes = 32768;
inline constexpr std::size_t kBlobBufferMaxCount = 8192;

// Bytes read at once on a miss: about 8 KB of records, 16 KB of BLOB blocks.
inline constexpr std::size_t kRecordReadAheadBytes = 8192;
inline constexpr std::size_t kBlockReadAheadBytes = 16384;

// Record cache: min(16384 div record size, 8192) entries (163 for records of 100 bytes).
constexpr std::size_t RecordCacheCapacity(std::size_t recordSize) {
  return recordSize == 0 ? kRecordBufferMaxCount
                         : std::min(kRecordBufferBytes / recordSize, kRecordBufferMaxCount);
}
// Records read in one run on a miss: max(1, 8192 div record size).
constexpr std::size_t RecordReadAheadCount(std::size_t recordSize) {
  return recordSize == 0 ? 1 : std::max<std::size_t>(1, kRecordReadAheadBytes / recordSize);
}
// Page cache of one index: 16384 div 8192 = 2 pages.
constexpr std::size_t PageCacheCapacity() {
  return kIndexBufferBytes / kIndexPageSize;
}
// BLOB block cache: min(32768 div block size, 8192) entries.
constexpr std::size_t BlockCacheCapacity(std::size_t blockSize) {
  return blockSize == 0 ? kBlobBufferMaxCount
                        : std::min(kBlobBufferBytes / blockSize, kBlobBufferMaxCount);
}
// Blocks read in one run on a miss: max(1, 16384 div block size).
constexpr std::size_t BlockReadAheadCount(std::size_t blockSize) {
  return blockSize == 0 ? 1 : std::max<std::size_t>(1, kBlockReadAheadBytes / blockSize);
}

// --- Entries ------------------------------------------------------------------------------

struct TCacheEntry;
// A cache's evictable entries by recency stamp, least recent first.
using TEvictableSet = std::set<std::pair<std::uint64_t, TCacheEntry*>>;

// The part every cached record, page and block shares. The cache owns these fields; an owner
// reads them and changes its own data only.
struct TCacheEntry {
  TCacheEntry() = default;
  virtual ~TCacheEntry() = default;
  TCacheEntry(const TCacheEntry&) = delete;
  TCacheEntry& operator=(const TCacheEntry&) = delete;

  bool Pinned() const { return PinCount > 0; }

  TFileHandler* Owner = nullptr;   // the file handler whose cache holds the entry
  bool Changed = false;            // to be written back before it may be evicted
  std::uint16_t PinCount = 0;      // current users; a pinned entry is never evicted or written
  std::int32_t Number = 0;         // record, page or block number, 1-based
  TCacheEntry* MruPrev = nullptr;  // towards the head (more recently used)
  TCacheEntry* MruNext = nullptr;  // towards the tail (less recently used)
  bool Detached = false;           // discarded while pinned; gone on its last release
  std::uint64_t Recency = 0;       // when it last became the head of the chain
  // Where the entry sits in its cache's evictable set, valid while Tracked: the set is
  // updated on every pin and release, and erasing by position spares a search of it.
  bool Tracked = false;
  TEvictableSet::iterator EvictableAt;
};

template <typename T>
concept CacheEntryType = std::derived_from<T, TCacheEntry> && requires(T& entry) {
  entry.Clear();
};

// --- Pool ---------------------------------------------------------------------------------

template <CacheEntryType TEntry>
class TCachePool {
 public:
  using TFactory = std::function<std::unique_ptr<TEntry>()>;

  TCachePool(std::size_t limit, TFactory factory) : FLimit(limit), FFactory(std::move(factory)) {}

  // A pooled entry, or a fresh one from the factory. Its common part is reset; its data is
  // whatever it held (the cache clears it before use).
  std::unique_ptr<TEntry> Take() {
    std::unique_ptr<TEntry> entry;
    if (FFree.empty()) {
      entry = FFactory();
    } else {
      entry = std::move(FFree.back());
      FFree.pop_back();
    }
    ResetCommonPart(*entry);
    return entry;
  }

  // Keeps the entry for reuse, or destroys it when the pool already holds its limit.
  void Give(std::unique_ptr<TEntry> entry) {
    if (entry && FFree.size() < FLimit) FFree.push_back(std::move(entry));
  }

  // Replaces the factory (the file's entries changed size) and destroys the pooled entries,
  // which were made by the old one.
  void SetFactory(TFactory factory) {
    FFactory = std::move(factory);
    FFree.clear();
  }

  void Clear() { FFree.clear(); }
  std::size_t Size() const { return FFree.size(); }
  std::size_t Limit() const { return FLimit; }

 private:
  static void ResetCommonPart(TEntry& entry) {
    entry.Changed = false;
    entry.PinCount = 0;
    entry.Number = 0;
    entry.MruPrev = nullptr;
    entry.MruNext = nullptr;
    entry.Detached = false;
  }

  std::size_t FLimit;
  TFactory FFactory;
  std::vector<std::unique_ptr<TEntry>> FFree;
};

// --- Cache --------------------------------------------------------------------------------

struct TCacheSettings {
  std::size_t ChainScan = kRecordChainScan;
  std::size_t GrowthStep = kRecordCacheGrowth;
  std::uint16_t CorruptCode = codes::kRecordBuffersCorrupt;
  TFileHandler* Owner = nullptr;
  std::string OwnerName;  // named in the errors the cache raises
};

template <CacheEntryType TEntry>
class TBufferCache {
 public:
  // Writes one run of changed entries with consecutive numbers, lowest first.
  using TWriteRun = std::function<void(std::span<TEntry* const> run)>;
  // Answers true while the table lock is held (changes must then stay in memory).
  using TLockQuery = std::function<bool()>;

  TBufferCache(TCachePool<TEntry>& pool, TCacheSettings settings)
      : FPool(pool), FSettings(std::move(settings)) {}
  // Destroys every entry, detached ones included (their holders must be gone by then).
  ~TBufferCache() = default;
  TBufferCache(const TBufferCache&) = delete;
  TBufferCache& operator=(const TBufferCache&) = delete;

  void SetWriteBack(TWriteRun writeRun) { FWriteRun = std::move(writeRun); }
  void SetTableLockQuery(TLockQuery query) { FTableLockHeld = std::move(query); }
  void SetOwnerName(std::string name) { FSettings.OwnerName = std::move(name); }

  // Sets the capacity and the target capacity (at least the current entry count).
  void SetCapacity(std::size_t capacity) {
    FTarget = capacity;
    FCapacity = std::max(capacity, FEntries.size());
  }
  std::size_t Capacity() const { return FCapacity; }
  std::size_t TargetCapacity() const { return FTarget; }
  std::size_t Count() const { return FEntries.size(); }
  std::size_t DetachedCount() const { return FDetached.size(); }
  std::uint64_t HitCount() const { return FHits; }
  std::uint64_t ReadCount() const { return FReads; }
  void ResetCounters() { FHits = FReads = 0; }
  const TCacheSettings& Settings() const { return FSettings; }

  // The pinned entry of number n (now the most recent), or nullptr after counting a read.
  TEntry* Find(std::int32_t number) {
    TEntry* entry = Lookup(number);
    if (entry == nullptr) {
      ++FReads;
      return nullptr;
    }
    ++FHits;
    // Pinned first, so that the move to the head leaves the evictable set alone.
    Pin(entry);
    MoveToHead(entry);
    return entry;
  }

  // The entry of number n without pinning, moving or counting; nullptr when not cached.
  TEntry* Peek(std::int32_t number) const { return Lookup(number); }

  // A new cleared entry for an uncached number, pinned, at the head of the chain.
  TEntry* MakeEntry(std::int32_t number) {
    CheckNewNumber(number);
    std::unique_ptr<TEntry> entry = TakeRoom(true);
    return Install(std::move(entry), number, true);
  }

  // See the contract at the top: a new unpinned entry, an unpinned unchanged cached entry to
  // refresh, or nullptr when the caller must drop this part of its read.
  TEntry* InsertReadAhead(std::int32_t number) {
    if (number <= 0) Raise();
    if (TEntry* cached = Lookup(number)) {
      return cached->Pinned() || cached->Changed ? nullptr : cached;
    }
    std::unique_ptr<TEntry> entry = TakeRoom(false);
    if (!entry) return nullptr;
    return Install(std::move(entry), number, false);
  }

  void Pin(TEntry* entry) {
    if (entry->PinCount == UINT16_MAX) Raise();
    Untrack(entry);
    ++entry->PinCount;
  }

  // Unpins; a detached entry goes back to the pool on its last release.
  void Release(TEntry* entry) {
    if (entry->PinCount > 0) {
      --entry->PinCount;
      Track(entry);
    }
    if (entry->Detached && entry->PinCount == 0) {
      auto it = std::find_if(FDetached.begin(), FDetached.end(),
                             [entry](const auto& held) { return held.get() == entry; });
      if (it == FDetached.end()) Raise();
      std::unique_ptr<TEntry> owned = std::move(*it);
      FDetached.erase(it);
      FPool.Give(std::move(owned));
    }
  }

  void MarkChanged(TEntry* entry) {
    Untrack(entry);
    entry->Changed = true;
  }

  // Makes a cached entry the most recently used without pinning it or counting anything.
  void Touch(TEntry* entry) { MoveToHead(entry); }

  // Writes the changed unpinned entries, one callback call per run of consecutive numbers.
  void WriteBack() {
    if (!FWriteRun) return;
    std::vector<TEntry*> run;
    for (const auto& held : FEntries) {
      TEntry* entry = held.get();
      if (!entry->Changed || entry->Pinned()) continue;
      if (!run.empty() && run.back()->Number + 1 != entry->Number) WriteRun(run);
      run.push_back(entry);
    }
    if (!run.empty()) WriteRun(run);
  }

  // Whether any entry is changed (pinned or not).
  bool HasChanges() const {
    return std::any_of(FEntries.begin(), FEntries.end(),
                       [](const auto& held) { return held->Changed; });
  }

  // Evicts unchanged unpinned entries from the least recently used end down to the target.
  void Trim() {
    TEntry* entry = Cast(FTail);
    while (entry != nullptr && FEntries.size() > FTarget) {
      TEntry* previous = Cast(entry->MruPrev);
      if (!entry->Changed && !entry->Pinned()) FPool.Give(Unlink(entry));
      entry = previous;
    }
    FCapacity = std::max(FEntries.size(), FTarget);
  }

  // Every entry leaves the cache; pinned ones are detached until their last release.
  void Discard() {
    while (FHead != nullptr) Remove(Cast(FHead));
  }

  // One entry leaves the cache (detached while pinned).
  void Remove(TEntry* entry) {
    std::unique_ptr<TEntry> owned = Unlink(entry);
    if (owned->Pinned()) {
      owned->Detached = true;
      FDetached.push_back(std::move(owned));
    } else {
      FPool.Give(std::move(owned));
    }
  }

  // Calls visit(entry) for every cached entry in number order.
  template <typename TVisit>
  void ForEach(TVisit visit) const {
    for (const auto& held : FEntries) visit(held.get());
  }

  // Entries from the head of the chain (most recent) to its tail.
  std::vector<TEntry*> ChainOrder() const {
    std::vector<TEntry*> order;
    for (TCacheEntry* e = FHead; e != nullptr; e = e->MruNext) order.push_back(Cast(e));
    return order;
  }

  // Checks the cache's invariants; answers an empty string when they hold, else the first
  // broken one:
  //   1. the list is sorted by strictly increasing positive numbers;
  //   2. the chain holds exactly the listed entries, its links agree both ways;
  //   3. count <= capacity and target <= capacity;
  //   4. no listed entry is detached, every detached entry is pinned;
  //   5. every entry's owner is the cache's owner;
  //   6. the evictable entries (listed, unchanged, unpinned) are exactly those of the set kept
  //      in recency order, and the chain runs from the most recent stamp to the least.
  std::string CheckInvariants() const {
    for (std::size_t i = 0; i < FEntries.size(); ++i) {
      if (FEntries[i]->Number <= 0) return "1: number not positive";
      if (i > 0 && FEntries[i - 1]->Number >= FEntries[i]->Number) return "1: list not sorted";
      if (FEntries[i]->Detached) return "4: listed entry detached";
      if (FEntries[i]->Owner != FSettings.Owner) return "5: wrong owner";
    }
    std::size_t chained = 0;
    const TCacheEntry* previous = nullptr;
    for (const TCacheEntry* e = FHead; e != nullptr; e = e->MruNext) {
      if (e->MruPrev != previous) return "2: chain links disagree";
      if (Lookup(e->Number) != e) return "2: chained entry not listed";
      if (++chained > FEntries.size()) return "2: chain longer than list";
      previous = e;
    }
    if (previous != FTail) return "2: tail wrong";
    if (chained != FEntries.size()) return "2: chain shorter than list";
    if (FEntries.size() > FCapacity) return "3: count above capacity";
    const auto evictable = std::count_if(FEntries.begin(), FEntries.end(), [](const auto& held) {
      return !held->Changed && !held->Pinned();
    });
    if (static_cast<std::size_t>(evictable) != FEvictable.size()) return "6: evictable set wrong";
    for (const auto& [recency, entry] : FEvictable) {
      if (!Evictable(Cast(entry)) || entry->Recency != recency || !entry->Tracked) {
        return "6: evictable set wrong";
      }
    }
    for (const TCacheEntry* e = FHead; e != nullptr && e->MruNext != nullptr; e = e->MruNext) {
      if (e->Recency <= e->MruNext->Recency) return "6: chain not in recency order";
    }
    if (FTarget > FCapacity) return "3: target above capacity";
    for (const auto& held : FDetached) {
      if (!held->Detached || !held->Pinned()) return "4: detached entry not pinned";
    }
    return {};
  }

 private:
  static TEntry* Cast(TCacheEntry* entry) { return static_cast<TEntry*>(entry); }

  [[noreturn]] void Raise() const { RaiseTableError(FSettings.CorruptCode, FSettings.OwnerName); }

  void CheckNewNumber(std::int32_t number) const {
    if (number <= 0 || Lookup(number) != nullptr) Raise();
  }

  // Index in the sorted list of the first entry whose number is not below n.
  std::size_t LowerBound(std::int32_t number) const {
    auto it = std::lower_bound(
        FEntries.begin(), FEntries.end(), number,
        [](const std::unique_ptr<TEntry>& held, std::int32_t n) { return held->Number < n; });
    return static_cast<std::size_t>(it - FEntries.begin());
  }

  TEntry* Lookup(std::int32_t number) const {
    std::size_t scanned = 0;
    for (TCacheEntry* e = FHead; e != nullptr && scanned < FSettings.ChainScan;
         e = e->MruNext, ++scanned) {
      if (e->Number == number) return Cast(e);
    }
    std::size_t index = LowerBound(number);
    if (index < FEntries.size() && FEntries[index]->Number == number) {
      return FEntries[index].get();
    }
    return nullptr;
  }

  // An entry to use for a new number: a fresh one while below capacity, else the steps of
  // the contract. Answers nullptr only when growing is not allowed.
  std::unique_ptr<TEntry> TakeRoom(bool mayGrow) {
    if (FEntries.size() < FCapacity) return FPool.Take();
    if (TEntry* victim = LeastRecentClean()) return Unlink(victim);
    if (FWriteRun && !(FTableLockHeld && FTableLockHeld())) {
      WriteBack();
      if (TEntry* victim = LeastRecentClean()) return Unlink(victim);
    }
    if (!mayGrow) return nullptr;
    FCapacity += std::max<std::size_t>(FSettings.GrowthStep, 1);
    return FPool.Take();
  }

  // Whether a listed entry may be evicted as it is.
  static bool Evictable(const TEntry* entry) {
    return !entry->Detached && !entry->Changed && entry->PinCount == 0;
  }

  // The entry a walk of the chain from its tail would find first that is neither changed nor
  // pinned: the evictable entry of the oldest recency stamp, found without the walk.
  TEntry* LeastRecentClean() const {
    return FEvictable.empty() ? nullptr : Cast(FEvictable.begin()->second);
  }

  // An entry is mostly tracked just after it became the head of the chain, so its stamp is
  // usually the newest: the hint at the end then makes the insertion constant time.
  void Track(TEntry* entry) {
    if (!Evictable(entry)) return;
    Untrack(entry);
    entry->EvictableAt = FEvictable.emplace_hint(FEvictable.end(), entry->Recency, entry);
    entry->Tracked = true;
  }
  void Untrack(TEntry* entry) {
    if (!entry->Tracked) return;
    FEvictable.erase(entry->EvictableAt);
    entry->Tracked = false;
  }

  TEntry* Install(std::unique_ptr<TEntry> entry, std::int32_t number, bool pinned) {
    entry->Clear();
    entry->Owner = FSettings.Owner;
    entry->Changed = false;
    entry->Detached = false;
    entry->Number = number;
    entry->PinCount = pinned ? 1 : 0;
    entry->Recency = ++FClock;
    TEntry* raw = entry.get();
    Track(raw);
    FEntries.insert(FEntries.begin() + static_cast<std::ptrdiff_t>(LowerBound(number)),
                    std::move(entry));
    raw->MruPrev = nullptr;
    raw->MruNext = FHead;
    if (FHead != nullptr) FHead->MruPrev = raw;
    FHead = raw;
    if (FTail == nullptr) FTail = raw;
    return raw;
  }

  // Takes the entry out of the list and the chain; raises when it is not this cache's.
  std::unique_ptr<TEntry> Unlink(TEntry* entry) {
    std::size_t index = LowerBound(entry->Number);
    if (index >= FEntries.size() || FEntries[index].get() != entry) Raise();
    Untrack(entry);
    std::unique_ptr<TEntry> owned = std::move(FEntries[index]);
    FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(index));
    if (entry->MruPrev != nullptr) entry->MruPrev->MruNext = entry->MruNext;
    if (entry->MruNext != nullptr) entry->MruNext->MruPrev = entry->MruPrev;
    if (FHead == entry) FHead = entry->MruNext;
    if (FTail == entry) FTail = entry->MruPrev;
    entry->MruPrev = entry->MruNext = nullptr;
    return owned;
  }

  void MoveToHead(TEntry* entry) {
    if (FHead == entry) return;
    Untrack(entry);
    entry->Recency = ++FClock;
    Track(entry);
    entry->MruPrev->MruNext = entry->MruNext;
    if (entry->MruNext != nullptr) {
      entry->MruNext->MruPrev = entry->MruPrev;
    } else {
      FTail = entry->MruPrev;
    }
    entry->MruPrev = nullptr;
    entry->MruNext = FHead;
    FHead->MruPrev = entry;
    FHead = entry;
  }

  void WriteRun(std::vector<TEntry*>& run) {
    FWriteRun(std::span<TEntry* const>(run.data(), run.size()));
    for (TEntry* entry : run) {
      entry->Changed = false;
      Track(entry);
    }
    run.clear();
  }

  TCachePool<TEntry>& FPool;
  TCacheSettings FSettings;
  TWriteRun FWriteRun;
  TLockQuery FTableLockHeld;
  std::vector<std::unique_ptr<TEntry>> FEntries;   // sorted by number
  std::vector<std::unique_ptr<TEntry>> FDetached;  // discarded while pinned
  TCacheEntry* FHead = nullptr;
  TCacheEntry* FTail = nullptr;
  std::size_t FCapacity = 0;
  std::size_t FTarget = 0;
  // Listed entries neither changed nor pinned, least recent first.
  TEvictableSet FEvictable;
  std::uint64_t FClock = 0;  // recency stamps
  std::uint64_t FHits = 0;
  std::uint64_t FReads = 0;
};

}  // namespace kura
