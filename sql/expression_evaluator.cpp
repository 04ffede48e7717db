#include "sql/expression_evaluator.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "sql/expression_functions.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"

namespace kura {

bool IsTrue(const TExpToken& value) {
  return !value.FIsNull && value.FDataType == kFieldTypeBoolean && GetU16LE(value.Data()) != 0;
}

namespace {

bool IsTextValue(const TExpToken& n) {
  return n.FDataType == kFieldTypeString || n.FDataType == kFieldTypeBlob;
}

bool IsUntypedNullValue(const TExpToken& n) {
  return n.FDataType == kUntyped && n.FIsNull;
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// Compares two non-text values of comparable types: -1, 0, 1.
int CompareScalars(const TExpToken& l, const TExpToken& r) {
  std::uint8_t a = l.FDataType;
  std::uint8_t b = r.FDataType;
  if (a == kFieldTypeBoolean || b == kFieldTypeBoolean) {
    return Sign(ReadInteger(l) != 0, ReadInteger(r) != 0);
  }
  if (a == kFieldTypeBytes || a == kFieldTypeVarBytes) {
    std::size_t size = static_cast<std::size_t>(std::max(l.FDataSize, 0));
    size = std::min({size, l.FData.size(), r.FData.size()});
    int c = std::memcmp(l.Data(), r.Data(), size);
    return Sign(c, 0);
  }
  if ((a == kFieldTypeDate && b == kFieldTypeTimestamp) ||
      (a == kFieldTypeTimestamp && b == kFieldTypeDate)) {
    auto stamp = [](const TExpToken& n) {
      return n.FDataType == kFieldTypeDate
                 ? static_cast<double>(ReadInteger(n)) * kMillisecondsPerDay
                 : ReadFloat(n);
    };
    return Sign(stamp(l), stamp(r));
  }
  bool exactA = IsIntegerType(a) || a == kFieldTypeDate || a == kFieldTypeTime;
  bool exactB = IsIntegerType(b) || b == kFieldTypeDate || b == kFieldTypeTime;
  if (exactA && exactB) return Sign(ReadInteger(l), ReadInteger(r));
  bool fixedA = exactA || a == kFieldTypeBcd;
  bool fixedB = exactB || b == kFieldTypeBcd;
  if (fixedA && fixedB && (a == kFieldTypeBcd || b == kFieldTypeBcd)) {
    return Sign(ReadFixed(l), ReadFixed(r));
  }
  return Sign(ReadNumber(l), ReadNumber(r));
}

class TEvaluator {
 public:
  TEvaluator(const void* record, TColumnFetcher* fetcher, TEvalLocale locale)
      : FRecord(record), FFetcher(fetcher), FLocale(locale) {}

  TExpTokenPtr Eval(const TExpToken& node);
  // IsTrue(*Eval(node)), without result nodes for comparisons, predicates and logic.
  bool Test(const TExpToken& node);

 private:
  // The value of an operand: a constant is read in place, anything else evaluated into
  // holder. Saves a copy of every constant per record.
  const TExpToken& Operand(const TExpToken& node, TExpTokenPtr& holder);
  // Whether Eval(node) always answers a non-NULL boolean of Test(node).
  static bool AnswersBoolean(const TExpToken& node);
  bool TestComparison(const TExpToken& node);
  bool TestCompareNode(const TExpToken& node);
  bool TestPredicate(const TExpToken& node);
  TExpTokenPtr EvalColumn(const TExpToken& node);
  TExpTokenPtr EvalUnary(const TExpToken& node);
  TExpTokenPtr EvalLogical(const TExpToken& node);
  bool Compare(std::uint8_t op, const TExpToken& l, const TExpToken& r) const;
  bool Equal(const TExpToken& l, const TExpToken& r) const { return Compare(opEqual, l, r); }

  const void* FRecord;
  TColumnFetcher* FFetcher;
  TEvalLocale FLocale;
};

TExpTokenPtr Boolean(bool value) {
  TExpTokenPtr result = NewToken();
  result->FKind = kNodeConstant;
  SetBoolean(*result, value);
  return result;
}

TExpTokenPtr TEvaluator::Eval(const TExpToken& node) {
  switch (node.FKind) {
    case kNodeColumn:
      return EvalColumn(node);
    case kNodeUnary:
      return EvalUnary(node);
    case kNodeBinary:
      if (node.FOperator == opAnd || node.FOperator == opOr) return EvalLogical(node);
      if (node.FOperator >= opEqual && node.FOperator <= opLessEqual)
        return Boolean(TestComparison(node));
      {
        TExpTokenPtr leftHolder;
        TExpTokenPtr rightHolder;
        const TExpToken& left = Operand(*node.FLeft, leftHolder);
        const TExpToken& right = Operand(*node.FRight, rightHolder);
        return EvaluateArithmetic(node, left, right);
      }
    case kNodeCompare:
      return Boolean(TestCompareNode(node));
    case kNodePredicate:
      return Boolean(TestPredicate(node));
    case kNodeFunction: {
      TFunctionContext context{FLocale, FRecord, FFetcher,
                               [this](const TExpToken& arg) { return Eval(arg); }};
      return EvaluateFunction(node, context);
    }
    default: {  // constants, parameters, and anything without an evaluation of its own
      TExpTokenPtr result = NewToken();
      result->FKind = kNodeConstant;
      CopyValue(node, *result);
      return result;
    }
  }
}

TExpTokenPtr TEvaluator::EvalColumn(const TExpToken& node) {
  TExpTokenPtr result = NewToken();
  result->FKind = kNodeConstant;
  if (FFetcher == nullptr) {
    if (!node.FWrittenAsString) {
      RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {},
                       "Internal error: Column '" + node.FColumnName + "' specified illegally");
    }
    CopyValue(node, *result);
    result->FDataType = node.FSavedDataType;
    result->FSubType = node.FSavedSubType;
    result->FDataSize = node.FSavedDataSize;
    result->FScale = node.FSavedScale;
    return result;
  }
  result->FDataType = node.FDataType;
  result->FSubType = node.FSubType;
  result->FDataSize = node.FDataSize;
  result->FScale = node.FScale;
  result->FFieldNo = node.FFieldNo;
  result->FSourceTable = node.FSourceTable;
  FFetcher->FetchColumn(FRecord, *result);
  return result;
}

TExpTokenPtr TEvaluator::EvalUnary(const TExpToken& node) {
  TExpTokenPtr operand = Eval(*node.FLeft);
  switch (node.FOperator) {
    case opIsBlank:
      return Boolean(operand->FIsNull != 0);
    case opIsNotBlank:
      return Boolean(operand->FIsNull == 0);
    case opNot:
      return Boolean(ReadInteger(*operand) == 0);
    default:
      break;
  }
  TExpTokenPtr result = NewToken();
  result->FKind = kNodeConstant;
  CopyValue(*operand, *result);
  if (operand->FIsNull || node.FOperator == opPlusSign) {
    if (operand->FIsNull) SetNullValue(*result);
    return result;
  }
  switch (operand->FDataType) {
    case kFieldTypeFloat:
    case kFieldTypeTimestamp:
      PutF64LE(result->Data(), -ReadFloat(*operand));
      break;
    case kFieldTypeBcd:
      SetFixed(*result, -ReadFixed(*operand), operand->FScale);
      break;
    case kFieldTypeLargeInt: {
      const std::int64_t value = ReadInteger(*operand);
      if (value == std::numeric_limits<std::int64_t>::min())
        RaiseIntegerOverflow(node, operand->FDataType, operand->FSubType);
      PutI64LE(result->Data(), -value);
      break;
    }
    default:
      // The result keeps the operand's type: -(-32768) is no 16-bit value.
      StoreCheckedInteger(*result, -ReadInteger(*operand), node);
      break;
  }
  return result;
}

TExpTokenPtr TEvaluator::EvalLogical(const TExpToken& node) {
  return Boolean(Test(node));
}

const TExpToken& TEvaluator::Operand(const TExpToken& node, TExpTokenPtr& holder) {
  if (node.FKind == kNodeConstant) return node;
  holder = Eval(node);
  return *holder;
}

bool TEvaluator::AnswersBoolean(const TExpToken& node) {
  switch (node.FKind) {
    case kNodeBinary:
      return node.FOperator == opAnd || node.FOperator == opOr ||
             (node.FOperator >= opEqual && node.FOperator <= opLessEqual);
    case kNodeCompare:
    case kNodePredicate:
      return true;
    case kNodeUnary:
      return node.FOperator == opNot || node.FOperator == opIsBlank ||
             node.FOperator == opIsNotBlank;
    default:
      return false;
  }
}

bool TEvaluator::Test(const TExpToken& node) {
  if (node.FKind == kNodeBinary && (node.FOperator == opAnd || node.FOperator == opOr)) {
    // The right operand decides first; the left is evaluated only when it must be.
    const bool rightValue = Test(*node.FRight);
    if (node.FOperator == opAnd && !rightValue) return false;
    if (node.FOperator == opOr && rightValue) return true;
    return Test(*node.FLeft);
  }
  if (node.FKind == kNodeBinary && node.FOperator >= opEqual && node.FOperator <= opLessEqual)
    return TestComparison(node);
  if (node.FKind == kNodeCompare) return TestCompareNode(node);
  if (node.FKind == kNodePredicate) return TestPredicate(node);
  // NOT of a condition: its operand is a TRUE or FALSE, never NULL.
  if (node.FKind == kNodeUnary && node.FOperator == opNot && AnswersBoolean(*node.FLeft))
    return !Test(*node.FLeft);
  return IsTrue(*Eval(node));
}

bool TEvaluator::Compare(std::uint8_t op, const TExpToken& l, const TExpToken& r) const {
  if (op == opEqual || op == opNotEqual) {
    bool equal;
    if (IsUntypedNullValue(l) || IsUntypedNullValue(r)) {
      equal = l.FIsNull && r.FIsNull;
    } else if (l.FIsNull || r.FIsNull) {
      equal = l.FIsNull && r.FIsNull;
    } else if (IsTextValue(l) || IsTextValue(r)) {
      equal = CompareStrings(FLocale, l.Chars(), false, 0, r.Chars()) == 0;
    } else {
      equal = CompareScalars(l, r) == 0;
    }
    return op == opEqual ? equal : !equal;
  }
  int order;
  if (IsTextValue(l) && IsTextValue(r)) {
    // Strings order by their stored text whatever their NULL flags: NULL is the empty string.
    order = CompareStrings(FLocale, l.Chars(), false, 0, r.Chars());
  } else {
    // Exactly one NULL is FALSE; two NULLs compare their zeroed bytes, as equal values.
    if (l.FIsNull != r.FIsNull) return false;
    order = CompareScalars(l, r);
  }
  switch (op) {
    case opGreater:
      return order > 0;
    case opLess:
      return order < 0;
    case opGreaterEqual:
      return order >= 0;
    default:
      return order <= 0;
  }
}

bool TEvaluator::TestComparison(const TExpToken& node) {
  TExpTokenPtr leftHolder;
  TExpTokenPtr rightHolder;
  const TExpToken& left = Operand(*node.FLeft, leftHolder);
  const TExpToken& right = Operand(*node.FRight, rightHolder);
  return Compare(node.FOperator, left, right);
}

bool TEvaluator::TestCompareNode(const TExpToken& node) {
  TExpTokenPtr leftHolder;
  TExpTokenPtr rightHolder;
  const TExpToken& left = Operand(*node.FLeft, leftHolder);
  if (!IsTextValue(left)) return Compare(node.FOperator, left, Operand(*node.FRight, rightHolder));
  if (node.FOperator != opEqual && node.FOperator != opNotEqual) return false;
  const TExpToken& right = Operand(*node.FRight, rightHolder);
  bool equal;
  if (left.FIsNull || right.FIsNull) {
    equal = left.FIsNull && right.FIsNull;
  } else {
    equal = CompareStrings(FLocale, left.Chars(), node.FCaseInsensitive != 0, node.FPartialLength,
                           right.Chars()) == 0;
  }
  return node.FOperator == opEqual ? equal : !equal;
}

bool TEvaluator::TestPredicate(const TExpToken& node) {
  TExpTokenPtr valueHolder;
  const TExpToken& value = Operand(*node.FArgs[0], valueHolder);
  TExpTokenPtr holder;
  switch (node.FOperator) {
    case opLike:
    case opNotLike: {
      const TExpToken& pattern = Operand(*node.FArgs[1], holder);
      const bool like = !value.FIsNull && !pattern.FIsNull &&
                        MatchLike(FLocale, ReadString(value), ReadString(pattern));
      return node.FOperator == opLike ? like : !like;
    }
    case opBetween:
    case opNotBetween: {
      bool inside = Compare(opGreaterEqual, value, Operand(*node.FArgs[1], holder));
      holder.reset();
      if (inside) inside = Compare(opLessEqual, value, Operand(*node.FArgs[2], holder));
      return node.FOperator == opBetween ? inside : !inside;
    }
    case opInSubSelect:
    case opNotInSubSelect: {
      TSubQuery* query = node.FArgs[1]->FSubQuery;
      const bool found = query != nullptr && query->Contains(value);
      return node.FOperator == opInSubSelect ? found : !found;
    }
    default: {  // IN and NOT IN with a list
      bool found = false;
      for (std::size_t i = 1; i < node.FArgs.size() && !found; ++i) {
        holder.reset();
        found = Equal(value, Operand(*node.FArgs[i], holder));
      }
      return node.FOperator == opIn ? found : !found;
    }
  }
}

}  // namespace

TExpTokenPtr EvaluateExpression(const TExpToken& node, const void* record, TColumnFetcher* fetcher,
                                TEvalLocale locale) {
  return TEvaluator(record, fetcher, locale).Eval(node);
}

bool EvaluateCondition(const TExpToken& node, const void* record, TColumnFetcher* fetcher,
                       TEvalLocale locale) {
  return TEvaluator(record, fetcher, locale).Test(node);
}

}  // namespace kura
