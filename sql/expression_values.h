// Typed values in expression nodes: storing and reading them, converting between types,
// comparing strings in a locale and matching LIKE patterns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sql/exp_token.h"

namespace kura {

// The locale of an evaluation: the table's for filters, the statement's for SQL. Language 0
// compares bytes and reads code page 932 text.
struct TEvalLocale {
  std::uint16_t LanguageId = 0;
  std::uint16_t SortId = 0;
};

// Longest string an operator or function builds (REPLACE can multiply a text's length at
// every level of nesting); a longer result raises engine error 11016 (out of memory).
inline constexpr std::size_t kMaxComputedStringLength = 16 * 1024 * 1024;

// Raises engine error 11016 when a computed string of the length would be too long.
void CheckComputedLength(std::size_t length);

// --- Type classes ---------------------------------------------------------------------------

// 16-bit, 32-bit, word and 64-bit integers.
bool IsIntegerType(std::uint8_t type);
// Integers, float and BCD.
bool IsNumericType(std::uint8_t type);
bool IsDateTimeType(std::uint8_t type);  // date, time, timestamp
// A string, or a memo BLOB (both hold zero-terminated text).
bool IsStringLike(std::uint8_t type, std::uint8_t subType);
// The stored size of a fixed-size type (0 for strings, bytes and untyped).
std::int32_t FixedSizeOf(std::uint8_t type);

// --- Storing values -------------------------------------------------------------------------
// Each setter sets type, size and value and clears FIsNull (SetString sets it for "").

void SetInt32(TExpToken& node, std::int32_t value);
void SetInt64(TExpToken& node, std::int64_t value);
void SetFloat(TExpToken& node, double value);
void SetBoolean(TExpToken& node, bool value);
void SetDate(TExpToken& node, std::int32_t day);
void SetTime(TExpToken& node, std::int32_t milliseconds);
void SetTimestamp(TExpToken& node, double milliseconds);
void SetString(TExpToken& node, std::string_view text);
// Stores the fixed-point value (units of 1/10000) as a packed decimal with the node's scale;
// false when it does not fit.
bool SetFixed(TExpToken& node, std::int64_t units, std::uint8_t scale);
// An integer of the node's own integer type (16-bit, word, 32-bit, 64-bit, boolean, date,
// time), keeping the low bits as a stored slot would.
void StoreInteger(TExpToken& node, std::int64_t value);
// Makes the node NULL of its current type: value bytes zeroed.
void SetNullValue(TExpToken& node);

// --- Integer ranges -------------------------------------------------------------------------
// Integer results never wrap: a value outside its type's range raises engine error 11949
// "Integer overflow: '<expression>' does not fit in <type>".

// True when value lies in the range of the type: 16-bit, word, 32-bit, date and time their
// own; 64-bit and boolean any value.
bool FitsIntegerType(std::uint8_t type, std::int64_t value);
[[noreturn]] void RaiseIntegerOverflow(const TExpToken& expression, std::uint8_t type,
                                       std::uint8_t subType);
// StoreInteger of a value that must fit the node's type, else the overflow of the expression.
void StoreCheckedInteger(TExpToken& node, std::int64_t value, const TExpToken& expression);

// A new constant node from the pool typed as `node` (type, subtype, scale, fixed size) with
// room for its value; and the same holding NULL. Operators and functions build results so.
TExpTokenPtr NewResultOf(const TExpToken& node);
TExpTokenPtr NullResultOf(const TExpToken& node);
// Copies type, subtype, size, scale, NULL flag and value bytes.
void CopyValue(const TExpToken& source, TExpToken& target);

// --- Reading values -------------------------------------------------------------------------

// Integer types, booleans, dates and times as a signed 64-bit number (words unsigned).
std::int64_t ReadInteger(const TExpToken& node);
double ReadFloat(const TExpToken& node);  // float, timestamp
// BCD as fixed point (units of 1/10000); 0 for a malformed decimal.
std::int64_t ReadFixed(const TExpToken& node);
// Any number as an extended-precision value.
long double ReadNumber(const TExpToken& node);
std::string_view ReadString(const TExpToken& node);  // strings and memos

// The name of a type as the tests print it ("integer", "string", ...).
std::string_view TypeName(std::uint8_t type, std::uint8_t subType);
// The text form of the node's value ("NULL" for NULL), or "" for a type without one.
std::string ValueText(const TExpToken& node);

// --- Conversion -----------------------------------------------------------------------------

// Converts source's value to the target type, size (strings and bytes: bytes including the
// terminator; 0 keeps the source's) and scale and stores it in target. Answers false when the
// value does not convert; target then holds a NULL of the target type. NULL converts to NULL.
// A number outside the range of an integer target raises the integer overflow, naming the
// expression when one is given (else the value).
bool ConvertValue(const TExpToken& source, std::uint8_t targetType, std::uint8_t targetSubType,
                  std::int32_t targetSize, std::uint8_t targetScale, TExpToken& target,
                  const TExpToken* expression = nullptr);

// --- Strings --------------------------------------------------------------------------------

// Compares two zero-terminated strings in the locale: -1, 0, 1. A partial length n > 0
// compares only the first n characters of each.
int CompareStrings(TEvalLocale locale, const char* first, bool caseInsensitive,
                   std::int32_t partialLength, const char* second);

// LIKE: % matches any run of characters, _ one character; case-sensitive; there is no
// escape character. Greedy with backtracking to the most recent %.
bool MatchLike(TEvalLocale locale, std::string_view value, std::string_view pattern);

}  // namespace kura
