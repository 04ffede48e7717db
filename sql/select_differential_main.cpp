// The long run of the SQLite comparison: select_differential [first seed] [seeds] [queries
// per seed]. Prints every query on which the two engines disagree (the first few per seed)
// and answers 1 when there was any.
#include <cstdio>
#include <cstdlib>

#include "sql/select_differential.h"

int main(int argc, char** argv) {
  std::uint32_t first =
      argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000;
  int seeds = argc > 2 ? std::atoi(argv[2]) : 100;
  int queries = argc > 3 ? std::atoi(argv[3]) : 200;
  int total = 0;
  int disagreements = 0;
  for (int i = 0; i < seeds; ++i) {
    kura::testing::TDifferentialOutcome outcome =
        kura::testing::RunDifferential(first + static_cast<std::uint32_t>(i), queries);
    total += outcome.Queries;
    disagreements += outcome.Disagreements;
    for (const std::string& report : outcome.Reports) std::printf("%s\n", report.c_str());
  }
  std::printf("%d queries, %d disagreements\n", total, disagreements);
  return disagreements == 0 ? 0 : 1;
}
