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

 private:
  TExpTokenPtr EvalColumn(const TExpToken& node);
  TExpTokenPtr EvalUnary(const TExpToken& node);
  TExpTokenPtr EvalLogical(const TExpToken& node);
  TExpTokenPtr EvalComparison(const TExpToken& node);
  TExpTokenPtr EvalCompareNode(const TExpToken& node);
  TExpTokenPtr EvalPredicate(const TExpToken& node);
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
      if (node.FOperator >= opEqual && node.FOperator <= opLessEqual) return EvalComparison(node);
      {
        TExpTokenPtr left = Eval(*node.FLeft);
        TExpTokenPtr right = Eval(*node.FRight);
        return EvaluateArithmetic(node, *left, *right);
      }
    case kNodeCompare:
      return EvalCompareNode(node);
    case kNodePredicate:
      return EvalPredicate(node);
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
  // The right operand decides first; the left is evaluated only when it must be.
  TExpTokenPtr right = Eval(*node.FRight);
  bool rightValue = IsTrue(*right);
  if (node.FOperator == opAnd && !rightValue) return Boolean(false);
  if (node.FOperator == opOr && rightValue) return Boolean(true);
  right.reset();
  TExpTokenPtr left = Eval(*node.FLeft);
  return Boolean(IsTrue(*left));
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

TExpTokenPtr TEvaluator::EvalComparison(const TExpToken& node) {
  TExpTokenPtr left = Eval(*node.FLeft);
  TExpTokenPtr right = Eval(*node.FRight);
  return Boolean(Compare(node.FOperator, *left, *right));
}

TExpTokenPtr TEvaluator::EvalCompareNode(const TExpToken& node) {
  TExpTokenPtr left = Eval(*node.FLeft);
  if (!IsTextValue(*left)) {
    TExpTokenPtr right = Eval(*node.FRight);
    return Boolean(Compare(node.FOperator, *left, *right));
  }
  if (node.FOperator != opEqual && node.FOperator != opNotEqual) return Boolean(false);
  TExpTokenPtr right = Eval(*node.FRight);
  bool equal;
  if (left->FIsNull || right->FIsNull) {
    equal = left->FIsNull && right->FIsNull;
  } else {
    equal = CompareStrings(FLocale, left->Chars(), node.FCaseInsensitive != 0, node.FPartialLength,
                           right->Chars()) == 0;
  }
  return Boolean(node.FOperator == opEqual ? equal : !equal);
}

TExpTokenPtr TEvaluator::EvalPredicate(const TExpToken& node) {
  TExpTokenPtr value = Eval(*node.FArgs[0]);
  switch (node.FOperator) {
    case opLike:
    case opNotLike: {
      TExpTokenPtr pattern = Eval(*node.FArgs[1]);
      bool like = !value->FIsNull && !pattern->FIsNull &&
                  MatchLike(FLocale, ReadString(*value), ReadString(*pattern));
      return Boolean(node.FOperator == opLike ? like : !like);
    }
    case opBetween:
    case opNotBetween: {
      bool inside;
      {
        TExpTokenPtr low = Eval(*node.FArgs[1]);
        inside = Compare(opGreaterEqual, *value, *low);
      }
      if (inside) {
        TExpTokenPtr high = Eval(*node.FArgs[2]);
        inside = Compare(opLessEqual, *value, *high);
      }
      return Boolean(node.FOperator == opBetween ? inside : !inside);
    }
    case opInSubSelect:
    case opNotInSubSelect: {
      TSubQuery* query = node.FArgs[1]->FSubQuery;
      bool found = query != nullptr && query->Contains(*value);
      return Boolean(node.FOperator == opInSubSelect ? found : !found);
    }
    default: {  // IN and NOT IN with a list
      bool found = false;
      for (std::size_t i = 1; i < node.FArgs.size() && !found; ++i) {
        TExpTokenPtr element = Eval(*node.FArgs[i]);
        found = Equal(*value, *element);
      }
      return Boolean(node.FOperator == opIn ? found : !found);
    }
  }
}

}  // namespace

TExpTokenPtr EvaluateExpression(const TExpToken& node, const void* record, TColumnFetcher* fetcher,
                                TEvalLocale locale) {
  return TEvaluator(record, fetcher, locale).Eval(node);
}

}  // namespace kura
