// The statements the in-memory collection answers, and their parser.
//
//   select   := SELECT '*' FROM table [WHERE condition] [ORDER BY column [ASC|DESC]] [';']
//   condition:= term { AND term }
//   term     := '(' condition ')' | operand ('=' | '>') operand
//   operand  := column | '?' | integer | 'string'
//
// Keywords and names are compared without regard to case. Anything else is refused with
// engine error 11949 ("SQL error - <what>"), never a crash, whatever bytes the text holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kura {

struct TSqlOperand {
  enum class Kind { kColumn, kMarker, kInteger, kString };
  Kind kind = Kind::kColumn;
  std::string name;          // kColumn
  int marker = 0;            // kMarker: 0-based position among the "?" markers
  std::int64_t integer = 0;  // kInteger
  std::string text;          // kString
};

struct TSqlComparison {
  enum class Op { kEqual, kGreater };
  TSqlOperand left;
  Op op = Op::kEqual;
  TSqlOperand right;
};

struct TSelectStatement {
  std::string table;
  std::vector<TSqlComparison> where;  // all must hold
  std::string order_by;               // empty: table order
  bool descending = false;
  int marker_count = 0;
};

// Parses one statement; raises engine error 11949 for anything outside the shapes above.
TSelectStatement ParseSelect(std::string_view text);

}  // namespace kura
