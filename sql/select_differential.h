// SELECT results compared with SQLite's: random tables and random queries from the subset
// both engines share, run on both, results compared as multisets (as lists when the ORDER BY
// names every result column).
//
// DATA: tables T1, T2, T3 with A, B INTEGER and S VARCHAR(8); small integers, short ASCII
// strings (never empty: Kura stores an empty string as NULL), about one value in six NULL.
// Some tables get an index on A, so that filters and joins are also served from indexes.
// SQLite runs with case-sensitive LIKE, and no locale is involved: both compare bytes.
//
// SEMANTIC DIFFERENCES the generator maps (each atomic predicate is written once for Kura and
// once for SQLite):
//   two-valued logic   Kura comparisons are TRUE or FALSE, never unknown; the SQLite form of
//                      every atomic predicate is wrapped in COALESCE((p), 0), so NOT, AND and
//                      OR see the same truth values
//   NULL equality      Kura's = holds for two NULLs and <> for exactly one; SQLite gets IS and
//                      IS NOT for = and <> (join conditions too)
//   NULL strings       Kura orders a NULL string as the empty string: an ordering comparison
//                      of a string column is COALESCE(s, '') < 'x' in SQLite
//   ordering of        column-to-column ordering comparisons are not generated: Kura compares
//   two NULLs          two NULLs as equal values (NULL <= NULL is TRUE)
//   integer division   no division is generated (Kura divides integers exactly)
//   NULL ordering      ascending NULLs first, descending last: SQLite gets NULLS FIRST/LAST
//   TOP                Kura's TOP n is SQLite's LIMIT n, generated only with a total ORDER BY
//   floats             numbers are compared after printing with 9 significant digits
//   HAVING             Kura's HAVING names aggregates of the select list and no COUNT(*)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kura::testing {

struct TDifferentialQuery {
  std::string Kura;
  std::string Sqlite;
  bool Ordered = false;  // compare as lists
};

struct TDifferentialOutcome {
  int Queries = 0;
  int Disagreements = 0;
  // The first disagreements: the Kura query, then both results.
  std::vector<std::string> Reports;
};

// Builds fresh random tables from the seed in a scratch folder, then runs count random
// queries on both engines.
TDifferentialOutcome RunDifferential(std::uint32_t seed, int count);

}  // namespace kura::testing
