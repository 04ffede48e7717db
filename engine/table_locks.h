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
//   .IDX      4 294 901 759             65 536   index write lock
//   .IDX      4 294 967 295 - s         1        one reader's read slot, s = 1 .. 65 535
//   .BLB      4 294 901 759             65 536   BLOB write lock
//   .BLB      4 294 967 295 - s         1        one reader's read slot on the BLOB file
//
// The write range covers every read slot: a writer excludes all readers and any reader
// excludes the writer, while readers exclude each other only when they drew the same slot
// (the later one then draws again).
//
// Waiting. The table byte, the write ranges and the read slots are tried up to 32 767 times
// with 3 ms between tries; record locks once and then up to the session's LockRetryCount more
// times with LockWaitTime ms between tries. Tests shorten the waits through TLockRetryRules
// (the pause can be replaced by one that only counts); the defaults are never changed.
#pragma once

#include <cstdint>
#include <functional>

namespace kura {

inline constexpr std::int64_t kTableLockPosition = 4294967295;
inline constexpr std::int64_t kRecordLockBase = 4294967294;  // record n at base - n
inline constexpr std::int32_t kMaxLockableRecord = 200000000;
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
