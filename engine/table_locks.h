// Where a table's locks lie and how long they are waited for.
//
// Every lock is an operating system byte-range lock far beyond the end of the table files
// (nothing ever reads or writes there); the share byte of the file layer (2^32) lies above
// them all.
//
//   FILE      POSITION                  LENGTH   LOCK
//   .DAT      4 294 967 295             1        table lock: an explicit table lock, every
//                                                table in a transaction, and every writer
//   .DAT      4 294 967 294 - n         1        record n, 1 <= n <= 200 000 000
//   .DAT      4 094 967 294             200 M    every record at once (below): the bytes of
//                                                records 200 000 000 down to 1
//   .IDX      4 294 901 759             65 536   index write lock
//   .IDX      4 294 967 295 - s         1        one reader's read slot, s = 1 .. 65 535
//   .BLB      4 294 901 759             65 536   BLOB write lock
//   .BLB      4 294 967 295 - s         1        one reader's read slot on the BLOB file
//
// The write range covers every read slot: a writer excludes all readers and any reader
// excludes the writer, while readers exclude each other only when they drew the same slot
// (the later one then draws again).
//
// Many record locks. Under the table lock (a transaction, or an explicit table lock) record
// locks are not given back before the table lock goes, so a transaction that changes N
// records would hold N one-byte locks, and the system checks every new lock against every
// lock of the open file: O(N^2) for records that are not neighbours. So once a table object
// holding the table lock holds kRecordRangeThreshold record locks, it tries one lock over the
// whole record range instead, which takes over its single locks (they are never free
// meanwhile); from then on the records it locks are only noted in its list. The system grants
// the range only when no other process holds a record lock of the table (nor another table
// object of this process: the file layer refuses to take over a lock the object does not
// own). Refused, the object goes on with single locks and tries again when it holds twice as
// many. The range goes when the table lock goes; records a cursor still holds then (an edit
// in progress) keep their single locks without a moment in which they are free.
// Why it is safe: every record the object locked lies inside the range, so every other process
// still gets "in use" (10258) for each of them, and no lock byte lies outside the record range
// of the layout above. Records the object did not lock are refused to others too while the
// range is held; they could not be changed anyway, since the table byte keeps every other
// writer out for as long as the table lock is held.
//
// Waiting. The table byte, the write ranges and the read slots are tried up to 32 767 times
// with 3 ms between tries; record locks once and then up to the session's LockRetryCount more
// times with LockWaitTime ms between tries. Tests shorten the waits through TLockRetryRules
// (the pause can be replaced by one that only counts); the defaults are never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kura {

inline constexpr std::int64_t kTableLockPosition = 4294967295;
inline constexpr std::int64_t kRecordLockBase = 4294967294;  // record n at base - n
inline constexpr std::int32_t kMaxLockableRecord = 200000000;
// Every record byte at once: records 200 000 000 .. 1.
inline constexpr std::int64_t kRecordRangeStart = kRecordLockBase - kMaxLockableRecord;
inline constexpr std::int64_t kRecordRangeLength = kMaxLockableRecord;
// Record locks held under the table lock before the whole record range is tried.
inline constexpr std::size_t kRecordRangeThreshold = 128;
inline constexpr std::int64_t kWriteRangeStart = 4294901759;
inline constexpr std::int64_t kWriteRangeLength = 65536;
inline constexpr std::int64_t kReadSlotBase = 4294967295;  // slot s at base - s
inline constexpr std::uint16_t kMaxReadSlot = 65535;

inline constexpr std::uint32_t kFixedLockTries = 32767;
inline constexpr std::uint32_t kFixedLockPauseMs = 3;

// The byte of record n (1 .. 200 000 000).
constexpr std::int64_t RecordLockPosition(std::int32_t n) {
  return kRecordLockBase - n;
}
// The byte of read slot s (1 .. 65 535).
constexpr std::int64_t ReadSlotPosition(std::uint16_t s) {
  return kReadSlotBase - s;
}

// The retry rules of the fixed locks and the pause between tries.
struct TLockRetryRules {
  std::uint32_t FixedTries = kFixedLockTries;
  std::uint32_t FixedPauseMs = kFixedLockPauseMs;
  // Waits the given milliseconds; empty: the thread sleeps.
  std::function<void(std::uint32_t ms)> Pause;

  void Wait(std::uint32_t ms) const;
};

// Calls attempt until it answers true, at most tries times, waiting pauseMs between two
// calls; answers whether an attempt succeeded. A tries of 0 still makes one attempt.
bool TryRepeatedly(const TLockRetryRules& rules, std::uint32_t tries, std::uint32_t pauseMs,
                   const std::function<bool()>& attempt);

}  // namespace kura
