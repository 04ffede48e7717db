#include "dataset/memory_sql.h"

#include <cctype>
#include <charconv>

#include "base/engine_codes.h"
#include "base/engine_error.h"

namespace kura {
namespace {

// Deepest nesting of parentheses accepted; deeper text is refused rather than recursed into.
constexpr int kMaxNesting = 32;
// Longest piece of the text quoted back in an error message.
constexpr std::size_t kMaxQuotedToken = 32;

[[noreturn]] void RaiseSqlError(const std::string& text) {
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {}, text);
}

struct Token {
  enum class Kind { kEnd, kWord, kInteger, kString, kSymbol };
  Kind kind = Kind::kEnd;
  std::string text;  // the word, digits, string contents or symbol
  std::size_t offset = 0;
};

// Shows a token in an error message: printable ASCII only, cut short.
std::string Describe(const Token& token) {
  if (token.kind == Token::Kind::kEnd) return "end of statement";
  std::string shown;
  for (char c : token.text.substr(0, kMaxQuotedToken)) {
    const unsigned char u = static_cast<unsigned char>(c);
    shown += u >= 0x20 && u < 0x7F ? c : '?';
  }
  return "'" + shown + "'";
}

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    Token token;
    token.offset = i;
    if (std::isalpha(c) || c == '_') {
      std::size_t end = i;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
        ++end;
      token.kind = Token::Kind::kWord;
      token.text = std::string(text.substr(i, end - i));
      i = end;
    } else if (std::isdigit(c) || (c == '-' && i + 1 < text.size() &&
                                   std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
      std::size_t end = i + 1;
      while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
      token.kind = Token::Kind::kInteger;
      token.text = std::string(text.substr(i, end - i));
      i = end;
    } else if (c == '\'') {
      token.kind = Token::Kind::kString;
      std::size_t j = i + 1;
      for (;;) {
        if (j >= text.size())
          RaiseSqlError("Unterminated string at position " + std::to_string(i + 1));
        if (text[j] == '\'') {
          if (j + 1 < text.size() && text[j + 1] == '\'') {  // '' is one quote
            token.text += '\'';
            j += 2;
            continue;
          }
          break;
        }
        token.text += text[j++];
      }
      i = j + 1;
    } else if (c == '*' || c == '(' || c == ')' || c == '=' || c == '>' || c == '?' || c == ';') {
      token.kind = Token::Kind::kSymbol;
      token.text = std::string(1, static_cast<char>(c));
      ++i;
    } else {
      token.kind = Token::Kind::kSymbol;
      token.text = std::string(1, static_cast<char>(c));
      RaiseSqlError("Invalid character " + Describe(token) + " at position " +
                    std::to_string(i + 1));
    }
    tokens.push_back(std::move(token));
  }
  Token end;
  end.offset = text.size();
  tokens.push_back(end);
  return tokens;
}

bool IsKeyword(const Token& token, std::string_view keyword) {
  if (token.kind != Token::Kind::kWord || token.text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(token.text[i])) != keyword[i]) return false;
  return true;
}

bool IsReserved(const Token& token) {
  for (std::string_view word : {"SELECT", "FROM", "WHERE", "ORDER", "BY", "AND", "ASC", "DESC"})
    if (IsKeyword(token, word)) return true;
  return false;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  TSelectStatement Statement() {
    TSelectStatement statement;
    ExpectKeyword("SELECT");
    ExpectSymbol("*");
    ExpectKeyword("FROM");
    statement.table = Name("a table name");
    if (AcceptKeyword("WHERE")) Condition(statement, 0);
    if (AcceptKeyword("ORDER")) {
      ExpectKeyword("BY");
      statement.order_by = Name("a column name");
      if (!AcceptKeyword("ASC") && AcceptKeyword("DESC")) statement.descending = true;
    }
    AcceptSymbol(";");
    if (Peek().kind != Token::Kind::kEnd)
      RaiseSqlError("Unexpected " + Describe(Peek()) + " at position " +
                    std::to_string(Peek().offset + 1));
    statement.marker_count = markers_;
    return statement;
  }

 private:
  const Token& Peek() const { return tokens_[position_]; }
  const Token& Take() {
    const Token& token = tokens_[position_];
    if (token.kind != Token::Kind::kEnd) ++position_;
    return token;
  }

  [[noreturn]] void Expected(std::string_view what) const {
    RaiseSqlError("Expected " + std::string(what) + " but found " + Describe(Peek()) +
                  " at position " + std::to_string(Peek().offset + 1));
  }

  bool AcceptKeyword(std::string_view keyword) {
    if (!IsKeyword(Peek(), keyword)) return false;
    Take();
    return true;
  }
  void ExpectKeyword(std::string_view keyword) {
    if (!AcceptKeyword(keyword)) Expected(keyword);
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (Peek().kind != Token::Kind::kSymbol || Peek().text != symbol) return false;
    Take();
    return true;
  }
  void ExpectSymbol(std::string_view symbol) {
    if (!AcceptSymbol(symbol)) Expected("'" + std::string(symbol) + "'");
  }

  std::string Name(std::string_view what) {
    if (Peek().kind != Token::Kind::kWord || IsReserved(Peek())) Expected(what);
    return Take().text;
  }

  void Condition(TSelectStatement& statement, int depth) {
    do {
      Term(statement, depth);
    } while (AcceptKeyword("AND"));
  }

  void Term(TSelectStatement& statement, int depth) {
    if (AcceptSymbol("(")) {
      if (depth + 1 > kMaxNesting) RaiseSqlError("Condition nested too deeply");
      Condition(statement, depth + 1);
      ExpectSymbol(")");
      return;
    }
    TSqlComparison comparison;
    comparison.left = Operand();
    if (AcceptSymbol("="))
      comparison.op = TSqlComparison::Op::kEqual;
    else if (AcceptSymbol(">"))
      comparison.op = TSqlComparison::Op::kGreater;
    else
      Expected("'=' or '>'");
    comparison.right = Operand();
    statement.where.push_back(std::move(comparison));
  }

  TSqlOperand Operand() {
    TSqlOperand operand;
    const Token& token = Peek();
    switch (token.kind) {
      case Token::Kind::kWord:
        operand.kind = TSqlOperand::Kind::kColumn;
        operand.name = Name("a column, parameter or value");
        return operand;
      case Token::Kind::kInteger: {
        operand.kind = TSqlOperand::Kind::kInteger;
        const std::string& digits = token.text;
        auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), operand.integer);
        if (error != std::errc() || end != digits.data() + digits.size())
          RaiseSqlError("Number " + Describe(token) + " is out of range");
        Take();
        return operand;
      }
      case Token::Kind::kString:
        operand.kind = TSqlOperand::Kind::kString;
        operand.text = Take().text;
        return operand;
      case Token::Kind::kSymbol:
        if (token.text == "?") {
          Take();
          operand.kind = TSqlOperand::Kind::kMarker;
          operand.marker = markers_++;
          return operand;
        }
        break;
      case Token::Kind::kEnd:
        break;
    }
    Expected("a column, parameter or value");
  }

  std::vector<Token> tokens_;
  std::size_t position_ = 0;
  int markers_ = 0;
};

}  // namespace

TSelectStatement ParseSelect(std::string_view text) {
  return Parser(Tokenize(text)).Statement();
}

}  // namespace kura
