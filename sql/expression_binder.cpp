#include "sql/expression_binder.h"

#include <algorithm>
#include <cstring>

#include "base/engine_error.h"
#include "sql/expression_values.h"
#include "storage/field_types.h"
#include "storage/field_values.h"

namespace kura {

namespace {

bool IsInteger(std::uint8_t t) {
  return IsIntegerType(t);
}
bool IsNumber(std::uint8_t t) {
  return IsNumericType(t);
}
bool IsMemo(const TExpToken& n) {
  return n.FDataType == kFieldTypeBlob && n.FSubType == kSubTypeMemo;
}
bool IsText(const TExpToken& n) {
  return IsStringLike(n.FDataType, n.FSubType);
}
bool IsUntypedNull(const TExpToken& n) {
  return n.FKind == kNodeConstant && n.FDataType == kUntyped && !n.FIsParam;
}
bool IsDateOrStamp(std::uint8_t t) {
  return t == kFieldTypeDate || t == kFieldTypeTimestamp;
}

}  // namespace

std::string_view NodeKindWord(const TExpToken& node) {
  switch (node.FKind) {
    case kNodeColumn:
      return "column";
    case kNodeConstant:
      return "constant";
    case kNodeFunction:
      return "function";
    default:
      return "expression";
  }
}

bool EqualityCompatible(const TExpToken& left, const TExpToken& right) {
  if (IsUntypedNull(right) || IsUntypedNull(left)) return true;
  if (left.FIsParam || right.FIsParam) return true;  // typed when the value is set
  std::uint8_t l = left.FDataType;
  std::uint8_t r = right.FDataType;
  if (IsDateOrStamp(l)) return IsDateOrStamp(r);
  if (IsText(left)) return IsText(right);
  if (l == kFieldTypeBlob) return false;
  if (IsNumber(l)) return IsNumber(r);
  if (l == kFieldTypeBoolean || l == kFieldTypeBytes || l == kFieldTypeTime) return l == r;
  return false;
}

namespace {

bool OrderingCompatible(const TExpToken& left, const TExpToken& right) {
  std::uint8_t l = left.FDataType;
  if (l == kFieldTypeBoolean || l == kFieldTypeBytes) return IsUntypedNull(right) || left.FIsParam;
  return EqualityCompatible(left, right);
}

class TBinder {
 public:
  TBinder(const TBindOptions& options, TColumnResolver* resolver)
      : FOptions(options), FResolver(resolver) {}

  void Bind(TExpToken* parent, TExpToken& node);
  void ConvertDateConstant(TExpToken& constant, const TExpToken& other);

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    constexpr std::size_t kMaxMessageLength = 255;
    RaiseEngineError(FOptions.ErrorCode, {}, {}, FOptions.DatabaseName, FOptions.TableName, {}, {},
                     std::string_view(message).substr(0, kMaxMessageLength));
  }
  [[noreturn]] void FailIn(const std::string& message) const {
    Fail(message + " in " + FOptions.ContextName);
  }
  [[noreturn]] void FailOperands(const TExpToken& left, const TExpToken& right) const {
    FailIn("Type mismatch between " + std::string(NodeKindWord(left)) + " '" + left.FText +
           "' and " + std::string(NodeKindWord(right)) + " '" + right.FText + "'");
  }

  void BindStringAsColumn(TExpToken& node);
  void RevertToString(TExpToken& node);
  void BindColumn(TExpToken* parent, TExpToken& node);
  void BindUnary(TExpToken& node);
  void BindBinary(TExpToken& node);
  void CheckBinaryTypes(TExpToken& node, TExpToken& left, TExpToken& right);
  void SetArithmeticType(TExpToken& node, const TExpToken& left, const TExpToken& right);
  void BindPredicate(TExpToken& node);
  void BindSubSelect(TExpToken& node);
  void BindFunction(TExpToken& node);
  void BindAggregate(TExpToken& node);
  void BindStringFunction(TExpToken& node);
  void BindCast(TExpToken& node);
  void BindExtract(TExpToken& node);
  void BindRound(TExpToken& node);
  void BindChoice(TExpToken& node);
  void BindTextSearch(TExpToken& node);
  void BindTableName(TExpToken& node);

  const TBindOptions& FOptions;
  TColumnResolver* FResolver;
};

void TBinder::Bind(TExpToken* parent, TExpToken& node) {
  switch (node.FKind) {
    case kNodeConstant:
      if (FOptions.StringConstantsAsColumns && !node.FIsParam &&
          node.FDataType == kFieldTypeString && !node.FIsNull && node.FText != "*") {
        BindStringAsColumn(node);
      }
      break;
    case kNodeColumn:
      BindColumn(parent, node);
      break;
    case kNodeUnary:
      BindUnary(node);
      break;
    case kNodeBinary:
    case kNodeCompare:
      BindBinary(node);
      break;
    case kNodePredicate:
      BindPredicate(node);
      break;
    case kNodeSubSelect:
      BindSubSelect(node);
      break;
    case kNodeFunction:
      BindFunction(node);
      break;
    default:
      break;
  }
}

// --- Columns --------------------------------------------------------------------------------

void TBinder::BindStringAsColumn(TExpToken& node) {
  if (FResolver == nullptr) return;
  std::uint8_t type = node.FDataType;
  std::uint8_t subType = node.FSubType;
  std::int32_t size = node.FDataSize;
  std::uint8_t scale = node.FScale;
  node.FColumnName = node.FText.substr(0, kMaxTokenNameLength);
  if (!FResolver->ResolveColumn(node)) {
    node.FColumnName.clear();
    node.FDataType = type;
    node.FSubType = subType;
    node.FDataSize = size;
    node.FScale = scale;
    return;
  }
  node.FKind = kNodeColumn;
  node.FWrittenAsString = true;
  node.FSavedDataType = type;
  node.FSavedSubType = subType;
  node.FSavedDataSize = size;
  node.FSavedScale = scale;
}

void TBinder::RevertToString(TExpToken& node) {
  node.FKind = kNodeConstant;
  node.FWrittenAsString = false;
  node.FColumnName.clear();
  node.FFieldNo = 0;
  node.FSourceTable = nullptr;
  node.FDataType = node.FSavedDataType;
  node.FSubType = node.FSavedSubType;
  node.FDataSize = node.FSavedDataSize;
  node.FScale = node.FSavedScale;
}

void TBinder::BindColumn(TExpToken* parent, TExpToken& node) {
  if (FResolver == nullptr || !FResolver->ResolveColumn(node)) {
    FailIn("Invalid column name '" + node.FColumnName + "' or table correlation name '" +
           node.FTableName + "' specified");
  }
  bool standsAlone = parent == nullptr || parent->FOperator == opNot ||
                     parent->FOperator == opAnd || parent->FOperator == opOr;
  if (!FOptions.BooleanColumnsStandAlone || node.FDataType != kFieldTypeBoolean || !standsAlone ||
      (parent != nullptr && parent->FKind != kNodeUnary && parent->FKind != kNodeBinary)) {
    return;
  }
  // Rewrite in place as "column = True": the column moves into a new left operand.
  TExpTokenPtr column = NewToken();
  column->FText = node.FText;
  column->FKind = kNodeColumn;
  column->FColumnName = node.FColumnName;
  column->FTableName = node.FTableName;
  column->FFieldNo = node.FFieldNo;
  column->FSourceTable = node.FSourceTable;
  column->FDataType = node.FDataType;
  column->FSubType = node.FSubType;
  column->FDataSize = node.FDataSize;
  column->FScale = node.FScale;
  TExpTokenPtr truth = NewToken();
  truth->FKind = kNodeConstant;
  truth->FText = "True";
  SetBoolean(*truth, true);
  node.FKind = kNodeBinary;
  node.FOperator = opEqual;
  node.FText.assign(1, '=');
  node.FColumnName.clear();
  node.FTableName.clear();
  node.FFieldNo = 0;
  node.FSourceTable = nullptr;
  node.FDataType = kFieldTypeBoolean;
  node.FSubType = 0;
  node.FDataSize = 2;
  node.FScale = 0;
  node.FLeft = column.release();
  node.FRight = truth.release();
  node.FDepth = 2;
}

// --- Operators ------------------------------------------------------------------------------

void TBinder::BindUnary(TExpToken& node) {
  TExpToken& operand = *node.FLeft;
  Bind(&node, operand);
  std::uint8_t t = operand.FDataType;
  bool ok = false;
  switch (node.FOperator) {
    case opNot:
    case opIsBlank:
    case opIsNotBlank:
      ok = node.FOperator != opNot || t == kFieldTypeBoolean || IsUntypedNull(operand);
      node.FDataType = kFieldTypeBoolean;
      node.FSubType = 0;
      node.FDataSize = 2;
      node.FScale = 0;
      break;
    default:
      ok = t == kUntyped || t == kFieldTypeDate || t == kFieldTypeSmallInt ||
           t == kFieldTypeInteger || t == kFieldTypeFloat || t == kFieldTypeBcd ||
           t == kFieldTypeTime || t == kFieldTypeTimestamp || t == kFieldTypeLargeInt ||
           (node.FOperator == opPlusSign && t == kFieldTypeWord);
      node.FDataType = t;
      node.FSubType = operand.FSubType == kSubTypeAutoInc ? 0 : operand.FSubType;
      node.FDataSize = operand.FDataSize;
      node.FScale = operand.FScale;
      break;
  }
  if (!ok) {
    FailIn("Type mismatch between '" + node.FText + "' operator and '" + operand.FText + "'");
  }
}

void TBinder::ConvertDateConstant(TExpToken& constant, const TExpToken& other) {
  if (constant.FKind != kNodeConstant || constant.FIsParam ||
      constant.FDataType != kFieldTypeString || !IsDateTimeType(other.FDataType)) {
    return;
  }
  TExpTokenPtr converted = NewToken();
  std::string text(ReadString(constant));
  bool ok = false;
  if (other.FDataType == kFieldTypeDate) {
    if (auto day = DateFromText(text)) SetDate(*converted, *day), ok = true;
  } else if (other.FDataType == kFieldTypeTime) {
    if (auto time = TimeFromText(text)) SetTime(*converted, *time), ok = true;
  } else if (auto stamp = TimestampFromText(text)) {
    SetTimestamp(*converted, *stamp), ok = true;
  } else if (auto day = DateFromText(text)) {
    SetTimestamp(*converted, EncodeTimestamp(*day, 0)), ok = true;
  }
  if (!ok) {
    FailIn("Date, time, or timestamp expression expected, instead found '" + constant.FText + "'");
  }
  CopyValue(*converted, constant);
}

void TBinder::BindBinary(TExpToken& node) {
  TExpToken& left = *node.FLeft;
  TExpToken& right = *node.FRight;
  Bind(&node, left);
  Bind(&node, right);
  std::uint8_t op = node.FOperator;
  bool comparison = op >= opEqual && op <= opLessEqual;
  if ((comparison || op == opAdd) && left.FKind == kNodeColumn && right.FKind == kNodeColumn) {
    // 'Name' = Name: a quoted operand facing a column is the text, not a second column.
    if (right.FWrittenAsString) {
      RevertToString(right);
    } else if (left.FWrittenAsString) {
      RevertToString(left);
    }
  }
  if (comparison || op == opAdd || op == opSubtract) {
    ConvertDateConstant(right, left);
    ConvertDateConstant(left, right);
  }
  CheckBinaryTypes(node, left, right);
}

void TBinder::CheckBinaryTypes(TExpToken& node, TExpToken& left, TExpToken& right) {
  std::uint8_t op = node.FOperator;
  std::uint8_t l = left.FDataType;
  std::uint8_t r = right.FDataType;
  bool ok = false;
  if (op == opEqual || op == opNotEqual) {
    ok = EqualityCompatible(left, right);
  } else if (op >= opGreater && op <= opLessEqual) {
    ok = OrderingCompatible(left, right);
  } else if (op == opAnd || op == opOr) {
    ok = (l == kFieldTypeBoolean || IsUntypedNull(left)) &&
         (r == kFieldTypeBoolean || IsUntypedNull(right));
  } else if (IsUntypedNull(left) || IsUntypedNull(right) || left.FIsParam || right.FIsParam) {
    ok = true;
  } else if (op == opAdd) {
    if (IsDateTimeType(l))
      ok = IsInteger(r);
    else if (IsText(left))
      ok = IsText(right);
    else if (IsInteger(l))
      ok = IsNumber(r) || IsDateTimeType(r);
    else if (l == kFieldTypeFloat || l == kFieldTypeBcd)
      ok = IsNumber(r);
  } else if (op == opSubtract) {
    if (l == kFieldTypeDate)
      ok = r == kFieldTypeDate || IsInteger(r);
    else if (IsNumber(l))
      ok = IsNumber(r);
    else if (l == kFieldTypeTime)
      ok = r == kFieldTypeTime || IsInteger(r);
    else if (l == kFieldTypeTimestamp)
      ok = IsDateTimeType(r) || IsInteger(r);
  } else if (op == opMultiply || op == opDivide) {
    ok = IsNumber(l) && IsNumber(r);
  }
  if (!ok) FailOperands(left, right);
  if (op >= opEqual && op <= opOr) {
    node.FDataType = kFieldTypeBoolean;
    node.FSubType = 0;
    node.FDataSize = 2;
    node.FScale = 0;
    return;
  }
  SetArithmeticType(node, left, right);
}

void TBinder::SetArithmeticType(TExpToken& node, const TExpToken& left, const TExpToken& right) {
  std::uint8_t op = node.FOperator;
  std::uint8_t l = left.FDataType;
  std::uint8_t r = right.FDataType;
  std::uint8_t result = l;
  if (l == kUntyped || left.FIsParam)
    result = r;
  else if (r == kUntyped || right.FIsParam)
    result = l;
  else if (op == opAdd && IsText(left))
    result = (IsMemo(left) || IsMemo(right)) ? kFieldTypeBlob : kFieldTypeString;
  else if (IsDateTimeType(l) && IsInteger(r))
    result = l;
  else if (IsInteger(l) && IsDateTimeType(r))
    result = r;
  else if (op == opSubtract && IsDateTimeType(l) && IsDateTimeType(r)) {
    result = (l == kFieldTypeTimestamp && r == kFieldTypeTimestamp) ? kFieldTypeFloat
                                                                    : kFieldTypeInteger;
  } else if (op == opDivide) {
    if (l == kFieldTypeFloat || r == kFieldTypeFloat)
      result = kFieldTypeFloat;
    else if (l == kFieldTypeBcd || r == kFieldTypeBcd)
      result = kFieldTypeBcd;
    else
      result = kFieldTypeFloat;
  } else if (IsInteger(l) && IsInteger(r)) {
    result = (l == kFieldTypeLargeInt || r == kFieldTypeLargeInt) ? kFieldTypeLargeInt
                                                                  : kFieldTypeInteger;
  } else if (l == kFieldTypeFloat || r == kFieldTypeFloat) {
    result = kFieldTypeFloat;
  } else if (l == kFieldTypeBcd || r == kFieldTypeBcd) {
    result = kFieldTypeBcd;
  }
  node.FDataType = result;
  bool leftMoney = left.FSubType == kSubTypeMoney;
  bool rightMoney = right.FSubType == kSubTypeMoney;
  bool money = (op == opAdd || op == opMultiply) ? (leftMoney || rightMoney) : leftMoney;
  node.FSubType = (result == kFieldTypeFloat && money) ? kSubTypeMoney : 0;
  node.FScale = 0;
  if (result == kFieldTypeBlob) {
    node.FSubType = kSubTypeMemo;
    node.FDataSize = 8;
  } else if (result == kFieldTypeString) {
    node.FDataSize = std::max(1, left.FDataSize) + std::max(1, right.FDataSize) - 1;
  } else if (result == kFieldTypeBcd) {
    node.FDataSize = kBcdStoredSize;
    node.FScale = std::max(left.FScale, right.FScale);
  } else {
    node.FDataSize = FixedSizeOf(result);
  }
}

// --- Predicates -----------------------------------------------------------------------------

void TBinder::BindPredicate(TExpToken& node) {
  for (TExpToken* arg : node.FArgs) Bind(&node, *arg);
  TExpToken& value = *node.FArgs[0];
  node.FDataType = kFieldTypeBoolean;
  node.FDataSize = 2;
  auto mismatch = [&](const TExpToken& operand) {
    FailIn("Type mismatch between " + node.FText + " operator and expression '" + operand.FText +
           "'");
  };
  if (node.FOperator == opLike || node.FOperator == opNotLike) {
    TExpToken& pattern = *node.FArgs[1];
    if (!IsText(value) && !IsUntypedNull(value) && !value.FIsParam) mismatch(value);
    if (pattern.FDataType != kFieldTypeString && !IsUntypedNull(pattern) && !pattern.FIsParam) {
      mismatch(pattern);
    }
    return;
  }
  if (node.FOperator == opInSubSelect || node.FOperator == opNotInSubSelect) {
    TExpToken& select = *node.FArgs[1];
    if (!EqualityCompatible(value, select)) mismatch(select);
    return;
  }
  for (std::size_t i = 1; i < node.FArgs.size(); ++i) {
    TExpToken& operand = *node.FArgs[i];
    ConvertDateConstant(operand, value);
    if (!EqualityCompatible(value, operand)) mismatch(operand);
  }
}

void TBinder::BindSubSelect(TExpToken& node) {
  if (node.FSubQuery == nullptr) return;
  if (node.FSubQuery->ColumnCount() != 1) FailIn("More than 1 column for sub-select  specified");
  if (!node.FSubQuery->BindColumn(node)) {
    FailIn("Invalid column name '" + node.FColumnName + "' or table correlation name '" +
           node.FTableName + "' specified");
  }
}

// --- Functions ------------------------------------------------------------------------------

void TBinder::BindFunction(TExpToken& node) {
  std::uint8_t op = node.FOperator;
  if (op >= opSum && op <= opAvg) return BindAggregate(node);
  if (op == opCast) return BindCast(node);
  if (op >= opExtractYear && op <= opExtractSecond) return BindExtract(node);
  if (op == opRound) return BindRound(node);
  if (op == opIf || op == opIfNull || op == opCoalesce) return BindChoice(node);
  if (op == opTextSearch || op == opTextOccurs) return BindTextSearch(node);
  if (op == opLastAutoInc || op == opIdentCurrent) return BindTableName(node);
  if (op == opAbs) {
    TExpToken& arg = *node.FArgs[0];
    Bind(&node, arg);
    if (!IsNumber(arg.FDataType)) {
      FailIn("Expression argument of ABS function must be an integer, floating-point, or BCD type");
    }
    node.FDataType = arg.FDataType;
    node.FSubType = arg.FSubType == kSubTypeAutoInc ? 0 : arg.FSubType;
    node.FDataSize = arg.FDataSize;
    node.FScale = arg.FScale;
    return;
  }
  BindStringFunction(node);
}

void TBinder::BindAggregate(TExpToken& node) {
  TExpToken& arg = *node.FArgs[0];
  if (!(arg.FKind == kNodeColumn && arg.FColumnName == "*")) Bind(&node, arg);
  std::uint8_t op = node.FOperator;
  std::uint8_t t = arg.FDataType;
  std::string name = node.FText;
  node.FScale = arg.FScale;
  node.FSubType = arg.FSubType == kSubTypeAutoInc ? 0 : arg.FSubType;
  if (op == opCount) {
    node.FDataType = kFieldTypeInteger;
    node.FSubType = 0;
  } else if (op == opSum || op == opRunSum) {
    if (!IsNumber(t)) FailIn(name + " aggregate function must contain a numeric expression");
    if (t == kFieldTypeSmallInt || t == kFieldTypeWord)
      node.FDataType = kFieldTypeInteger;
    else if (t == kFieldTypeInteger)
      node.FDataType = kFieldTypeLargeInt;
    else
      node.FDataType = t;
  } else {
    if (!IsNumber(t) && !IsDateTimeType(t)) {
      FailIn(name +
             " aggregate function must contain a numeric, date, time, or timestamp expression");
    }
    node.FDataType = (op == opAvg && IsInteger(t)) ? kFieldTypeFloat : t;
  }
  node.FDataSize = node.FDataType == kFieldTypeBcd ? kBcdStoredSize : FixedSizeOf(node.FDataType);
}

void TBinder::BindStringFunction(TExpToken& node) {
  for (TExpToken* arg : node.FArgs) Bind(&node, *arg);
  std::uint8_t op = node.FOperator;
  auto text = [&](std::size_t i) { return IsText(*node.FArgs[i]); };
  auto string = [&](std::size_t i) { return node.FArgs[i]->FDataType == kFieldTypeString; };
  auto integer = [&](std::size_t i) { return IsInteger(node.FArgs[i]->FDataType); };
  switch (op) {
    case opUpper:
    case opLower: {
      if (!text(0))
        FailIn("Type mismatch between " + node.FText + " function and function argument");
      const TExpToken& arg = *node.FArgs[0];
      node.FDataType = arg.FDataType;
      node.FSubType = arg.FSubType;
      node.FDataSize = arg.FDataSize;
      return;
    }
    case opLength:
      if (!text(0)) FailIn("Type mismatch between LENGTH function and function argument");
      return;
    case opSubstring:
      if (!text(0)) FailIn("Expression argument of SUBSTRING function must be a string or memo");
      if (!integer(1)) FailIn("FROM argument of SUBSTRING function must be an integer value");
      if (node.FArgs.size() > 2 && !integer(2)) {
        FailIn("FOR argument of SUBSTRING function must be an integer value");
      }
      node.FDataSize = std::max(1, node.FArgs[0]->FDataSize);
      return;
    case opReplace:
      if (!text(2)) FailIn("IN argument of REPLACE function must be a string or memo");
      if (!string(0)) FailIn("Type mismatch between REPLACE function and search string argument");
      if (!string(1)) FailIn("Type mismatch between OCCURS function and WITH argument");
      node.FDataSize = std::max(1, node.FArgs[2]->FDataSize);
      return;
    case opPos:
    case opOccurs:
      if (!text(1)) FailIn("Type mismatch between " + node.FText + " function and IN argument");
      if (!string(0)) {
        FailIn("Type mismatch between " + node.FText + " function and search string argument");
      }
      return;
    default: {  // TRIM
      if (!text(1)) FailIn("FROM argument of TRIM function must be a string or memo");
      const TExpToken& c = *node.FArgs[0];
      if (c.FKind != kNodeConstant || c.FDataType != kFieldTypeString || c.FDataSize != 2) {
        FailIn("Trim character argument of TRIM function must be a single character constant");
      }
      node.FDataSize = std::max(1, node.FArgs[1]->FDataSize);
      return;
    }
  }
}

bool CastAllowed(std::uint8_t target, std::uint8_t source) {
  using namespace std;
  auto any = [&](initializer_list<uint8_t> types) {
    return find(types.begin(), types.end(), source) != types.end();
  };
  switch (target) {
    case kFieldTypeString:
    case kFieldTypeBlob:
    case kFieldTypeBytes:
      return true;
    case kFieldTypeDate:
      return any({kFieldTypeString, kFieldTypeDate, kFieldTypeBytes, kFieldTypeTimestamp});
    case kFieldTypeTime:
      return any({kFieldTypeString, kFieldTypeBytes, kFieldTypeTime, kFieldTypeTimestamp});
    case kFieldTypeTimestamp:
      return any(
          {kFieldTypeString, kFieldTypeDate, kFieldTypeBytes, kFieldTypeTime, kFieldTypeTimestamp});
    case kFieldTypeBoolean:
      return any({kFieldTypeString, kFieldTypeBoolean, kFieldTypeSmallInt, kFieldTypeInteger,
                  kFieldTypeBcd, kFieldTypeBytes, kFieldTypeWord, kFieldTypeLargeInt});
    case kFieldTypeSmallInt:
    case kFieldTypeWord:
      return any({kFieldTypeString, kFieldTypeBoolean, kFieldTypeSmallInt, kFieldTypeInteger,
                  kFieldTypeFloat, kFieldTypeBcd, kFieldTypeBytes, kFieldTypeWord,
                  kFieldTypeLargeInt});
    default:
      return any({kFieldTypeString, kFieldTypeSmallInt, kFieldTypeInteger, kFieldTypeFloat,
                  kFieldTypeBcd, kFieldTypeBytes, kFieldTypeWord, kFieldTypeLargeInt});
  }
}

// The integer value of a constant type argument, or false.
bool IntegerConstant(const TExpToken* arg, std::int64_t& value) {
  if (arg == nullptr || arg->FKind != kNodeConstant || arg->FIsNull ||
      !IsIntegerType(arg->FDataType)) {
    return false;
  }
  value = ReadInteger(*arg);
  return true;
}

void TBinder::BindCast(TExpToken& node) {
  TExpToken& arg = *node.FArgs[0];
  Bind(&node, arg);
  std::uint8_t target = node.FDataType;
  if (!IsUntypedNull(arg) && !arg.FIsParam && !CastAllowed(target, arg.FDataType)) {
    FailIn("Type mismatch between " + std::string(NodeKindWord(arg)) + " '" + arg.FText +
           "' and AS argument");
  }
  const TExpToken* first = node.FArgs.size() > 1 ? node.FArgs[1] : nullptr;
  const TExpToken* second = node.FArgs.size() > 2 ? node.FArgs[2] : nullptr;
  std::int64_t n = 0;
  if (target == kFieldTypeString || target == kFieldTypeBytes) {
    if (first == nullptr) {
      std::int32_t size = arg.FDataSize > 0 ? arg.FDataSize : 10;
      node.FDataSize = target == kFieldTypeString ? size : size;
      return;
    }
    if (!IntegerConstant(first, n)) FailIn("Length argument must be an integer");
    if (n <= 0 || n > kMaxDeclaredSize) {
      FailIn("Length argument must be an integer greater than 0 and less than or equal to 250");
    }
    node.FDataSize = static_cast<std::int32_t>(target == kFieldTypeString ? n + 1 : n);
  } else if (target == kFieldTypeBcd) {
    node.FDataSize = kBcdStoredSize;
    node.FScale = 4;
    const TExpToken* scale = second;
    if (scale == nullptr) return;
    if (!IntegerConstant(scale, n)) FailIn("Scale argument must be an integer");
    if (n < 0 || n > 4) {
      Fail(
          "Scale argument must be an integer less than or equal to 4 but greater than or equal "
          "to 0 for the BCD data type " +
          FOptions.ContextName);
    }
    node.FScale = static_cast<std::uint8_t>(n);
  } else if (target == kFieldTypeBlob && first != nullptr) {
    if (!IntegerConstant(first, n)) FailIn("First BLOB type argument must be an integer");
    if (!IntegerConstant(second, n)) FailIn("BLOB type argument must be an integer");
    if (n != 1 && n != 2 && n != 3 && n != 5 && n != 7) {
      FailIn("BLOB type argument must be an integer with a value of 1,2,3,5, or 7");
    }
    node.FSubType = static_cast<std::uint8_t>(21 + n);
  }
}

void TBinder::BindExtract(TExpToken& node) {
  TExpToken& arg = *node.FArgs[0];
  Bind(&node, arg);
  if (arg.FKind == kNodeConstant && arg.FDataType == kFieldTypeString && !arg.FIsParam) {
    std::string text(ReadString(arg));
    if (auto day = DateFromText(text))
      SetDate(arg, *day);
    else if (auto time = TimeFromText(text))
      SetTime(arg, *time);
    else if (auto stamp = TimestampFromText(text))
      SetTimestamp(arg, *stamp);
  }
  if (!IsDateTimeType(arg.FDataType) && !IsUntypedNull(arg)) {
    FailIn("FROM argument of EXTRACT function must be a date, time, or timestamp");
  }
}

void TBinder::BindRound(TExpToken& node) {
  TExpToken& arg = *node.FArgs[0];
  Bind(&node, arg);
  if (arg.FDataType != kFieldTypeFloat && arg.FDataType != kFieldTypeBcd) {
    FailIn("Expression argument of ROUND function must be a floating-point or BCD type");
  }
  node.FDataType = arg.FDataType;
  node.FSubType = arg.FSubType;
  node.FDataSize = arg.FDataSize;
  node.FScale = arg.FScale;
  if (node.FArgs.size() < 2) return;
  std::int64_t digits = 0;
  if (!IntegerConstant(node.FArgs[1], digits)) {
    FailIn("Decimal places argument of ROUND function must be an integer constant");
  }
  if (digits < 0 || digits > 32) {
    FailIn(
        "Decimal places argument of ROUND function must be an integer constant between 0 and 32");
  }
}

void TBinder::BindChoice(TExpToken& node) {
  std::uint8_t op = node.FOperator;
  std::size_t first = op == opCoalesce ? 0 : 1;
  for (std::size_t i = 0; i < node.FArgs.size(); ++i) {
    TExpToken& arg = *node.FArgs[i];
    if (i < first) {
      Bind(&node, arg);
      if (op == opIf && arg.FDataType != kFieldTypeBoolean) {
        FailIn("First expression argument of IF function must be a boolean type");
      }
      continue;
    }
    TBindOptions options = FOptions;
    options.StringConstantsAsColumns = op == opIf ? true : FOptions.StringConstantsAsColumns;
    TBinder(options, FResolver).Bind(&node, arg);
  }
  const TExpToken* typed = nullptr;
  bool blob = false;
  std::int32_t size = 0;
  for (std::size_t i = first; i < node.FArgs.size(); ++i) {
    const TExpToken& arg = *node.FArgs[i];
    if (!IsUntypedNull(arg) && typed == nullptr) typed = &arg;
    blob = blob || arg.FDataType == kFieldTypeBlob;
    size = std::max(size, arg.FDataSize);
    if (i > first && !EqualityCompatible(*node.FArgs[i - 1], arg)) {
      FailIn("Type mismatch between " + node.FText + " expression arguments");
    }
  }
  if (typed == nullptr) {
    Fail("At least one of the " + node.FText + " expression arguments in " + FOptions.ContextName +
         " must be a non-NULL value");
  }
  const TExpToken& head = *node.FArgs[first];
  const TExpToken& model = IsUntypedNull(head) ? *typed : head;
  node.FDataType = model.FDataType;
  node.FSubType = model.FSubType == kSubTypeAutoInc ? 0 : model.FSubType;
  node.FScale = model.FScale;
  node.FDataSize = (model.FDataType == kFieldTypeString && !blob) ? size : model.FDataSize;
}

void TBinder::BindTextSearch(TExpToken& node) {
  TExpToken& words = *node.FArgs[0];
  TExpToken& column = *node.FArgs[1];
  Bind(&node, words);
  std::string name = node.FText;
  if (words.FDataType != kFieldTypeString && !IsUntypedNull(words)) {
    FailIn("Type mismatch between " + name + " function and search text function argument");
  }
  if (words.FKind != kNodeConstant)
    FailIn(name + " search text function argument must be a string constant");
  if (column.FKind != kNodeColumn)
    FailIn(name + " function column argument must be a valid column name");
  Bind(&node, column);
  if (!IsText(column))
    FailIn("Type mismatch between " + name + " function and column function argument");
  node.FDataType = node.FOperator == opTextSearch ? kFieldTypeBoolean : kFieldTypeInteger;
  node.FDataSize = node.FOperator == opTextSearch ? 2 : 4;
}

void TBinder::BindTableName(TExpToken& node) {
  TExpToken& table = *node.FArgs[0];
  std::string name = node.FText;
  if (table.FKind == kNodeConstant && table.FDataType != kFieldTypeString) {
    FailIn("Type mismatch between " + name + " function and table name function argument");
  }
  if (table.FKind != kNodeConstant) {
    FailIn(name + " table name function argument must be a string constant");
  }
  node.FDataType = kFieldTypeInteger;
  node.FDataSize = 4;
}

}  // namespace

void BindExpression(const TBindOptions& options, TColumnResolver* resolver, TExpToken* parent,
                    TExpToken& node) {
  TBinder(options, resolver).Bind(parent, node);
}

void ConvertDateConstant(const TBindOptions& options, TExpToken& constant,
                         const TExpToken& partner) {
  TBinder(options, nullptr).ConvertDateConstant(constant, partner);
}

}  // namespace kura
