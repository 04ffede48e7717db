// The grammar of TExpressionParser: operators, predicates and primaries. Function syntax is
// in expression_parse_functions.cpp, the lexer in expression_lexer.cpp.
#include "sql/expression_parser.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "sql/expression_values.h"
#include "storage/field_types.h"
#include "storage/field_values.h"

namespace kura {

std::string TableNameOfPath(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\:");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name.substr(0, kMaxTokenNameLength));
}

// --- Nodes ----------------------------------------------------------------------------------

TExpTokenPtr TExpressionParser::NewNode(std::uint8_t kind, std::uint8_t op,
                                        std::string text) const {
  TExpTokenPtr node = NewToken();
  node->FKind = kind;
  node->FOperator = op;
  node->FText = std::move(text);
  return node;
}

void TExpressionParser::CheckDepth(const TExpToken& node) const {
  if (node.FDepth > kMaxTreeHeight) FailIn("Expression nested too deeply");
}

void TExpressionParser::Attach(TExpToken& parent, TExpTokenPtr& child, bool right) const {
  std::uint16_t depth = child->FDepth;
  (right ? parent.FRight : parent.FLeft) = child.release();
  if (depth + 1 > parent.FDepth) parent.FDepth = static_cast<std::uint16_t>(depth + 1);
  CheckDepth(parent);
}

void TExpressionParser::AddArgument(TExpToken& parent, TExpTokenPtr child) const {
  std::uint16_t depth = child ? child->FDepth : 0;
  parent.FArgs.push_back(child.release());
  if (depth + 1 > parent.FDepth) parent.FDepth = static_cast<std::uint16_t>(depth + 1);
  CheckDepth(parent);
}

namespace {

TExpTokenPtr MakeBinary(std::uint8_t op, std::string text) {
  TExpTokenPtr node = NewToken();
  node->FKind = kNodeBinary;
  node->FOperator = op;
  node->FText = std::move(text);
  return node;
}

void SetBooleanType(TExpToken& node) {
  node.FDataType = kFieldTypeBoolean;
  node.FDataSize = 2;
}

}  // namespace

// --- Operators ------------------------------------------------------------------------------

TExpTokenPtr TExpressionParser::ParseExpression(int flags) {
  TNestingGuard guard(FNesting, *this);
  return ParseOrTerm(flags);
}

TExpTokenPtr TExpressionParser::ParseOrTerm(int flags) {
  TExpTokenPtr left = ParseAndTerm(flags);
  while (IsKeyword("OR")) {
    TExpTokenPtr node = MakeBinary(opOr, TokenText());
    SetBooleanType(*node);
    NextToken();
    TExpTokenPtr right = ParseAndTerm(flags);
    Attach(*node, left, false);
    Attach(*node, right, true);
    left = std::move(node);
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseAndTerm(int flags) {
  TExpTokenPtr left = ParseNotTerm(flags);
  while (IsKeyword("AND")) {
    TExpTokenPtr node = MakeBinary(opAnd, TokenText());
    SetBooleanType(*node);
    NextToken();
    TExpTokenPtr right = ParseNotTerm(flags);
    Attach(*node, left, false);
    Attach(*node, right, true);
    left = std::move(node);
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseNotTerm(int flags) {
  if (!IsKeyword("NOT")) return ParsePredicate(flags);
  TExpTokenPtr node = NewNode(kNodeUnary, opNot, TokenText());
  SetBooleanType(*node);
  NextToken();
  TExpTokenPtr operand = ParsePredicate(flags);
  Attach(*node, operand, false);
  return node;
}

TExpTokenPtr TExpressionParser::ParsePredicate(int flags) {
  TExpTokenPtr left = ParseAdditive(flags);
  std::uint8_t op = opNone;
  std::string text = TokenText();
  if (IsToken('=')) {
    op = opEqual;
    NextToken();
  } else if (IsToken('<')) {
    NextToken();
    if (IsToken('>')) {
      op = opNotEqual;
      text += " >";
      NextToken();
    } else if (IsToken('=')) {
      op = opLessEqual;
      text += " =";
      NextToken();
    } else {
      op = opLess;
    }
  } else if (IsToken('>')) {
    NextToken();
    op = opGreater;
    if (IsToken('=')) {
      op = opGreaterEqual;
      text += " =";
      NextToken();
    }
  }
  if (op != opNone) {
    TExpTokenPtr node = MakeBinary(op, text);
    SetBooleanType(*node);
    TExpTokenPtr right = ParseAdditive(flags);
    Attach(*node, left, false);
    Attach(*node, right, true);
    return node;
  }
  if (IsKeyword("NOT") || IsKeyword("LIKE") || IsKeyword("BETWEEN") || IsKeyword("IN") ||
      IsKeyword("IS")) {
    return ParseExtendedPredicate(std::move(left), flags);
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseExtendedPredicate(TExpTokenPtr value, int flags) {
  if ((flags & kAllowPredicates) == 0) {
    FailIn("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed");
  }
  if (IsKeyword("IS")) {
    NextToken();
    return ParseIs(std::move(value));
  }
  bool negated = IsKeyword("NOT");
  if (negated) {
    NextToken();
    if (!IsKeyword("BETWEEN") && !IsKeyword("LIKE") && !IsKeyword("IN")) {
      FailFound("Unknown or unexpected symbol '");
    }
  }
  if (IsKeyword("BETWEEN")) return ParseBetween(std::move(value), negated, flags);
  if (IsKeyword("IN")) return ParseIn(std::move(value), negated, flags);
  // LIKE
  TExpTokenPtr node =
      NewNode(kNodePredicate, negated ? opNotLike : opLike, negated ? "NOT LIKE" : "LIKE");
  SetBooleanType(*node);
  NextToken();
  TExpTokenPtr pattern = ParseAdditive(flags);
  AddArgument(*node, std::move(value));
  AddArgument(*node, std::move(pattern));
  return node;
}

TExpTokenPtr TExpressionParser::ParseBetween(TExpTokenPtr value, bool negated, int flags) {
  TExpTokenPtr node = NewNode(kNodePredicate, negated ? opNotBetween : opBetween,
                              negated ? "NOT BETWEEN" : "BETWEEN");
  SetBooleanType(*node);
  AddArgument(*node, std::move(value));
  NextToken();
  // The bounds are additives, so the AND between them is not read as a conjunction.
  AddArgument(*node, ParseAdditive(flags));
  if (!IsKeyword("AND")) {
    FailFound(negated ? "Expected AND operator in NOT BETWEEN operator, instead found '"
                      : "Expected AND operator in BETWEEN operator, instead found '");
  }
  NextToken();
  AddArgument(*node, ParseAdditive(flags));
  return node;
}

TExpTokenPtr TExpressionParser::ParseIn(TExpTokenPtr value, bool negated, int flags) {
  std::string name = negated ? "NOT IN" : "IN";
  TExpTokenPtr node = NewNode(kNodePredicate, negated ? opNotIn : opIn, name);
  SetBooleanType(*node);
  AddArgument(*node, std::move(value));
  NextToken();
  if (!IsToken('('))
    FailFound("Expected left parentheses for " + name + " operator, instead found '");
  TNestingGuard guard(FNesting, *this);
  NextToken();
  if (IsKeyword("SELECT")) {
    if ((flags & kAllowSubSelects) == 0) FailIn("Sub-select queries are not allowed");
    TSubQuery* query = FOwner != nullptr ? FOwner->ParseSubSelect(*this) : nullptr;
    if (query == nullptr) FailIn("Sub-select queries are not allowed");
    TExpTokenPtr select = NewNode(kNodeSubSelect, opNone, "SELECT");
    select->FSubQuery = query;
    AddArgument(*node, std::move(select));
    node->FOperator = negated ? opNotInSubSelect : opInSubSelect;
    if (!IsToken(')')) {
      FailFound("Expected right parentheses for " + name + " operator, instead found '");
    }
    NextToken();
    return node;
  }
  for (;;) {
    AddArgument(*node, ParseAdditive(flags));
    if (!IsToken(',')) break;
    NextToken();
  }
  if (!IsToken(')'))
    FailFound("Expected right parentheses after " + name + " operator, instead found '");
  NextToken();
  return node;
}

TExpTokenPtr TExpressionParser::ParseIs(TExpTokenPtr value) {
  bool negated = IsKeyword("NOT");
  if (negated) NextToken();
  if (!IsKeyword("NULL")) {
    Fail("Unknown or unexpected symbol '" + TokenText() + "' found in " + FContextName);
  }
  // The same tree as "x = NULL"; the node keeps the words as written, as NOT LIKE does.
  TExpTokenPtr node =
      MakeBinary(negated ? opNotEqual : opEqual, negated ? "IS NOT NULL" : "IS NULL");
  SetBooleanType(*node);
  TExpTokenPtr null = NewNode(kNodeConstant, opNone, TokenText());
  null->FIsNull = 1;
  NextToken();
  Attach(*node, value, false);
  Attach(*node, null, true);
  return node;
}

TExpTokenPtr TExpressionParser::ParseAdditive(int flags) {
  TExpTokenPtr left = ParseTerm(flags);
  for (;;) {
    std::uint8_t op = opNone;
    std::string text;
    if (IsToken('+')) {
      op = opAdd;
      text = "+";
    } else if (IsToken('-')) {
      op = opSubtract;
      text = "-";
    } else if (IsToken('|')) {
      NextToken();
      if (!IsToken('|')) {
        FailFound(
            "Second concatenation symbol '|' expected after first concatentation symbol, "
            "instead found '");
      }
      op = opAdd;
      text = "| |";
    } else {
      return left;
    }
    NextToken();
    TExpTokenPtr node = MakeBinary(op, text);
    node->FDataType = left->FDataType;
    node->FSubType = left->FSubType;
    node->FDataSize = left->FDataSize;
    node->FScale = left->FScale;
    TExpTokenPtr right = ParseTerm(flags);
    Attach(*node, left, false);
    Attach(*node, right, true);
    left = std::move(node);
  }
}

TExpTokenPtr TExpressionParser::ParseTerm(int flags) {
  TExpTokenPtr left = ParseUnary(flags);
  while (IsToken('*') || IsToken('/')) {
    TExpTokenPtr node = MakeBinary(IsToken('*') ? opMultiply : opDivide, TokenText());
    node->FDataType = left->FDataType;
    node->FDataSize = left->FDataSize;
    NextToken();
    TExpTokenPtr right = ParseUnary(flags);
    Attach(*node, left, false);
    Attach(*node, right, true);
    left = std::move(node);
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseUnary(int flags) {
  if (!IsToken('+') && !IsToken('-')) return ParsePrimary(flags);
  TExpTokenPtr node = NewNode(kNodeUnary, IsToken('+') ? opPlusSign : opNegate, TokenText());
  NextToken();
  TExpTokenPtr operand = ParsePrimary(flags);
  node->FDataType = operand->FDataType;
  node->FDataSize = operand->FDataSize;
  Attach(*node, operand, false);
  return node;
}

// --- Primaries ------------------------------------------------------------------------------

TExpTokenPtr TExpressionParser::ParsePrimary(int flags) {
  switch (FTokenKind) {
    case '(': {
      TNestingGuard guard(FNesting, *this);
      NextToken();
      TExpTokenPtr inner = ParseExpression(flags);
      if (!IsToken(')')) FailFound("Right parentheses expected, instead found '");
      NextToken();
      return inner;
    }
    case '?':
      return ParseParameter(flags);
    case '*': {
      if ((flags & kAllowStar) == 0) FailIn("* (all columns) symbol is not allowed");
      TExpTokenPtr node = NewNode(kNodeColumn, opNone, "*");
      node->FColumnName.assign(1, '*');
      NextToken();
      return node;
    }
    case kTokenInteger:
    case kTokenReal:
      return ParseNumber();
    case kTokenCharCode:
      return ParseCharCode();
    case kTokenSingleQuoted:
    case kTokenDoubleQuoted:
    case kTokenBracketed:
      return ParseStringOrCorrelation(flags);
    case kTokenSymbol:
      return ParseSymbol(flags);
    default:
      Fail("Unknown or unexpected symbol '" + TokenText() + "' found in " + FContextName);
  }
}

TExpTokenPtr TExpressionParser::ParseParameter(int flags) {
  if ((flags & kAllowParameters) == 0) FailIn("Parameters are not allowed");
  TExpTokenPtr node = NewNode(kNodeConstant, opNone, "?");
  node->FIsParam = 1;
  node->FIsNull = 1;
  if (FOwner != nullptr) FOwner->AddParameter(node.get());
  NextToken();
  return node;
}

TExpTokenPtr TExpressionParser::ParseNumber() {
  std::string text = TokenText();
  TExpTokenPtr node = NewNode(kNodeConstant, opNone, text);
  const char* first = text.data();
  const char* last = first + text.size();
  if (FTokenKind == kTokenInteger) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc() && end == last) {
      if (value >= std::numeric_limits<std::int32_t>::min() &&
          value <= std::numeric_limits<std::int32_t>::max()) {
        SetInt32(*node, static_cast<std::int32_t>(value));
      } else {
        SetInt64(*node, value);
      }
      NextToken();
      return node;
    }
  }
  double real = 0;
  auto [end, error] = std::from_chars(first, last, real);
  if (error != std::errc() || end != last || !std::isfinite(real)) {
    Fail("Constant '" + text + "' is not a valid number  in " + FContextName);
  }
  SetFloat(*node, real);
  NextToken();
  return node;
}

TExpTokenPtr TExpressionParser::ParseCharCode() {
  std::string digits = TokenText().substr(1);
  int code = -1;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || code < 0 ||
      code > 255) {
    FailIn("Character constants (#) must be within the range of 0 to 255");
  }
  TExpTokenPtr node = NewNode(kNodeConstant, opNone, TokenText());
  char text[2] = {static_cast<char>(code), 0};
  SetString(*node, std::string_view(text, code == 0 ? 0 : 1));
  NextToken();
  return node;
}

TExpTokenPtr TExpressionParser::ParseStringOrCorrelation(int flags) {
  bool bracketed = IsToken(kTokenBracketed);
  std::string text = TokenText();
  NextToken();
  if (IsToken('.')) return ParseQualifiedColumn(text, flags);
  if (bracketed) {
    TExpTokenPtr node = NewNode(kNodeColumn, opNone, text);
    node->FColumnName = text.substr(0, kMaxTokenNameLength);
    return node;
  }
  TExpTokenPtr node = NewNode(kNodeConstant, opNone, text);
  SetString(*node, text);
  return node;
}

TExpTokenPtr TExpressionParser::ParseQualifiedColumn(const std::string& correlation, int flags) {
  NextToken();
  std::string name;
  if (IsToken('*')) {
    if ((flags & kAllowStar) == 0) FailIn("* (all columns) symbol is not allowed");
    name = "*";
  } else if (IsSymbolOrString()) {
    name = TokenText();
  } else {
    FailFound(
        "Symbol or string expression expected after table correlation name separator '.', "
        "instead found '");
  }
  NextToken();
  TExpTokenPtr node = NewNode(kNodeColumn, opNone, correlation + "." + name);
  node->FColumnName = name.substr(0, kMaxTokenNameLength);
  node->FTableName = TableNameOfPath(correlation);
  return node;
}

TExpTokenPtr TExpressionParser::ParseSymbol(int flags) {
  std::string name = TokenText();
  if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    TExpTokenPtr node = NewNode(kNodeConstant, opNone, name);
    SetBoolean(*node, IsKeyword("TRUE"));
    NextToken();
    return node;
  }
  if (IsKeyword("NULL")) {
    TExpTokenPtr node = NewNode(kNodeConstant, opNone, name);
    node->FIsNull = 1;
    NextToken();
    return node;
  }
  if (IsKeyword("CURRENT_DATE") || IsKeyword("CURRENT_TIME") || IsKeyword("CURRENT_TIMESTAMP")) {
    return ParseCurrent(name);
  }
  NextToken();
  if (IsToken('.')) return ParseQualifiedColumn(name, flags);
  if (TExpTokenPtr function = ParseFunction(name, flags)) return function;
  TExpTokenPtr node = NewNode(kNodeColumn, opNone, name);
  node->FColumnName = name.substr(0, kMaxTokenNameLength);
  return node;
}

TExpTokenPtr TExpressionParser::ParseCurrent(const std::string& name) {
  TExpTokenPtr node = NewNode(kNodeConstant, opNone, name);
  TNow now = CurrentLocalDateTime();
  if (IsKeyword("CURRENT_DATE")) {
    SetDate(*node, now.Date);
  } else if (IsKeyword("CURRENT_TIME")) {
    SetTime(*node, now.Time);
  } else {
    SetTimestamp(*node, EncodeTimestamp(now.Date, now.Time));
  }
  NextToken();
  if (IsToken('(')) {
    NextToken();
    if (!IsToken(')')) {
      FailFound("Right parentheses expected after first " + name +
                " function parentheses, instead found '");
    }
    NextToken();
  }
  return node;
}

}  // namespace kura
