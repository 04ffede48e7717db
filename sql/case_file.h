// Test cases written as data: a case file holds directives and cases, in the style of SQL
// logic tests.
//
//   # a comment line
//   <directive> <arguments>          one line, applies to the cases after it
//   <kind> [arguments]               a case: its input lines follow up to a line "----",
//   <input lines>                    then its expected lines up to a blank line or the end
//   ----
//   <expected lines>
//
// A directive whose name is followed by a colon ("fields:") takes the lines after it up to a
// blank line as its body. The runner tells the reader which header words start cases and maps
// each kind and directive name to a handler, so statement cases can be added beside
// expression cases.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace kura::testing {

struct TCaseBlock {
  std::string Kind;                   // first word of the header line
  std::string Arguments;              // rest of the header line
  int Line = 0;                       // line number of the header
  bool IsDirective = true;            // false for a case (it has a "----" line)
  std::vector<std::string> Input;     // case input, or a directive's body
  std::vector<std::string> Expected;  // case expectation
};

// Reads a case file whose cases start with one of caseKinds; raises std::runtime_error when
// it cannot be read or a case has no "----" line.
std::vector<TCaseBlock> ReadCaseFile(const std::string& path,
                                     const std::set<std::string>& caseKinds);

// Splits the blocks of a file's text.
std::vector<TCaseBlock> ParseCaseText(const std::string& text,
                                      const std::set<std::string>& caseKinds);

}  // namespace kura::testing
