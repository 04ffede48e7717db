// The runner of case files (case_file.h) for expressions: each case parses, binds and
// evaluates one expression against the record declared by the last "fields:" directive and
// compares the value and type, the engine error, or the parse tree with the expectation.
//
// Directives: context <name>, code <n>, flags <n>, locale <language> <sort>,
// strings_as_columns on|off, boolean_columns on|off, and "fields:" with one line per field:
// "<name> <SQL type> <value or NULL>".
// Cases: eval (expects "<type> <value>"), error (expects "<code> <message>"), tree (expects
// the tree in prefix form), compare <case-insensitive 0|1> <partial length> (evaluates the
// comparison as a filter compare node; expects "<type> <value>").
//
// Other case kinds and directives (SQL statements, tables) are added with AddCaseKind and
// AddDirective; their handlers see the runner's settings and record. Mismatches are reported
// as GoogleTest failures naming the file and line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sql/case_file.h"
#include "sql/exp_token.h"
#include "sql/expression_parser.h"
#include "sql/expression_values.h"
#include "storage/field_descriptor.h"

namespace kura::testing {

class TExpressionCaseRunner {
 public:
  using THandler = std::function<void(TExpressionCaseRunner&, const TCaseBlock&)>;

  explicit TExpressionCaseRunner(std::string file);

  // Adds (or replaces) the handler of a case kind or a directive.
  void AddCaseKind(const std::string& kind, THandler handler);
  void AddDirective(const std::string& name, THandler handler);

  // Reads the file and runs its directives and cases in order.
  void Run();

  // Parses text with the current settings; raises the engine error of a syntax error or of
  // text left over after the expression.
  TExpTokenPtr Parse(const std::string& text, TExpressionParser& parser);
  // Parses, binds and evaluates the case's input; answers "<type> <value>".
  std::string Evaluate(const TCaseBlock& block, bool asCompareNode);

  // The settings the directives change.
  std::string FContext = "SQL statement";
  std::uint16_t FCode = 11949;
  int FFlags = kWhereFlags;
  TEvalLocale FLocale;
  bool FStringsAsColumns = false;
  bool FBooleanColumns = false;
  std::vector<TFieldDescriptor> FFields;
  std::vector<std::uint8_t> FRecord;
  std::map<std::uint16_t, std::string> FBlobs;

 private:
  void RunDirective(const TCaseBlock& block);
  void DeclareFields(const std::vector<std::string>& lines);
  void RunEval(const TCaseBlock& block, bool asCompareNode);
  void RunError(const TCaseBlock& block);
  void RunTree(const TCaseBlock& block);

  std::string FFile;
  std::map<std::string, THandler> FCaseKinds;
  std::map<std::string, THandler> FDirectives;
};

// Joins lines with line feeds.
std::string JoinLines(const std::vector<std::string>& lines);
// The tree in prefix form: (op child ...); constants as type:text, columns by name (or as
// columnText writes them).
using TColumnText = std::function<std::string(const TExpToken& column)>;
std::string DumpTree(const TExpToken* node);
std::string DumpTree(const TExpToken* node, const TColumnText& columnText);

// A field declared as "<name> <SQL type>" (CHAR(20), INTEGER, DECIMAL(10,2), ...).
TFieldDescriptor ParseFieldDeclaration(const std::string& name, const std::string& type);

}  // namespace kura::testing
