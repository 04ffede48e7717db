// Arithmetic of the evaluator: numbers, concatenation and date and time arithmetic.
#include <cmath>
#include <cstring>
#include <limits>

#include "sql/expression_functions.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"

namespace kura {

namespace {

TExpTokenPtr Concatenate(const TExpToken& node, const TExpToken& left, const TExpToken& right) {
  std::string_view a = ReadString(left);
  std::string_view b = ReadString(right);
  TExpTokenPtr result = NewToken();
  result->FKind = kNodeConstant;
  result->FDataType = node.FDataType;
  result->FSubType = node.FSubType;
  std::size_t size = a.size() + b.size();
  CheckComputedLength(size);
  std::uint8_t* data = result->Reserve(size + 1);
  std::memcpy(data, a.data(), a.size());
  std::memcpy(data + a.size(), b.data(), b.size());
  data[size] = 0;
  result->FDataSize = static_cast<std::int32_t>(size + 1);
  result->FIsNull = size == 0 ? 1 : 0;
  return result;
}

std::int64_t Wrap32(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// Integer arithmetic in 64 bits; false when the exact result does not fit.
bool IntegerOp(std::uint8_t op, std::int64_t a, std::int64_t b, std::int64_t& result) {
  switch (op) {
    case opAdd:
      return !__builtin_add_overflow(a, b, &result);
    case opSubtract:
      return !__builtin_sub_overflow(a, b, &result);
    default:
      return !__builtin_mul_overflow(a, b, &result);
  }
}

// Fixed point (1/10000) arithmetic; false on overflow or division by zero.
bool FixedOp(std::uint8_t op, std::int64_t a, std::int64_t b, std::int64_t& result) {
  switch (op) {
    case opAdd:
      return !__builtin_add_overflow(a, b, &result);
    case opSubtract:
      return !__builtin_sub_overflow(a, b, &result);
    case opMultiply: {
      __int128 product = static_cast<__int128>(a) * b / kFixedPointUnit;
      if (product > std::numeric_limits<std::int64_t>::max() ||
          product < std::numeric_limits<std::int64_t>::min()) {
        return false;
      }
      result = static_cast<std::int64_t>(product);
      return true;
    }
    default: {
      if (b == 0) return false;
      __int128 quotient = static_cast<__int128>(a) * kFixedPointUnit / b;
      if (quotient > std::numeric_limits<std::int64_t>::max() ||
          quotient < std::numeric_limits<std::int64_t>::min()) {
        return false;
      }
      result = static_cast<std::int64_t>(quotient);
      return true;
    }
  }
}

double FloatOp(std::uint8_t op, double a, double b) {
  switch (op) {
    case opAdd:
      return a + b;
    case opSubtract:
      return a - b;
    case opMultiply:
      return a * b;
    default:
      return a / b;
  }
}

bool IsZero(const TExpToken& value) {
  switch (value.FDataType) {
    case kFieldTypeFloat:
      return ReadFloat(value) == 0.0;
    case kFieldTypeBcd:
      return ReadFixed(value) == 0;
    default:
      return ReadInteger(value) == 0;
  }
}

// Date, time and timestamp arithmetic; the result type is the bound node's.
TExpTokenPtr DateTimeArithmetic(const TExpToken& node, const TExpToken& left,
                                const TExpToken& right, TExpTokenPtr result) {
  std::uint8_t op = node.FOperator;
  std::uint8_t l = left.FDataType;
  std::uint8_t r = right.FDataType;
  bool leftIsMoment = IsDateTimeType(l);
  const TExpToken& moment = leftIsMoment ? left : right;
  const TExpToken& other = leftIsMoment ? right : left;
  if (IsDateTimeType(l) && IsDateTimeType(r)) {
    // Differences of two moments.
    if (l == kFieldTypeTimestamp && r == kFieldTypeTimestamp) {
      SetFloat(*result, ReadFloat(left) - ReadFloat(right));
      return result;
    }
    auto parts = [](const TExpToken& n) -> std::pair<std::int64_t, std::int64_t> {
      if (n.FDataType == kFieldTypeDate) return {ReadInteger(n), 0};
      if (n.FDataType == kFieldTypeTime) return {kTimeOnlyDay, ReadInteger(n)};
      double stamp = ReadFloat(n);
      auto decoded = DecodeTimestamp(stamp);
      if (!decoded) return {0, 0};
      return {decoded->first, decoded->second};
    };
    auto [dayL, msL] = parts(left);
    auto [dayR, msR] = parts(right);
    bool days = r == kFieldTypeDate;
    SetInt32(*result, static_cast<std::int32_t>(Wrap32(days ? dayL - dayR : msL - msR)));
    return result;
  }
  std::int64_t amount = ReadInteger(other);
  if (op == opSubtract) amount = -amount;
  switch (moment.FDataType) {
    case kFieldTypeDate:
      SetDate(*result, static_cast<std::int32_t>(Wrap32(ReadInteger(moment) + amount)));
      break;
    case kFieldTypeTime:
      SetTime(*result, static_cast<std::int32_t>(Wrap32(ReadInteger(moment) + amount)));
      break;
    default:
      SetTimestamp(*result, ReadFloat(moment) + static_cast<double>(amount) * kMillisecondsPerDay);
      break;
  }
  return result;
}

}  // namespace

TExpTokenPtr EvaluateArithmetic(const TExpToken& node, const TExpToken& left,
                                const TExpToken& right) {
  std::uint8_t op = node.FOperator;
  std::uint8_t type = node.FDataType;
  if (op == opAdd && IsStringLike(left.FDataType, left.FSubType) &&
      IsStringLike(right.FDataType, right.FSubType)) {
    return Concatenate(node, left, right);
  }
  if (left.FIsNull || right.FIsNull) return NullResultOf(node);
  if ((op == opDivide) && IsZero(right)) return NullResultOf(node);
  TExpTokenPtr result = NewToken();
  result->FKind = kNodeConstant;
  if (IsDateTimeType(left.FDataType) || IsDateTimeType(right.FDataType)) {
    return DateTimeArithmetic(node, left, right, std::move(result));
  }
  result->FDataType = type;
  result->FSubType = node.FSubType;
  result->FScale = node.FScale;
  result->FDataSize = FixedSizeOf(type);
  result->Reserve(static_cast<std::size_t>(std::max(result->FDataSize, 1)));
  if (type == kFieldTypeFloat) {
    PutF64LE(result->Data(), FloatOp(op, static_cast<double>(ReadNumber(left)),
                                     static_cast<double>(ReadNumber(right))));
    return result;
  }
  if (type == kFieldTypeBcd) {
    std::int64_t units = 0;
    if (!FixedOp(op, ReadFixed(left), ReadFixed(right), units)) return NullResultOf(node);
    if (!SetFixed(*result, units, node.FScale)) return NullResultOf(node);
    return result;
  }
  if (!IsIntegerType(type)) return NullResultOf(node);
  std::int64_t value = 0;
  if (!IntegerOp(op, ReadInteger(left), ReadInteger(right), value))
    RaiseIntegerOverflow(node, type, node.FSubType);
  StoreCheckedInteger(*result, value, node);
  return result;
}

}  // namespace kura
