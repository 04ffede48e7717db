// Arbitrary bytes as a `kura stress` journal: replayed onto an empty table and compared with
// an empty one. Findings only (each naming the journal's line), never a crash, an escaping
// exception or an allocation driven by the numbers in the lines.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tools/kura/stress_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream journal(std::string(reinterpret_cast<const char*>(data), size));
  kura::tool::TStressRows rows;
  for (const std::string& finding : kura::tool::ReplayJournal(journal, "J", rows))
    if (finding.rfind("J line ", 0) != 0) std::abort();
  // Against an empty table every replayed row is missing, and nothing else is reported.
  if (kura::tool::CompareStressRows(rows, {}).size() != rows.size()) std::abort();
  return 0;
}
