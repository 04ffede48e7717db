// TExpressionParser: the one recursive-descent parser of filter expressions and of every
// expression inside an SQL statement. It turns text into a tree of TExpToken nodes and knows
// nothing of tables: column references stay names until a caller binds them.
//
// An owner (a cursor for filters, a statement for SQL) configures its parser with the engine
// error code every syntax error raises (11949 SQL, 10051 filters), a table name for the
// error and a context name appended to every message ("filter expression", "WHERE clause").
// It chooses per call which constructs are allowed with the parse flags below.
//
// Grammar, lowest precedence first:
//   or-term    := and-term { OR and-term }
//   and-term   := not-term { AND not-term }
//   not-term   := NOT predicate | predicate          (a second NOT needs parentheses)
//   predicate  := additive [ compare additive | [NOT] BETWEEN additive AND additive
//                 | [NOT] LIKE additive | [NOT] IN ( list or sub-select ) | IS [NOT] NULL ]
//   additive   := term { (+ | - | ||) term }
//   term       := unary { (* | /) unary }
//   unary      := + primary | - primary | primary     (a sign applies to a primary only)
//   primary    := ( expression ) | ? | * | number | #code | string | column | function
//
// Parentheses nest at most kMaxExpressionDepth deep and trees are at most kMaxTreeHeight
// nodes high, so that parsing, binding and evaluation never recurse without bound.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sql/exp_token.h"

namespace kura {

// Token kinds answered by NextToken; any other character is a token of its own code.
inline constexpr int kTokenEnd = 0;
inline constexpr int kTokenSymbol = 1;
inline constexpr int kTokenBracketed = 2;
inline constexpr int kTokenSingleQuoted = 3;
inline constexpr int kTokenDoubleQuoted = 4;
inline constexpr int kTokenCharCode = 5;
inline constexpr int kTokenInteger = 6;
inline constexpr int kTokenReal = 7;

// Parse flags.
inline constexpr int kAllowAggregates = 1;
inline constexpr int kAllowStar = 2;
inline constexpr int kAllowPredicates = 4;  // LIKE, BETWEEN, IN, IS NULL
inline constexpr int kAllowParameters = 8;
inline constexpr int kAllowSubSelects = 16;

// Flags the callers use.
inline constexpr int kFilterFlags = kAllowPredicates;
inline constexpr int kSelectColumnFlags = kAllowAggregates | kAllowStar | kAllowPredicates;
inline constexpr int kWhereFlags = kAllowPredicates | kAllowParameters | kAllowSubSelects;
inline constexpr int kJoinFlags = kAllowPredicates | kAllowParameters;
inline constexpr int kHavingFlags = kAllowAggregates;
inline constexpr int kValueFlags = kAllowParameters;

// Parentheses and argument lists nest at most this deep, and a tree is at most
// kMaxTreeHeight nodes high (a chain of 1000 ORs is fine; binding and evaluation recurse
// once per level).
inline constexpr int kMaxExpressionDepth = 256;
inline constexpr int kMaxTreeHeight = 1024;
// Longest table and context name kept.
inline constexpr std::size_t kMaxParserNameLength = 255;

class TExpressionParser;

// A table path reduced to the table's own name: without directory ("/", "\\" or drive) and
// without extension, cut to 255 characters. Qualifiers and SQL table names are kept so.
std::string TableNameOfPath(std::string_view path);

// What a statement offers its parser: it receives the parameter nodes and parses sub-selects.
// A cursor owner passes no owner at all.
class TExpressionOwner {
 public:
  virtual ~TExpressionOwner() = default;
  // Called for each `?` in order of appearance; the node stays owned by the tree.
  virtual void AddParameter(TExpToken* parameter) = 0;
  // Parses a SELECT starting at the parser's current token and answers its executor, or
  // nullptr when this owner cannot run sub-selects.
  virtual TSubQuery* ParseSubSelect(TExpressionParser& parser) = 0;
};

class TExpressionParser {
 public:
  // Counts one level of parentheses or argument list for the duration of a scope; raises
  // when the text nests deeper than kMaxExpressionDepth.
  class TNestingGuard {
   public:
    TNestingGuard(int& nesting, const TExpressionParser& parser);
    ~TNestingGuard() { --FNesting; }
    TNestingGuard(const TNestingGuard&) = delete;
    TNestingGuard& operator=(const TNestingGuard&) = delete;

   private:
    int& FNesting;
  };

  explicit TExpressionParser(TExpressionOwner* owner = nullptr);

  void SetErrorCode(std::uint16_t code) { FErrorCode = code; }
  std::uint16_t ErrorCode() const { return FErrorCode; }
  // Names longer than 255 characters are cut.
  void SetErrorTableName(std::string_view name);
  void SetContextName(std::string_view name);
  const std::string& ContextName() const { return FContextName; }
  // The language of the text's table: language 0 reads code page 932 double-byte characters
  // whole inside symbols, strings and bracketed names.
  void SetLanguageId(std::uint16_t languageId) { FLanguageId = languageId; }

  // Copies the text (up to a zero character) and resets position and marks. Call NextToken
  // once afterwards to load the first token.
  void SetExpression(std::string_view text);

  // Skips blanks and comments, reads one token and answers its kind. Raises the parser's
  // error for an unterminated comment, string or bracketed name.
  int NextToken();
  int TokenKind() const { return FTokenKind; }
  // The current token's text; quoted and bracketed tokens without their delimiters and with
  // doubled quotes collapsed.
  std::string TokenText() const;
  bool IsToken(int kind) const { return FTokenKind == kind; }
  // True when the current token is a symbol equal to word without regard to case.
  bool IsKeyword(std::string_view word) const;
  // True for kinds 1-4.
  bool IsSymbolOrString() const { return FTokenKind >= kTokenSymbol && FTokenKind <= 4; }

  // Remembers the start of the current token.
  void MarkStart();
  // The source text from the mark to the end of the last consumed token, with carriage
  // returns and line feeds removed.
  std::string MarkedText() const;

  // Parses a whole expression; the current token afterwards is the first one not consumed.
  TExpTokenPtr ParseExpression(int flags);
  TExpTokenPtr ParsePrimary(int flags);
  TExpTokenPtr ParseAdditive(int flags);
  TExpTokenPtr ParseUnary(int flags);
  // Reads an SQL data type into node's FDataType, FSubType and arguments (as its second and
  // third argument). With optional set, answers false instead of raising when the current
  // token names no type.
  bool ParseDataType(TExpToken& node, bool optional);

  // Raises the parser's engine error with the message (cut to 255 characters).
  [[noreturn]] void Fail(std::string_view message) const;
  // Raises message + current token + "' in " + context.
  [[noreturn]] void FailFound(std::string_view message) const;
  // Raises message + " in " + context.
  [[noreturn]] void FailIn(std::string_view message) const;

 private:
  // Lexer helpers.
  void SkipBlanksAndComments();
  void ReadQuoted(char close, std::string_view missingMessage);
  void ReadNumber();
  std::size_t WidthAt(std::size_t i) const;

  // Grammar.
  TExpTokenPtr ParseOrTerm(int flags);
  TExpTokenPtr ParseAndTerm(int flags);
  TExpTokenPtr ParseNotTerm(int flags);
  TExpTokenPtr ParsePredicate(int flags);
  TExpTokenPtr ParseExtendedPredicate(TExpTokenPtr value, int flags);
  TExpTokenPtr ParseBetween(TExpTokenPtr value, bool negated, int flags);
  TExpTokenPtr ParseIn(TExpTokenPtr value, bool negated, int flags);
  TExpTokenPtr ParseIs(TExpTokenPtr value);
  TExpTokenPtr ParseTerm(int flags);
  TExpTokenPtr ParseNumber();
  TExpTokenPtr ParseCharCode();
  TExpTokenPtr ParseStringOrCorrelation(int flags);
  TExpTokenPtr ParseSymbol(int flags);
  TExpTokenPtr ParseQualifiedColumn(const std::string& correlation, int flags);
  TExpTokenPtr ParseParameter(int flags);
  TExpTokenPtr ParseFunction(const std::string& name, int flags);
  TExpTokenPtr ParseAggregate(const std::string& name, std::uint8_t code, int flags);
  TExpTokenPtr ParseCurrent(const std::string& name);

  // Function bodies (sql/expression_parse_functions.cpp).
  void ExpectLeftParen(const std::string& name);
  void ExpectRightParen(const std::string& message);
  void ExpectKeyword(std::string_view word, const std::string& message);
  TExpTokenPtr ParseSingleArgument(TExpTokenPtr node, const std::string& name, int flags,
                                   bool primary);
  TExpTokenPtr ParseSubstring(TExpTokenPtr node, int flags);
  TExpTokenPtr ParseReplace(TExpTokenPtr node, int flags);
  TExpTokenPtr ParsePosOrOccurs(TExpTokenPtr node, const std::string& name, int flags);
  TExpTokenPtr ParseCast(TExpTokenPtr node, int flags);
  TExpTokenPtr ParseTrim(TExpTokenPtr node, int flags);
  TExpTokenPtr ParseExtract(TExpTokenPtr node, int flags);
  TExpTokenPtr ParseRound(TExpTokenPtr node, int flags);
  TExpTokenPtr ParseIf(TExpTokenPtr node, const std::string& name, int flags);
  TExpTokenPtr ParseCoalesce(TExpTokenPtr node, int flags);
  TExpTokenPtr ParseTextSearch(TExpTokenPtr node, const std::string& name, int flags);
  void ParseTypeArguments(TExpToken& node, const std::string& keyword, bool required,
                          bool twoArguments);

  // Nodes.
  TExpTokenPtr NewNode(std::uint8_t kind, std::uint8_t op, std::string text) const;
  void Attach(TExpToken& parent, TExpTokenPtr& child, bool right) const;
  void AddArgument(TExpToken& parent, TExpTokenPtr child) const;
  void CheckDepth(const TExpToken& node) const;

  TExpressionOwner* FOwner;
  std::uint16_t FErrorCode = 11949;
  std::uint16_t FLanguageId = 0;
  std::string FErrorTableName;
  std::string FContextName;
  std::string FText;
  std::size_t FPosition = 0;
  std::size_t FTokenStart = 0;
  std::size_t FTokenEnd = 0;
  std::size_t FLastTokenEnd = 0;  // end of the token before the current one
  int FTokenKind = kTokenEnd;
  std::size_t FMarkStart = 0;
  int FNesting = 0;  // parentheses and argument lists open during the descent
};

}  // namespace kura
