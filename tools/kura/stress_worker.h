// One worker process of `kura stress`: its own session, directory and cursors on the stress
// table, a random mix of changes and reads drawn from a fixed seed, and a journal line for
// every change the engine acknowledged.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "tools/kura/table_stress.h"

namespace kura::tool {

// The answers that refuse a change without a fault: the record is locked elsewhere (10258),
// it changed meanwhile (8708), a duplicate key (9729), a table lock not obtained (10249).
inline constexpr std::uint16_t kStressRefusalCodes[] = {10258, 8708, 9729, 10249};
inline constexpr int kStressRefusalKinds = 4;

// The counters of one worker, kept in memory the parent shares (lock-free atomics), so that
// the parent shows progress while the workers run.
struct TStressCounters {
  std::atomic<std::uint64_t> Inserts{0};
  std::atomic<std::uint64_t> Edits{0};
  std::atomic<std::uint64_t> KeyEdits{0};
  std::atomic<std::uint64_t> Deletes{0};
  std::atomic<std::uint64_t> BlobWrites{0};
  std::atomic<std::uint64_t> Reads{0};
  // Attempts to lock the row read the time before (held through one more operation).
  std::atomic<std::uint64_t> Locks{0};
  std::atomic<std::uint64_t> Refused[kStressRefusalKinds] = {};
  std::atomic<std::uint64_t> Operations{0};
  std::atomic<std::uint64_t> Failures{0};
};

// What a worker starts from: its number and the next ID and BLOB tag sequence numbers of its
// band (after the rows a reused table holds).
struct TStressStart {
  int Process = 0;
  std::int32_t NextSequence = 1;
  std::int32_t NextTag = 1;
};

std::string StressJournalName(const std::string& dir, int process);

// Runs the worker to the end of its operations or time; answers 0, or 1 after a fault (a
// failure of the engine or a read that contradicts what the worker wrote), described on err.
int RunStressWorker(const TStressOptions& options, const TStressStart& start,
                    TStressCounters& counters, std::ostream& err);

}  // namespace kura::tool
