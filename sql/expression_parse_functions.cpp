// The syntax of the functions, aggregates and SQL data types of TExpressionParser.
#include <array>

#include "sql/expression_parser.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"

namespace kura {

namespace {

struct TFunctionName {
  std::string_view Name;
  std::uint8_t Code;
};

constexpr std::array kFunctions{
    TFunctionName{"SUM", opSum},
    TFunctionName{"RUNSUM", opRunSum},
    TFunctionName{"AVG", opAvg},
    TFunctionName{"MIN", opMin},
    TFunctionName{"MAX", opMax},
    TFunctionName{"COUNT", opCount},
    TFunctionName{"LOWER", opLower},
    TFunctionName{"UPPER", opUpper},
    TFunctionName{"LENGTH", opLength},
    TFunctionName{"SUBSTRING", opSubstring},
    TFunctionName{"REPLACE", opReplace},
    TFunctionName{"POS", opPos},
    TFunctionName{"OCCURS", opOccurs},
    TFunctionName{"CAST", opCast},
    TFunctionName{"TRIM", opTrimBoth},
    TFunctionName{"EXTRACT", opExtractYear},
    TFunctionName{"ABS", opAbs},
    TFunctionName{"ROUND", opRound},
    TFunctionName{"IF", opIf},
    TFunctionName{"IFNULL", opIfNull},
    TFunctionName{"COALESCE", opCoalesce},
    TFunctionName{"TEXTSEARCH", opTextSearch},
    TFunctionName{"TEXTOCCURS", opTextOccurs},
    TFunctionName{"LASTAUTOINC", opLastAutoInc},
    TFunctionName{"IDENT_CURRENT", opIdentCurrent},
};

const TFunctionName* FindFunction(std::string_view name) {
  for (const TFunctionName& function : kFunctions) {
    if (EqualsIgnoringAsciiCase(function.Name, name)) return &function;
  }
  return nullptr;
}

bool IsAggregate(std::uint8_t code) {
  return code >= opSum && code <= opAvg;
}

void SetResultType(TExpToken& node, std::uint8_t type, std::int32_t size) {
  node.FDataType = type;
  node.FDataSize = size;
}

struct TExtractPart {
  std::string_view Name;
  std::uint8_t Code;
};

constexpr std::array kExtractParts{
    TExtractPart{"YEAR", opExtractYear},           TExtractPart{"MONTH", opExtractMonth},
    TExtractPart{"WEEK", opExtractWeek},           TExtractPart{"DAY", opExtractDay},
    TExtractPart{"DAYOFWEEK", opExtractDayOfWeek}, TExtractPart{"DAYOFYEAR", opExtractDayOfYear},
    TExtractPart{"HOUR", opExtractHour},           TExtractPart{"MINUTE", opExtractMinute},
    TExtractPart{"SECOND", opExtractSecond},
};

}  // namespace

// Raises "Unknown or unexpected function" for an unknown name followed by a parenthesis;
// answers nullptr for an unknown name without one (it is a column).
TExpTokenPtr TExpressionParser::ParseFunction(const std::string& name, int flags) {
  const TFunctionName* function = FindFunction(name);
  if (function == nullptr) {
    if (IsToken('('))
      Fail("Unknown or unexpected function '" + name + "' found in " + FContextName);
    return nullptr;
  }
  std::string upper(function->Name);
  if (IsAggregate(function->Code)) return ParseAggregate(upper, function->Code, flags);
  ExpectLeftParen(upper);
  TExpTokenPtr node = NewNode(kNodeFunction, function->Code, upper);
  switch (function->Code) {
    case opLower:
    case opUpper:
      SetResultType(*node, kFieldTypeString, 0);
      return ParseSingleArgument(std::move(node), upper, flags, false);
    case opLength:
      SetResultType(*node, kFieldTypeInteger, 4);
      return ParseSingleArgument(std::move(node), upper, flags, false);
    case opAbs:
      return ParseSingleArgument(std::move(node), upper, flags, false);
    case opLastAutoInc:
    case opIdentCurrent:
      SetResultType(*node, kFieldTypeInteger, 4);
      return ParseSingleArgument(std::move(node), upper, flags, true);
    case opSubstring:
      return ParseSubstring(std::move(node), flags);
    case opReplace:
      return ParseReplace(std::move(node), flags);
    case opPos:
    case opOccurs:
      return ParsePosOrOccurs(std::move(node), upper, flags);
    case opCast:
      return ParseCast(std::move(node), flags);
    case opTrimBoth:
      return ParseTrim(std::move(node), flags);
    case opExtractYear:
      return ParseExtract(std::move(node), flags);
    case opRound:
      return ParseRound(std::move(node), flags);
    case opIf:
    case opIfNull:
      return ParseIf(std::move(node), upper, flags);
    case opCoalesce:
      return ParseCoalesce(std::move(node), flags);
    default:  // TEXTSEARCH, TEXTOCCURS
      return ParseTextSearch(std::move(node), upper, flags);
  }
}

TExpTokenPtr TExpressionParser::ParseAggregate(const std::string& name, std::uint8_t code,
                                               int flags) {
  if ((flags & kAllowAggregates) == 0) FailIn("Aggregate functions are not allowed");
  if (!IsToken('(')) {
    FailFound("Left parentheses expected after aggregate function '" + name + "', instead found '");
  }
  TNestingGuard guard(FNesting, *this);
  NextToken();
  TExpTokenPtr node = NewNode(kNodeFunction, code, name);
  AddArgument(*node, ParseExpression(flags));
  if (!IsToken(')')) {
    FailFound("Right parentheses expected after aggregate " + name +
              " function argument, instead found '");
  }
  NextToken();
  return node;
}

void TExpressionParser::ExpectLeftParen(const std::string& name) {
  if (!IsToken('(')) {
    FailFound("Left parentheses expected after " + name + " keyword, instead found '");
  }
  NextToken();
}

void TExpressionParser::ExpectRightParen(const std::string& message) {
  if (!IsToken(')')) FailFound(message);
  NextToken();
}

void TExpressionParser::ExpectKeyword(std::string_view word, const std::string& message) {
  if (!IsKeyword(word)) FailFound(message);
  NextToken();
}

TExpTokenPtr TExpressionParser::ParseSingleArgument(TExpTokenPtr node, const std::string& name,
                                                    int flags, bool primary) {
  TNestingGuard guard(FNesting, *this);
  AddArgument(*node, primary ? ParsePrimary(flags) : ParseAdditive(flags));
  ExpectRightParen("Right parentheses expected after " + name +
                   " function argument, instead found '");
  return node;
}

namespace {
std::string ArgumentsMessage(const std::string& name) {
  return "Right parentheses expected after " + name + " function arguments, instead found '";
}
}  // namespace

TExpTokenPtr TExpressionParser::ParseSubstring(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  SetResultType(*node, kFieldTypeString, 0);
  AddArgument(*node, ParseAdditive(flags));
  ExpectKeyword("FROM",
                "FROM keyword expected after first SUBSTRING function argument, "
                "instead found '");
  AddArgument(*node, ParseAdditive(flags));
  if (IsKeyword("FOR")) {
    NextToken();
    AddArgument(*node, ParseAdditive(flags));
  }
  ExpectRightParen(ArgumentsMessage("SUBSTRING"));
  return node;
}

TExpTokenPtr TExpressionParser::ParseReplace(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  SetResultType(*node, kFieldTypeString, 0);
  AddArgument(*node, ParseAdditive(flags));
  ExpectKeyword("WITH",
                "WITH keyword expected after first REPLACE function argument, "
                "instead found '");
  AddArgument(*node, ParseAdditive(flags));
  ExpectKeyword("IN",
                "IN keyword expected after second REPLACE function argument, "
                "instead found '");
  AddArgument(*node, ParseAdditive(flags));
  ExpectRightParen(ArgumentsMessage("REPLACE"));
  return node;
}

TExpTokenPtr TExpressionParser::ParsePosOrOccurs(TExpTokenPtr node, const std::string& name,
                                                 int flags) {
  TNestingGuard guard(FNesting, *this);
  SetResultType(*node, kFieldTypeInteger, 4);
  AddArgument(*node, ParseAdditive(flags));
  ExpectKeyword("IN",
                "IN keyword expected after first " + name + " function argument, instead found '");
  AddArgument(*node, ParseAdditive(flags));
  ExpectRightParen(ArgumentsMessage(name));
  return node;
}

TExpTokenPtr TExpressionParser::ParseCast(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  AddArgument(*node, ParseAdditive(flags));
  ExpectKeyword("AS", "AS keyword expected after first CAST function argument, instead found '");
  ParseDataType(*node, false);
  ExpectRightParen(ArgumentsMessage("CAST"));
  return node;
}

TExpTokenPtr TExpressionParser::ParseTrim(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  SetResultType(*node, kFieldTypeString, 0);
  if (IsKeyword("LEADING")) {
    node->FOperator = opTrimLeading;
  } else if (IsKeyword("TRAILING")) {
    node->FOperator = opTrimTrailing;
  } else if (!IsKeyword("BOTH")) {
    FailFound("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
  }
  NextToken();
  AddArgument(*node, ParsePrimary(flags));
  ExpectKeyword("FROM",
                "FROM keyword expected after second TRIM function argument, instead found '");
  AddArgument(*node, ParseAdditive(flags));
  ExpectRightParen(ArgumentsMessage("TRIM"));
  return node;
}

TExpTokenPtr TExpressionParser::ParseExtract(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  SetResultType(*node, kFieldTypeInteger, 4);
  const TExtractPart* part = nullptr;
  for (const TExtractPart& candidate : kExtractParts) {
    if (IsKeyword(candidate.Name)) part = &candidate;
  }
  if (part == nullptr) {
    FailFound(
        "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword "
        "expected after EXTRACT keyword, instead found '");
  }
  node->FOperator = part->Code;
  NextToken();
  ExpectKeyword("FROM",
                "FROM keyword expected after second EXTRACT function argument, instead found '");
  AddArgument(*node, ParseAdditive(flags));
  ExpectRightParen(ArgumentsMessage("EXTRACT"));
  return node;
}

TExpTokenPtr TExpressionParser::ParseRound(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  TExpTokenPtr value = ParseAdditive(flags);
  node->FDataType = value->FDataType;
  node->FDataSize = value->FDataSize;
  node->FScale = value->FScale;
  AddArgument(*node, std::move(value));
  if (IsKeyword("TO")) {
    NextToken();
    AddArgument(*node, ParsePrimary(flags));
  }
  ExpectRightParen(ArgumentsMessage("ROUND"));
  return node;
}

TExpTokenPtr TExpressionParser::ParseIf(TExpTokenPtr node, const std::string& name, int flags) {
  TNestingGuard guard(FNesting, *this);
  AddArgument(*node, ParseExpression(node->FOperator == opIf ? flags | kAllowPredicates : flags));
  if (!IsKeyword("THEN") && !IsToken(',')) {
    FailFound("THEN keyword or comma expected after first " + name +
              " function argument, instead found '");
  }
  NextToken();
  AddArgument(*node, ParseAdditive(flags));
  if (!IsKeyword("ELSE") && !IsToken(',')) {
    FailFound("ELSE keyword or comma expected after second " + name +
              " function argument, instead found '");
  }
  NextToken();
  AddArgument(*node, ParseAdditive(flags));
  ExpectRightParen(ArgumentsMessage(name));
  return node;
}

TExpTokenPtr TExpressionParser::ParseCoalesce(TExpTokenPtr node, int flags) {
  TNestingGuard guard(FNesting, *this);
  for (;;) {
    AddArgument(*node, ParseAdditive(flags));
    if (!IsToken(',')) break;
    NextToken();
  }
  ExpectRightParen(
      "Expected right parentheses after COALESCE expression arguments, instead found '");
  return node;
}

TExpTokenPtr TExpressionParser::ParseTextSearch(TExpTokenPtr node, const std::string& name,
                                                int flags) {
  TNestingGuard guard(FNesting, *this);
  if (node->FOperator == opTextSearch) {
    SetResultType(*node, kFieldTypeBoolean, 2);
  } else {
    SetResultType(*node, kFieldTypeInteger, 4);
  }
  AddArgument(*node, ParseAdditive(flags));
  ExpectKeyword("IN",
                "IN keyword expected after first " + name + " function argument, instead found '");
  AddArgument(*node, ParsePrimary(flags));
  ExpectRightParen("Right parentheses expected after " + name +
                   " function argument, instead found '");
  return node;
}

// --- Data types -----------------------------------------------------------------------------

namespace {

enum class TTypeArguments { None, Optional, Required, OptionalBlob };

struct TDataTypeName {
  std::string_view Keyword;
  std::uint8_t Type;
  std::uint8_t SubType;
  TTypeArguments Arguments;
};

constexpr std::array kDataTypes{
    TDataTypeName{"SMALLINT", kFieldTypeSmallInt, 0, TTypeArguments::None},
    TDataTypeName{"WORD", kFieldTypeWord, 0, TTypeArguments::None},
    TDataTypeName{"INTEGER", kFieldTypeInteger, 0, TTypeArguments::None},
    TDataTypeName{"INT", kFieldTypeInteger, 0, TTypeArguments::None},
    TDataTypeName{"LARGEINT", kFieldTypeLargeInt, 0, TTypeArguments::None},
    TDataTypeName{"AUTOINC", kFieldTypeInteger, kSubTypeAutoInc, TTypeArguments::None},
    TDataTypeName{"DECIMAL", kFieldTypeBcd, 0, TTypeArguments::Optional},
    TDataTypeName{"NUMERIC", kFieldTypeBcd, 0, TTypeArguments::Optional},
    TDataTypeName{"FLOAT", kFieldTypeFloat, 0, TTypeArguments::Optional},
    TDataTypeName{"MONEY", kFieldTypeFloat, kSubTypeMoney, TTypeArguments::None},
    TDataTypeName{"CHARACTER", kFieldTypeString, 0, TTypeArguments::Required},
    TDataTypeName{"CHAR", kFieldTypeString, 0, TTypeArguments::Required},
    TDataTypeName{"VARCHAR", kFieldTypeString, 0, TTypeArguments::Required},
    TDataTypeName{"BYTES", kFieldTypeBytes, 0, TTypeArguments::Required},
    TDataTypeName{"VARBYTES", kFieldTypeBytes, 0, TTypeArguments::Required},
    TDataTypeName{"BINARY", kFieldTypeBytes, 0, TTypeArguments::Required},
    TDataTypeName{"VARBINARY", kFieldTypeBytes, 0, TTypeArguments::Required},
    TDataTypeName{"DATE", kFieldTypeDate, 0, TTypeArguments::None},
    TDataTypeName{"TIME", kFieldTypeTime, 0, TTypeArguments::None},
    TDataTypeName{"TIMESTAMP", kFieldTypeTimestamp, 0, TTypeArguments::None},
    TDataTypeName{"BOOLEAN", kFieldTypeBoolean, 0, TTypeArguments::None},
    TDataTypeName{"BOOL", kFieldTypeBoolean, 0, TTypeArguments::None},
    TDataTypeName{"BIT", kFieldTypeBoolean, 0, TTypeArguments::None},
    TDataTypeName{"BLOB", kFieldTypeBlob, kSubTypeBinaryBlob, TTypeArguments::OptionalBlob},
    TDataTypeName{"LONGVARBINARY", kFieldTypeBlob, kSubTypeBinaryBlob, TTypeArguments::None},
    TDataTypeName{"LONGVARCHAR", kFieldTypeBlob, kSubTypeMemo, TTypeArguments::None},
    TDataTypeName{"MEMO", kFieldTypeBlob, kSubTypeMemo, TTypeArguments::None},
    TDataTypeName{"GRAPHIC", kFieldTypeBlob, kSubTypeGraphic, TTypeArguments::None},
};

}  // namespace

bool TExpressionParser::ParseDataType(TExpToken& node, bool optional) {
  const TDataTypeName* type = nullptr;
  for (const TDataTypeName& candidate : kDataTypes) {
    if (IsKeyword(candidate.Keyword)) type = &candidate;
  }
  if (type == nullptr) {
    if (optional) return false;
    FailFound("SQL data type keyword expected, instead found '");
  }
  std::string keyword = TokenText();
  node.FDataType = type->Type;
  node.FSubType = type->SubType;
  node.FDataSize = StoredSize(type->Type, 0);
  NextToken();
  // The type's arguments are the node's second and third arguments.
  while (node.FArgs.size() < 1) node.FArgs.push_back(nullptr);
  switch (type->Arguments) {
    case TTypeArguments::None:
      break;
    case TTypeArguments::Required:
      ParseTypeArguments(node, keyword, true, false);
      break;
    case TTypeArguments::Optional:
      if (IsToken('(')) ParseTypeArguments(node, keyword, false, true);
      break;
    case TTypeArguments::OptionalBlob:
      if (IsToken('(')) {
        node.FSubType = 0;
        ParseTypeArguments(node, "BLOB", false, true);
      }
      break;
  }
  return true;
}

void TExpressionParser::ParseTypeArguments(TExpToken& node, const std::string& keyword,
                                           bool required, bool twoArguments) {
  if (required && !IsToken('(')) {
    FailFound("Left parentheses expected after " + keyword + " data type, instead found '");
  }
  TNestingGuard guard(FNesting, *this);
  NextToken();
  AddArgument(node, ParsePrimary(0));
  if (twoArguments && !IsToken(')')) {
    if (!IsToken(',')) {
      FailFound("Comma expected after first " + keyword + " argument, instead found '");
    }
    NextToken();
    AddArgument(node, ParsePrimary(0));
  }
  ExpectRightParen("Right parentheses expected after " + keyword +
                   " data type arguments, instead found '");
}

}  // namespace kura
