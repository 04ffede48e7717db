// TExpToken: the node of every expression tree of filters and SQL, and the carrier of values
// while a tree is evaluated. An evaluated node is a constant node holding a typed value.
//
// Values in FData use the representation of a record slot: strings zero-terminated
// (FDataSize = length + 1), booleans 16-bit 0/1, dates a 32-bit day number, times 32-bit
// milliseconds, timestamps a 64-bit float of milliseconds, packed decimals 34 bytes, all
// little-endian. A NULL value has its bytes zeroed.
//
// Nodes come from a pool of free nodes (TExpTokenStack), one per thread and so without a
// lock, so that evaluating a tree once per record allocates nothing once the pool is warm: a node
// keeps its value buffer (up to 256 bytes of capacity) and its string capacities across reuse.
//
// The numeric kinds and operator codes below are part of the node format: other parts of the
// engine build and inspect trees by these numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kura {

// Node kinds (FKind).
inline constexpr std::uint8_t kNodeUnary = 1;
inline constexpr std::uint8_t kNodeBinary = 2;
inline constexpr std::uint8_t kNodeCompare = 3;  // compare with case and partial-length options
inline constexpr std::uint8_t kNodeColumn = 4;
inline constexpr std::uint8_t kNodeConstant = 5;
inline constexpr std::uint8_t kNodeSubSelect = 6;
inline constexpr std::uint8_t kNodeFunction = 10;
inline constexpr std::uint8_t kNodePredicate = 12;  // LIKE, BETWEEN, IN: FArgs[0] is the value

// Operator and function codes (FOperator).
enum TExpOperator : std::uint8_t {
  opNone = 0,
  opIsBlank = 1,
  opIsNotBlank = 2,
  opEqual = 3,
  opNotEqual = 4,
  opGreater = 5,
  opLess = 6,
  opGreaterEqual = 7,
  opLessEqual = 8,
  opNot = 9,
  opAnd = 10,
  opOr = 11,
  opNegate = 15,
  opPlusSign = 16,
  opAdd = 17,
  opSubtract = 18,
  opMultiply = 19,
  opDivide = 20,
  opSum = 23,
  opRunSum = 24,
  opCount = 25,
  opMin = 26,
  opMax = 27,
  opAvg = 28,
  opLike = 32,
  opIn = 33,
  opInSubSelect = 34,
  opUpper = 36,
  opLower = 37,
  opBetween = 41,
  opNotBetween = 42,
  opNotLike = 43,
  opNotIn = 44,
  opNotInSubSelect = 45,
  opSubstring = 46,
  opReplace = 47,
  opPos = 48,
  opOccurs = 49,
  opTrimLeading = 50,
  opTrimTrailing = 51,
  opTrimBoth = 52,
  opLength = 53,
  opCast = 54,
  opExtractYear = 55,
  opExtractMonth = 56,
  opExtractWeek = 57,
  opExtractDay = 58,
  opExtractDayOfWeek = 59,
  opExtractDayOfYear = 60,
  opExtractHour = 61,
  opExtractMinute = 62,
  opExtractSecond = 63,
  opIf = 64,
  opCoalesce = 65,
  opIfNull = 66,
  opAbs = 67,
  opRound = 68,
  opTextSearch = 69,
  opTextOccurs = 70,
  opLastAutoInc = 71,
  opIdentCurrent = 72,
};

// Type 0: the untyped NULL written as the keyword NULL, until binding gives it meaning.
inline constexpr std::uint8_t kUntyped = 0;

// The value buffer starts at, grows by and is shrunk back to this many bytes.
inline constexpr std::size_t kTokenDataQuantum = 256;
// The pool keeps at most this many free nodes; further released nodes are destroyed.
inline constexpr std::size_t kTokenPoolCapacity = 256;
// Longest column and table correlation name a node keeps.
inline constexpr std::size_t kMaxTokenNameLength = 255;

class TExpToken;

// The executor of a sub-select inside IN, owned by its node. The SQL layer implements it.
class TSubQuery {
 public:
  virtual ~TSubQuery() = default;
  // Number of columns the sub-select produces.
  virtual int ColumnCount() const = 0;
  // Binds the sub-select's column; fills type, subtype, size and scale of column. False when
  // the column cannot be resolved.
  virtual bool BindColumn(TExpToken& column) = 0;
  // True when some row of the sub-select's result equals value.
  virtual bool Contains(const TExpToken& value) = 0;
};

class TExpToken {
 public:
  TExpToken();
  ~TExpToken();
  TExpToken(const TExpToken&) = delete;
  TExpToken& operator=(const TExpToken&) = delete;

  std::string FText;
  std::uint8_t FKind = 0;
  std::uint8_t FOperator = opNone;
  std::string FColumnName;
  std::uint16_t FFieldNo = 0;
  std::string FTableName;
  const void* FSourceTable = nullptr;  // not owned
  TSubQuery* FSubQuery = nullptr;      // owned
  std::vector<std::uint8_t> FData;     // size() is the capacity; multiples of 256
  std::uint8_t FIsNull = 0;
  std::uint8_t FIsParam = 0;
  std::int32_t FPartialLength = 0;
  std::uint8_t FCaseInsensitive = 0;
  std::uint8_t FDataType = kUntyped;
  std::uint8_t FSubType = 0;
  std::int32_t FDataSize = 0;
  std::uint8_t FScale = 0;
  TExpToken* FLeft = nullptr;     // owned
  TExpToken* FRight = nullptr;    // owned
  std::vector<TExpToken*> FArgs;  // owned

  // Working fields: a column written as a quoted string remembers its constant's type.
  bool FWrittenAsString = false;
  std::uint8_t FSavedDataType = 0;
  std::uint8_t FSavedSubType = 0;
  std::int32_t FSavedDataSize = 0;
  std::uint8_t FSavedScale = 0;
  // Join mark of the SQL layer and analysis marks of the cursor filter machinery.
  std::uint8_t FJoinMark = 0;
  std::uint32_t FFilterMarks = 0;
  // Height of the subtree below and including this node (1 for a leaf).
  std::uint16_t FDepth = 1;

  // Makes the value buffer hold at least n bytes (growing in multiples of 256, new bytes
  // zero) and answers it.
  std::uint8_t* Reserve(std::size_t n);
  std::uint8_t* Data() { return FData.data(); }
  const std::uint8_t* Data() const { return FData.data(); }
  // The value as a zero-terminated string (the buffer always holds at least one zero).
  const char* Chars() const { return reinterpret_cast<const char*>(FData.data()); }

  // Returns every field to its state after creation (children are not released: the pool
  // does that first).
  void Reset();
  // Zeroes the first `size` value bytes.
  void ZeroValue(std::size_t size);
};

// The free nodes of the calling thread.
class TExpTokenStack {
 public:
  // A reset node: the most recently released one, or a new node when the pool is empty.
  static TExpToken* Allocate();
  // Releases the node with its children and arguments (children first). Null is ignored.
  static void Release(TExpToken* node);
  // Number of free nodes held (for tests).
  static std::size_t PooledCount();
};

struct TExpTokenReleaser {
  void operator()(TExpToken* node) const { TExpTokenStack::Release(node); }
};
// Owns a tree and hands it back to the pool when dropped.
using TExpTokenPtr = std::unique_ptr<TExpToken, TExpTokenReleaser>;

inline TExpTokenPtr NewToken() {
  return TExpTokenPtr(TExpTokenStack::Allocate());
}

}  // namespace kura
