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
// Caches. A TBufferCache<T> keeps its entries in a hash table by number and in a
// most-recently-used chain (head = most recent). Lookup scans the first ChainScan entries of
// the chain (4 for records and blocks, 2 for pages), then asks the table. Besides, the
// entries neither changed nor pinned are on an evictable list in recency order and the changed
// ones on a changed list, so that no operation walks the whole cache: a transaction's cache of
// every record of a large table stays as fast as a small one.
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
//   methods, which keep the two lists, with one exception: an owner may set Changed itself
//   on an entry it holds pinned (a page changes through its own setters); the release puts
//   the entry on the changed list, and until then it counts for neither HasChanges nor
//   WriteBack (which never writes pinned entries anyway).
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
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/cache_entry_table.h"

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

// Record cache: min(budget div record size, most) entries; with the session's usual budget
// min(16384 div record size, 8192) (163 for records of 100 bytes).
constexpr std::size_t RecordCacheCapacity(std::size_t recordSize,
                                          std::size_t budget = kRecordBufferBytes,
                                          std::size_t most = kRecordBufferMaxCount) {
  return recordSize == 0 ? most : std::min(budget / recordSize, most);
}
// Records read in one run on a miss: max(1, 8192 div record size).
constexpr std::size_t RecordReadAheadCount(std::size_t recordSize) {
  return recordSize == 0 ? 1 : std::max<std::size_t>(1, kRecordReadAheadBytes / recordSize);
}
// Page cache of one index: budget div 8192; with the usual budget 16384 div 8192 = 2 pages.
constexpr std::size_t PageCacheCapacity(std::size_t budget = kIndexBufferBytes) {
  return budget / kIndexPageSize;
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

// The part every cached record, page and block shares. The cache owns these fields; an owner
// reads them and changes its own data only.
struct TCacheEntry {
  TCacheEntry() = default;
  virtual ~TCacheEntry() = default;
  TCacheEntry(const TCacheEntry&) = delete;
  TCacheEntry& operator=(const TCacheEntry&) = delete;

  bool Pinned() const { return PinCount > 0; }

  // Which of its cache's two lists the entry is on: the evictable list (neither changed nor
  // pinned, least recent first) or the changed list; a clean pinned entry is on neither.
  enum class TList : std::uint8_t { None, Evictable, Changed };

  TFileHandler* Owner = nullptr;   // the file handler whose cache holds the entry
  bool Changed = false;            // to be written back before it may be evicted
  std::uint16_t PinCount = 0;      // current users; a pinned entry is never evicted or written
  std::int32_t Number = 0;         // record, page or block number, 1-based
  TCacheEntry* MruPrev = nullptr;  // towards the head (more recently used)
  TCacheEntry* MruNext = nullptr;  // towards the tail (less recently used)
  bool Detached = false;           // discarded while pinned; gone on its last release
  std::uint64_t Recency = 0;       // when it last became the head of the chain
  TList OnList = TList::None;
  TCacheEntry* ListPrev = nullptr;  // links on the list named by OnList
  TCacheEntry* ListNext = nullptr;
};

// An intrusive doubly linked list of cache entries through their List links.
class TCacheEntryList {
 public:
  TCacheEntry* Head() const { return FHead; }
  TCacheEntry* Tail() const { return FTail; }
  bool Empty() const { return FHead == nullptr; }
  std::size_t Size() const { return FSize; }

  // Puts a listless entry before `next` (at the end when next is nullptr).
  void InsertBefore(TCacheEntry* next, TCacheEntry* entry, TCacheEntry::TList kind) {
    TCacheEntry* previous = next != nullptr ? next->ListPrev : FTail;
    entry->ListPrev = previous;
    entry->ListNext = next;
    (previous != nullptr ? previous->ListNext : FHead) = entry;
    (next != nullptr ? next->ListPrev : FTail) = entry;
    entry->OnList = kind;
    ++FSize;
  }

  void Remove(TCacheEntry* entry) {
    (entry->ListPrev != nullptr ? entry->ListPrev->ListNext : FHead) = entry->ListNext;
    (entry->ListNext != nullptr ? entry->ListNext->ListPrev : FTail) = entry->ListPrev;
    entry->ListPrev = entry->ListNext = nullptr;
    entry->OnList = TCacheEntry::TList::None;
    --FSize;
  }

 private:
  TCacheEntry* FHead = nullptr;
  TCacheEntry* FTail = nullptr;
  std::size_t FSize = 0;
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
    entry.OnList = TCacheEntry::TList::None;
    entry.ListPrev = entry.ListNext = nullptr;
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
    FCapacity = std::max(capacity, FEntries.Size());
  }
  std::size_t Capacity() const { return FCapacity; }
  std::size_t TargetCapacity() const { return FTarget; }
  std::size_t Count() const { return FEntries.Size(); }
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
    // Pinned first, so that the move to the head leaves the evictable list alone.
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

  // Unpins; a detached entry goes back to the pool on its last release. An entry its owner
  // marked changed itself while holding it joins the changed list here.
  void Release(TEntry* entry) {
    if (entry->Changed && entry->OnList == TList::None && !entry->Detached) {
      FChanged.InsertBefore(nullptr, entry, TList::Changed);
    }
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
    if (entry->OnList == TCacheEntry::TList::Changed) return;
    Untrack(entry);
    entry->Changed = true;
    // A detached entry is no longer the cache's: nothing of it is ever written back.
    if (!entry->Detached) FChanged.InsertBefore(nullptr, entry, TCacheEntry::TList::Changed);
  }

  // Makes a cached entry the most recently used without pinning it or counting anything.
  void Touch(TEntry* entry) { MoveToHead(entry); }

  // Writes the changed unpinned entries, one callback call per run of consecutive numbers.
  void WriteBack() {
    if (!FWriteRun || FChanged.Empty()) return;
    // Numbers are sorted beside their entries: a sort that reads each entry's number through
    // its pointer misses the processor cache at every comparison on a large cache.
    std::vector<std::pair<std::int32_t, TEntry*>> numbered;
    for (TCacheEntry* e = FChanged.Head(); e != nullptr; e = e->ListNext) {
      if (!e->Pinned()) numbered.emplace_back(e->Number, Cast(e));
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<TEntry*> ready;
    ready.reserve(numbered.size());
    for (const auto& [number, entry] : numbered) ready.push_back(entry);
    std::vector<TEntry*> cleaned;
    try {
      std::size_t start = 0;
      for (std::size_t i = 0; i < ready.size(); ++i) {
        if (i + 1 < ready.size() && numbered[i + 1].first == numbered[i].first + 1) continue;
        WriteRun(std::span<TEntry* const>(ready.data() + start, i + 1 - start), cleaned);
        start = i + 1;
      }
    } catch (...) {
      TrackMany(cleaned);
      throw;
    }
    TrackMany(cleaned);
  }

  // Whether any entry is changed (pinned or not).
  bool HasChanges() const { return !FChanged.Empty(); }

  // Evicts unchanged unpinned entries from the least recently used end down to the target.
  void Trim() {
    TEntry* entry = Cast(FTail);
    while (entry != nullptr && FEntries.Size() > FTarget) {
      TEntry* previous = Cast(entry->MruPrev);
      if (!entry->Changed && !entry->Pinned()) FPool.Give(Unlink(entry));
      entry = previous;
    }
    FCapacity = std::max(FEntries.Size(), FTarget);
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

  // Calls visit(entry) for every cached entry in number order; visit may change an entry's
  // state (pin, release, mark it changed) but must not add or remove entries.
  template <typename TVisit>
  void ForEach(TVisit visit) const {
    for (TEntry* entry : NumberOrder()) visit(entry);
  }

  // Entries from the head of the chain (most recent) to its tail.
  std::vector<TEntry*> ChainOrder() const {
    std::vector<TEntry*> order;
    for (TCacheEntry* e = FHead; e != nullptr; e = e->MruNext) order.push_back(Cast(e));
    return order;
  }

  // Checks the cache's invariants; answers an empty string when they hold, else the first
  // broken one:
  //   1. every entry is held under its own positive number, and found by it;
  //   2. the chain holds exactly the held entries, its links agree both ways;
  //   3. count <= capacity and target <= capacity;
  //   4. no held entry is detached, every detached entry is pinned;
  //   5. every entry's owner is the cache's owner;
  //   6. the evictable list holds exactly the held entries neither changed nor pinned, least
  //      recent first, and the chain runs from the most recent stamp to the least;
  //   7. the changed list holds exactly the held changed entries, except pinned ones whose
  //      owner set Changed itself (listed on their release).
  std::string CheckInvariants() const {
    if (!FEntries.Consistent()) return "1: entry not held under its number";
    const std::vector<TEntry*> held = NumberOrder();
    for (const TEntry* entry : held) {
      if (entry->Number <= 0) return "1: number not positive";
      if (entry->Detached) return "4: held entry detached";
      if (entry->Owner != FSettings.Owner) return "5: wrong owner";
    }
    if (std::string broken = CheckChain(); !broken.empty()) return broken;
    if (FEntries.Size() > FCapacity) return "3: count above capacity";
    if (FTarget > FCapacity) return "3: target above capacity";
    if (std::string broken = CheckLists(held); !broken.empty()) return broken;
    for (const auto& detached : FDetached) {
      if (!detached->Detached || !detached->Pinned()) return "4: detached entry not pinned";
    }
    return {};
  }

 private:
  using TList = TCacheEntry::TList;

  static TEntry* Cast(TCacheEntry* entry) { return static_cast<TEntry*>(entry); }

  [[noreturn]] void Raise() const { RaiseTableError(FSettings.CorruptCode, FSettings.OwnerName); }

  void CheckNewNumber(std::int32_t number) const {
    if (number <= 0 || Lookup(number) != nullptr) Raise();
  }

  // The most recent entries are compared first: a file reads the same record, page or block
  // again and again.
  TEntry* Lookup(std::int32_t number) const {
    std::size_t scanned = 0;
    for (TCacheEntry* e = FHead; e != nullptr && scanned < FSettings.ChainScan;
         e = e->MruNext, ++scanned) {
      if (e->Number == number) return Cast(e);
    }
    return FEntries.Find(number);
  }

  std::vector<TEntry*> NumberOrder() const {
    std::vector<TEntry*> order;
    order.reserve(FEntries.Size());
    FEntries.Visit([&order](TEntry* entry) { order.push_back(entry); });
    std::sort(order.begin(), order.end(),
              [](const TEntry* a, const TEntry* b) { return a->Number < b->Number; });
    return order;
  }

  std::string CheckChain() const {
    std::size_t chained = 0;
    const TCacheEntry* previous = nullptr;
    for (const TCacheEntry* e = FHead; e != nullptr; e = e->MruNext) {
      if (e->MruPrev != previous) return "2: chain links disagree";
      if (FEntries.Find(e->Number) != e) return "2: chained entry not held";
      if (++chained > FEntries.Size()) return "2: chain longer than list";
      if (previous != nullptr && previous->Recency <= e->Recency) {
        return "6: chain not in recency order";
      }
      previous = e;
    }
    if (previous != FTail) return "2: tail wrong";
    if (chained != FEntries.Size()) return "2: chain shorter than list";
    return {};
  }

  std::string CheckLists(const std::vector<TEntry*>& held) const {
    std::size_t evictable = 0;
    std::size_t changed = 0;
    for (const TEntry* entry : held) {
      const TList expected = entry->Changed     ? TList::Changed
                             : Evictable(entry) ? TList::Evictable
                                                : TList::None;
      // An owner may set Changed on an entry it holds pinned: the release lists it.
      const bool changedWhilePinned =
          entry->Changed && entry->Pinned() && entry->OnList == TList::None;
      if (entry->OnList != expected && !changedWhilePinned) return "6: entry on the wrong list";
      evictable += entry->OnList == TList::Evictable ? 1 : 0;
      changed += entry->OnList == TList::Changed ? 1 : 0;
    }
    if (evictable != FEvictable.Size() || changed != FChanged.Size()) {
      return "6: list holds entries not cached";
    }
    if (std::string broken = CheckListLinks(FEvictable, TList::Evictable); !broken.empty()) {
      return broken;
    }
    return CheckListLinks(FChanged, TList::Changed);
  }

  std::string CheckListLinks(const TCacheEntryList& list, TList kind) const {
    std::size_t linked = 0;
    const TCacheEntry* previous = nullptr;
    for (const TCacheEntry* e = list.Head(); e != nullptr; e = e->ListNext) {
      if (e->ListPrev != previous || e->OnList != kind) return "6: list links disagree";
      if (FEntries.Find(e->Number) != e) return "6: listed entry not held";
      if (kind == TList::Evictable && previous != nullptr && previous->Recency >= e->Recency) {
        return "6: evictable list not in recency order";
      }
      if (++linked > list.Size()) return "6: list longer than its count";
      previous = e;
    }
    if (previous != list.Tail() || linked != list.Size()) return "6: list links disagree";
    return {};
  }

  // An entry to use for a new number: a fresh one while below capacity, else the steps of
  // the contract. Answers nullptr only when growing is not allowed.
  std::unique_ptr<TEntry> TakeRoom(bool mayGrow) {
    if (FEntries.Size() < FCapacity) return FPool.Take();
    if (TEntry* victim = LeastRecentClean()) return Unlink(victim);
    if (FWriteRun && !(FTableLockHeld && FTableLockHeld())) {
      WriteBack();
      if (TEntry* victim = LeastRecentClean()) return Unlink(victim);
    }
    if (!mayGrow) return nullptr;
    FCapacity += std::max<std::size_t>(FSettings.GrowthStep, 1);
    return FPool.Take();
  }

  // Whether a held entry may be evicted as it is.
  static bool Evictable(const TEntry* entry) {
    return !entry->Detached && !entry->Changed && entry->PinCount == 0;
  }

  // The entry a walk of the chain from its tail would find first that is neither changed nor
  // pinned: the head of the evictable list, found without the walk.
  TEntry* LeastRecentClean() const { return Cast(FEvictable.Head()); }

  // Puts an entry that became evictable on the evictable list by its stamp. It is nearly
  // always the newest (it was made the head of the chain when pinned), so the walk from the
  // newest end stops at once; it passes only the entries used since.
  void Track(TEntry* entry) {
    if (!Evictable(entry) || entry->OnList != TList::None) return;
    TCacheEntry* next = nullptr;
    for (TCacheEntry* e = FEvictable.Tail(); e != nullptr && e->Recency > entry->Recency;
         e = e->ListPrev) {
      next = e;
    }
    FEvictable.InsertBefore(next, entry, TList::Evictable);
  }

  // Puts many entries that became evictable at once (written back) on the evictable list: one
  // merge by stamp instead of a walk per entry.
  void TrackMany(const std::vector<TEntry*>& entries) {
    std::vector<std::pair<std::uint64_t, TEntry*>> stamped;
    stamped.reserve(entries.size());
    for (TEntry* entry : entries) {
      if (Evictable(entry) && entry->OnList == TList::None)
        stamped.emplace_back(entry->Recency, entry);
    }
    // Written back in number order, the entries of a load are mostly in stamp order already.
    if (!std::is_sorted(stamped.begin(), stamped.end())) std::sort(stamped.begin(), stamped.end());
    TCacheEntry* next = FEvictable.Head();
    for (const auto& [recency, entry] : stamped) {
      while (next != nullptr && next->Recency < recency) next = next->ListNext;
      FEvictable.InsertBefore(next, entry, TList::Evictable);
    }
  }

  void Untrack(TEntry* entry) {
    if (entry->OnList == TList::Evictable) FEvictable.Remove(entry);
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
    FEntries.Insert(std::move(entry));
    raw->MruPrev = nullptr;
    raw->MruNext = FHead;
    if (FHead != nullptr) FHead->MruPrev = raw;
    FHead = raw;
    if (FTail == nullptr) FTail = raw;
    Track(raw);
    return raw;
  }

  // Takes the entry out of the table, the chain and its list; raises when it is not this
  // cache's.
  std::unique_ptr<TEntry> Unlink(TEntry* entry) {
    if (entry->Number <= 0 || FEntries.Find(entry->Number) != entry) Raise();
    if (entry->OnList == TList::Evictable) FEvictable.Remove(entry);
    if (entry->OnList == TList::Changed) FChanged.Remove(entry);
    std::unique_ptr<TEntry> owned = FEntries.Extract(entry->Number);
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
    Track(entry);
  }

  // Hands one run to the callback; once it returned, the run's entries are clean (collected
  // in cleaned, to go on the evictable list together).
  void WriteRun(std::span<TEntry* const> run, std::vector<TEntry*>& cleaned) {
    FWriteRun(run);
    for (TEntry* entry : run) {
      FChanged.Remove(entry);
      entry->Changed = false;
      cleaned.push_back(entry);
    }
  }

  TCachePool<TEntry>& FPool;
  TCacheSettings FSettings;
  TWriteRun FWriteRun;
  TLockQuery FTableLockHeld;
  TCacheEntryTable<TEntry> FEntries;               // the cached entries by number
  std::vector<std::unique_ptr<TEntry>> FDetached;  // discarded while pinned
  TCacheEntry* FHead = nullptr;
  TCacheEntry* FTail = nullptr;
  std::size_t FCapacity = 0;
  std::size_t FTarget = 0;
  TCacheEntryList FEvictable;  // held entries neither changed nor pinned, least recent first
  TCacheEntryList FChanged;    // held changed entries, in the order they changed
  std::uint64_t FClock = 0;    // recency stamps
  std::uint64_t FHits = 0;
  std::uint64_t FReads = 0;
};

}  // namespace kura
