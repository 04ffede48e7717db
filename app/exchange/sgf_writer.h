// Writing SGF text (UTF-8) from a parsed collection: one property value after another, with
// "]" and "\" escaped, each node on a line of its own and each variation opened on a new line.
#pragma once

#include <string>
#include <string_view>

#include "app/exchange/sgf_tree.h"

namespace goramina {

// The collection as SGF text. Property ids must be upper-case letters; values are written as
// given (escaped), so the reader gives back the same collection.
std::string WriteSgf(const TSgfCollection& collection);
// One game tree as SGF text.
std::string WriteSgfTree(const TSgfTree& tree);
// A value with "]" and "\" escaped.
std::string EscapeSgfValue(std::string_view value);

}  // namespace goramina
