// `kura stress`: several processes changing one table at once under the locking protocol,
// each journaling what the engine acknowledged; afterwards the table must hold exactly the
// journaled state and pass every structure check.
//
// THE TABLE "STRESS" (created in the directory, or reused with the rows it holds):
//   1 ID      integer      primary index (unique)
//   2 CODE    string 12    "ByCode", unique; always "C" followed by the ID
//   3 GRP     string 8     "ByGroup", not unique; "G0" .. "G9"
//   4 VER     integer      the number of changes of the row
//   5 BLOBTAG integer      names the contents of NOTE (stress_journal.h), 0 for none
//   6 NOTE    memo
// Worker p (0-based) owns the IDs and BLOB tags (p + 1) * 10 000 000 + 1 ...; other workers
// only read its rows and briefly lock them, so that each row's final state follows from its
// owner's journal alone.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "storage/file_list.h"

namespace kura::tool {

inline constexpr const char* kStressTableName = "STRESS";
inline constexpr int kStressMaxProcs = 64;
inline constexpr std::int64_t kStressMaxOps = 1000000;
inline constexpr std::int32_t kStressBand = 10000000;

struct TStressOptions {
  std::string Dir;
  int Procs = 4;
  std::int64_t Ops = 10000;  // per process
  double Seconds = 0;        // 0: no time limit
  std::uint32_t Seed = 1;
};

// Runs the whole stress test: answers 0 when every check holds, 1 otherwise. Progress goes to
// err once a second, the summary to out.
int RunStress(const TStressOptions& options, std::ostream& out, std::ostream& err,
              TFileList& list = FileList());

}  // namespace kura::tool
