// The height of an expression tree counted from its nodes, for the fuzz targets that check
// the parser's height cap (a leaf is 1, no tree 0).
#pragma once

#include <algorithm>

#include "sql/exp_token.h"

namespace kura::fuzzing {

inline int TreeHeight(const TExpToken* node) {
  if (node == nullptr) return 0;
  int highest = std::max(TreeHeight(node->FLeft), TreeHeight(node->FRight));
  for (const TExpToken* arg : node->FArgs) highest = std::max(highest, TreeHeight(arg));
  return highest + 1;
}

}  // namespace kura::fuzzing
