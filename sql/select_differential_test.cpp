// Kura's SELECT results against SQLite's on random tables and queries (fixed seeds); the
// mapped semantic differences are listed in select_differential.h.
#include <gtest/gtest.h>

#include "sql/select_differential.h"

namespace kura::testing {
namespace {

class SelectDifferential : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SelectDifferential, KuraAgreesWithSqlite) {
  TDifferentialOutcome outcome = RunDifferential(GetParam(), 60);
  EXPECT_EQ(60, outcome.Queries);
  EXPECT_EQ(0, outcome.Disagreements);
  for (const std::string& report : outcome.Reports) ADD_FAILURE() << report;
}

INSTANTIATE_TEST_SUITE_P(Seeds, SelectDifferential, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u));

}  // namespace
}  // namespace kura::testing
