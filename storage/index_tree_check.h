// The checker of one index's B+-tree: walks the whole tree level by level and its free chain
// and reports every broken invariant of index_tree.h. Tests run it after each batch of
// changes; the table verification command runs it over every index of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/index_tree.h"

namespace kura {

struct TTreeCheckReport {
  std::vector<std::string> Problems;  // empty when the tree is sound
  std::int64_t KeyCount = 0;          // keys on the leaf level
  int Levels = 0;
  int TreePages = 0;
  int FreePages = 0;
  // Every page the walk met in the tree or on the free chain, each once (the table check
  // looks for pages two indexes both claim).
  std::vector<std::int32_t> PageNumbers;
  bool Ok() const { return Problems.empty(); }
  // The problems, one a line.
  std::string Text() const;
};

// Walks the tree of the store's root and its free chain. Unreadable pages are reported, not
// raised. Stops collecting after 100 problems.
TTreeCheckReport CheckIndexTree(TIndexPageStore& store, const TKeyFormat& keyFormat,
                                const TPageFormat& pageFormat);

}  // namespace kura
