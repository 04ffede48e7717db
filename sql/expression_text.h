// The text of a parsed or bound expression tree, rebuilt from its nodes for messages that
// must name the expression they are about ("Integer overflow: '2147483647 + 1' ...").
//
// Operators are written between their operands with single blanks, in parentheses where a
// nested operator binds looser than its parent; columns by name, string constants between
// single quotes, functions as NAME(arguments). The text is meant to be read, not parsed again:
// the special forms of CAST, SUBSTRING, TRIM and EXTRACT are written as plain argument lists.
#pragma once

#include <cstddef>
#include <string>

#include "sql/exp_token.h"

namespace kura {

// Longest text ExpressionText answers; a longer one ends in "...".
inline constexpr std::size_t kMaxExpressionTextLength = 120;

std::string ExpressionText(const TExpToken& node);

}  // namespace kura
