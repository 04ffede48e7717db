#include "sql/filter_condition.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/engine_codes.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/filter_index_access.h"
#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_parser.h"
#include "sql/expression_values.h"
#include "sql/record_fields.h"
#include "storage/collation.h"
#include "storage/dbcs.h"
#include "storage/field_types.h"
#include "storage/record_image.h"

namespace kura {
namespace {

constexpr std::string_view kContext = "filter expression";

// --- Tree helpers ---------------------------------------------------------------------------

// The child slots of a node: left, right, then the arguments.
std::vector<TExpToken**> ChildSlots(TExpToken& node) {
  std::vector<TExpToken**> slots;
  if (node.FLeft != nullptr) slots.push_back(&node.FLeft);
  if (node.FRight != nullptr) slots.push_back(&node.FRight);
  for (TExpToken*& arg : node.FArgs) {
    if (arg != nullptr) slots.push_back(&arg);
  }
  return slots;
}

bool HasFieldReference(const TExpToken& node) {
  if (node.FKind == kNodeColumn) return true;
  if (node.FKind == kNodeSubSelect || node.FIsParam) return true;  // not foldable either
  if (node.FLeft != nullptr && HasFieldReference(*node.FLeft)) return true;
  if (node.FRight != nullptr && HasFieldReference(*node.FRight)) return true;
  return std::any_of(node.FArgs.begin(), node.FArgs.end(), [](const TExpToken* arg) {
    return arg != nullptr && HasFieldReference(*arg);
  });
}

bool IsComparison(const TExpToken& node) {
  return node.FKind == kNodeBinary && node.FOperator >= opEqual && node.FOperator <= opLessEqual;
}

bool IsConstant(const TExpToken& node) {
  return node.FKind == kNodeConstant && !node.FIsParam;
}

bool IsTextType(const TExpToken& node) {
  return IsStringLike(node.FDataType, node.FSubType);
}

TExpTokenPtr CopyTree(const TExpToken& node) {
  if (node.FSubQuery != nullptr)
    RaiseEngineError(codes::kFilterError, {}, {}, {}, {}, {}, {}, "filter expression is invalid");
  TExpTokenPtr copy = NewToken();
  copy->FText = node.FText;
  copy->FKind = node.FKind;
  copy->FOperator = node.FOperator;
  copy->FColumnName = node.FColumnName;
  copy->FFieldNo = node.FFieldNo;
  copy->FTableName = node.FTableName;
  copy->FSourceTable = node.FSourceTable;
  copy->FData = node.FData;
  copy->FIsNull = node.FIsNull;
  copy->FIsParam = node.FIsParam;
  copy->FPartialLength = node.FPartialLength;
  copy->FCaseInsensitive = node.FCaseInsensitive;
  copy->FDataType = node.FDataType;
  copy->FSubType = node.FSubType;
  copy->FDataSize = node.FDataSize;
  copy->FScale = node.FScale;
  copy->FWrittenAsString = node.FWrittenAsString;
  copy->FSavedDataType = node.FSavedDataType;
  copy->FSavedSubType = node.FSavedSubType;
  copy->FSavedDataSize = node.FSavedDataSize;
  copy->FSavedScale = node.FSavedScale;
  copy->FDepth = node.FDepth;
  if (node.FLeft != nullptr) copy->FLeft = CopyTree(*node.FLeft).release();
  if (node.FRight != nullptr) copy->FRight = CopyTree(*node.FRight).release();
  for (const TExpToken* arg : node.FArgs) copy->FArgs.push_back(CopyTree(*arg).release());
  return copy;
}

// --- Compiling --------------------------------------------------------------------------------

// A column resolver that knows the table's fields only.
class TTableColumns : public TRecordFields {
 public:
  TTableColumns(std::span<const TFieldDescriptor> fields, std::size_t recordSize)
      : TRecordFields(fields, recordSize), FRecordSize(recordSize) {}

  // The cursor whose record is being evaluated (memo values, text-index parameters).
  TDataCursor* Cursor = nullptr;

  std::int32_t TextSearch(const void* record, const TExpToken& column, std::string_view words,
                          bool count) override {
    if (Cursor == nullptr) return 0;
    TExpTokenPtr value = NewToken();
    value->FKind = kNodeColumn;
    value->FFieldNo = column.FFieldNo;
    value->FDataType = column.FDataType;
    value->FSubType = column.FSubType;
    value->FDataSize = column.FDataSize;
    FetchColumn(record, *value);
    const std::string_view text = value->FIsNull ? std::string_view() : ReadString(*value);
    const TTableLocale locale = Cursor->Locale();
    const TTextIndexParams& params = Cursor->TextIndexParams();
    return count ? kura::TextOccurs(words, text, params, locale)
                 : (kura::TextSearch(words, text, params, locale) ? 1 : 0);
  }

 private:
  std::size_t FRecordSize;
};

// Turns comparisons with the field on the right around.
void Normalise(TExpToken& node) {
  for (TExpToken** slot : ChildSlots(node)) Normalise(**slot);
  if (!IsComparison(node)) return;
  if (HasFieldReference(*node.FLeft) || !HasFieldReference(*node.FRight)) return;
  std::swap(node.FLeft, node.FRight);
  switch (node.FOperator) {
    case opGreater:
      node.FOperator = opLess;
      break;
    case opLess:
      node.FOperator = opGreater;
      break;
    case opGreaterEqual:
      node.FOperator = opLessEqual;
      break;
    case opLessEqual:
      node.FOperator = opGreaterEqual;
      break;
    default:
      break;
  }
}

bool IsUpperOfField(const TExpToken& node) {
  return node.FKind == kNodeFunction && node.FOperator == opUpper && node.FArgs.size() == 1 &&
         node.FArgs[0]->FKind == kNodeColumn;
}

bool IsUpper(const TExpToken& node) {
  return node.FKind == kNodeFunction && node.FOperator == opUpper;
}

// UPPER(field) against UPPER of every other operand: case-insensitive.
void MarkCaseInsensitive(TExpToken& node) {
  for (TExpToken** slot : ChildSlots(node)) MarkCaseInsensitive(**slot);
  if (IsComparison(node)) {
    if (IsUpperOfField(*node.FLeft) && IsUpper(*node.FRight)) node.FCaseInsensitive = 1;
    return;
  }
  const bool predicate =
      node.FKind == kNodePredicate &&
      (node.FOperator == opLike || node.FOperator == opNotLike || node.FOperator == opIn ||
       node.FOperator == opNotIn || node.FOperator == opBetween || node.FOperator == opNotBetween);
  if (!predicate || node.FArgs.empty() || !IsUpperOfField(*node.FArgs[0])) return;
  if (std::all_of(node.FArgs.begin() + 1, node.FArgs.end(),
                  [](const TExpToken* arg) { return IsUpper(*arg); }))
    node.FCaseInsensitive = 1;
}

// Evaluates every part without a field once and puts a constant in its place.
void FoldConstants(TExpToken*& slot, TEvalLocale locale) {
  TExpToken& node = *slot;
  if (IsConstant(node) || node.FKind == kNodeColumn) return;
  if (!HasFieldReference(node)) {
    TExpTokenPtr value = EvaluateExpression(node, nullptr, nullptr, locale);
    value->FKind = kNodeConstant;
    value->FText = node.FText;
    TExpTokenStack::Release(slot);
    slot = value.release();
    return;
  }
  for (TExpToken** child : ChildSlots(node)) FoldConstants(*child, locale);
}

// = and <> with string constants, and LIKE 'abc%', as compare nodes.
void MakeCompareNodes(TExpToken& node, const TFilterFlags& flags, std::uint16_t languageId) {
  for (TExpToken** slot : ChildSlots(node)) MakeCompareNodes(**slot, flags, languageId);
  const bool equality =
      node.FKind == kNodeBinary && (node.FOperator == opEqual || node.FOperator == opNotEqual);
  if (equality && IsConstant(*node.FRight) && !node.FRight->FIsNull && IsTextType(*node.FRight) &&
      IsTextType(*node.FLeft) && HasFieldReference(*node.FLeft)) {
    std::string text(ReadString(*node.FRight));
    std::size_t stars = 0;
    while (stars < text.size() && text[text.size() - 1 - stars] == '*') ++stars;
    const bool partial = stars > 0 && stars < text.size();
    if (!flags.CaseInsensitive && !partial) return;
    node.FKind = kNodeCompare;
    node.FCaseInsensitive = flags.CaseInsensitive ? 1 : 0;
    if (partial && !flags.NoPartialCompare) {
      text.resize(text.size() - stars);
      SetString(*node.FRight, text);
      node.FPartialLength = static_cast<std::int32_t>(CharacterCount(languageId, text));
    }
    return;
  }
  const bool like =
      node.FKind == kNodePredicate && (node.FOperator == opLike || node.FOperator == opNotLike);
  if (!like || node.FArgs.size() != 2 || !IsConstant(*node.FArgs[1]) || node.FArgs[1]->FIsNull)
    return;
  std::string pattern(ReadString(*node.FArgs[1]));
  std::size_t percents = 0;
  while (percents < pattern.size() && pattern[pattern.size() - 1 - percents] == '%') ++percents;
  const std::string prefix = pattern.substr(0, pattern.size() - percents);
  // Only a plain prefix: a "%" or "_" inside it is a wildcard the compare node lacks.
  if (percents == 0 || prefix.empty() || prefix.find_first_of("%_") != std::string::npos) return;
  node.FKind = kNodeCompare;
  node.FOperator = node.FOperator == opLike ? opEqual : opNotEqual;
  node.FLeft = node.FArgs[0];
  node.FRight = node.FArgs[1];
  node.FArgs.clear();
  SetString(*node.FRight, prefix);
  node.FPartialLength = static_cast<std::int32_t>(CharacterCount(languageId, prefix));
}

// --- The condition ----------------------------------------------------------------------------

// What analysis learnt of one node.
struct TNodeMarks {
  int Level = kLevelRecords;
  std::int64_t Count = -1;  // estimated matching records, -1 unknown
  std::int64_t Cost = -1;   // estimated count × key length, -1 unknown
  bool NotChosen = false;   // served, but left to the records by the 90 % rule
};

// A served leaf: key ranges on one index, combined.
struct TServedLeaf {
  enum class TKind { Single, AnyOf, Between, Text };
  TKind Kind = TKind::Single;
  bool Invert = false;  // NOT IN, NOT BETWEEN
  std::vector<TKeyRange> Ranges;
  int FieldNo = 0;
  std::vector<std::pair<std::string, bool>> Words;  // TEXTSEARCH: word, prefix
  int KeyLength = 0;
};

class TExpressionCondition : public TFilterCondition {
 public:
  TExpressionCondition(TDataCursor& cursor, TExpTokenPtr tree)
      : FTree(std::move(tree)),
        FFields(cursor.Table()->Data().Descriptors().begin(),
                cursor.Table()->Data().Descriptors().end()),
        FRecordSize(cursor.Table()->Data().RecordSize()),
        FColumns(std::make_unique<TTableColumns>(FFields, FRecordSize)) {
    const TTableLocale locale = cursor.Locale();
    FLocale = TEvalLocale{locale.LanguageId, locale.SortId};
    InstallBlobReader();
  }

  int Analyse(TFilterIndexAccess& access, bool estimate, bool costRule) override {
    FMarks.clear();
    FLeaves.clear();
    FEstimate = estimate;
    FCostRule = costRule;
    return AnalyseNode(access, *FTree).Level;
  }

  void Evaluate(TFilterIndexAccess& access, TRecordsBitmap& bitmap) override {
    if (FMarks.empty()) Analyse(access, false, false);
    EvaluateNode(access, *FTree, bitmap);
  }

  bool Passes(TDataCursor& cursor, std::span<const std::uint8_t> record) override {
    return PassesNode(cursor, *FTree, record);
  }

  std::unique_ptr<TFilterCondition> Copy() const override {
    return std::make_unique<TExpressionCondition>(*this, CopyTree(*FTree));
  }

  TExpressionCondition(const TExpressionCondition& other, TExpTokenPtr tree)
      : FTree(std::move(tree)),
        FFields(other.FFields),
        FRecordSize(other.FRecordSize),
        FLocale(other.FLocale),
        FColumns(std::make_unique<TTableColumns>(FFields, FRecordSize)) {
    InstallBlobReader();
  }

 private:
  // Memo and BLOB fields are read through the cursor the condition is asked on.
  void InstallBlobReader() {
    FColumns->SetBlobReader(
        [this](const std::uint8_t* record, const TFieldDescriptor& field, std::string& value) {
          return FColumns->Cursor != nullptr &&
                 FColumns->Cursor->ReadStoredBlob(field, std::span(record, FRecordSize), value);
        });
  }

  bool PassesNode(TDataCursor& cursor, const TExpToken& node,
                  std::span<const std::uint8_t> record) {
    // A record shorter than the table's (never from the cursor) is padded with NULLs.
    const std::uint8_t* image = record.data();
    if (record.size() < FRecordSize) {
      FScratch.assign(FRecordSize, 0);
      std::copy(record.begin(), record.end(), FScratch.begin());
      image = FScratch.data();
    }
    FColumns->Cursor = &cursor;
    struct TForget {
      TDataCursor*& Cursor;
      ~TForget() { Cursor = nullptr; }
    } forget{FColumns->Cursor};
    return EvaluateCondition(node, image, FColumns.get(), FLocale);
  }

  const TFieldDescriptor* FieldOf(const TExpToken& column) const {
    if (column.FKind != kNodeColumn || column.FFieldNo < 1 || column.FFieldNo > FFields.size())
      return nullptr;
    return &FFields[column.FFieldNo - 1u];
  }

  // A record image holding the constant in the field; false when the field cannot hold it
  // exactly (the index would then answer a different question).
  bool StoreConstant(const TFieldDescriptor& field, const TExpToken& constant,
                     std::vector<std::uint8_t>& record, TTableLocale locale) const {
    record.assign(FRecordSize, 0);
    if (constant.FIsNull) return false;
    const bool isString = field.FieldType == kFieldTypeString;
    if (isString != IsTextType(constant)) return false;
    TExpTokenPtr stored = NewToken();
    const std::int32_t size = isString ? field.FieldSize + 1 : 0;
    if (!ConvertValue(constant, field.FieldType, field.FieldSubType, size, field.FieldDecimals,
                      *stored) ||
        stored->FIsNull)
      return false;
    if (!isString) {
      if (IsNumericType(field.FieldType) != IsNumericType(constant.FDataType)) return false;
      if (IsNumericType(field.FieldType)) {
        if (ReadNumber(*stored) != ReadNumber(constant)) return false;
      } else if (field.FieldType != constant.FDataType) {
        return false;
      }
    }
    try {
      SetField(record, field, stored->Data(), true, locale);
    } catch (const EKuraEngineError&) {
      return false;
    }
    std::vector<std::uint8_t> back(field.PhysicalSize + 1u, 0);
    if (GetField(record, field, back)) return false;
    if (isString) {
      const std::string_view text(reinterpret_cast<const char*>(back.data()),
                                  strnlen(reinterpret_cast<const char*>(back.data()), back.size()));
      return text == ReadString(constant);
    }
    return true;
  }

  // The served form of a node, when it has one.
  bool DescribeLeaf(TFilterIndexAccess& access, const TExpToken& node, TServedLeaf& leaf) const {
    const TTableLocale locale = access.Cursor().Locale();
    const auto fieldOfOperand = [&](const TExpToken& operand, bool caseMarked) {
      if (operand.FKind == kNodeColumn) return FieldOf(operand);
      if (caseMarked && operand.FKind == kNodeFunction &&
          (operand.FOperator == opUpper || operand.FOperator == opLower) &&
          operand.FArgs.size() == 1)
        return FieldOf(*operand.FArgs[0]);
      return static_cast<const TFieldDescriptor*>(nullptr);
    };
    // TEXTSEARCH(words IN field) = TRUE.
    if (node.FKind == kNodeBinary && node.FOperator == opEqual && IsConstant(*node.FRight) &&
        node.FRight->FDataType == kFieldTypeBoolean && IsTrue(*node.FRight) &&
        node.FLeft->FKind == kNodeFunction && node.FLeft->FOperator == opTextSearch &&
        node.FLeft->FArgs.size() == 2 && IsConstant(*node.FLeft->FArgs[0])) {
      const TFieldDescriptor* field = FieldOf(*node.FLeft->FArgs[1]);
      if (field == nullptr || !access.TextIndexed(field->FieldNo)) return false;
      leaf.Kind = TServedLeaf::TKind::Text;
      leaf.FieldNo = field->FieldNo;
      leaf.KeyLength = kSysTextKeyLength;
      leaf.Words =
          SearchWords(ReadString(*node.FLeft->FArgs[0]), access.Cursor().TextIndexParams(), locale);
      return true;
    }
    // A comparison or compare node of a field with a constant.
    if ((IsComparison(node) || node.FKind == kNodeCompare) && node.FLeft != nullptr &&
        node.FRight != nullptr && IsConstant(*node.FRight)) {
      const bool caseInsensitive = node.FCaseInsensitive != 0;
      const TFieldDescriptor* field = fieldOfOperand(*node.FLeft, caseInsensitive);
      if (field == nullptr) return false;
      // An UPPER or LOWER of the field is only served through a case-insensitive index.
      if (node.FLeft->FKind != kNodeColumn && node.FKind != kNodeCompare && !caseInsensitive)
        return false;
      const TExpToken& constant = *node.FRight;
      std::vector<std::uint8_t> record(FRecordSize, 0);
      TKeyCondition condition;
      if (constant.FIsNull) {
        if (node.FOperator != opEqual && node.FOperator != opNotEqual) return false;
        condition = node.FOperator == opEqual ? TKeyCondition::Blank : TKeyCondition::NotBlank;
      } else {
        if (!StoreConstant(*field, constant, record, locale)) return false;
        switch (node.FOperator) {
          case opEqual:
            condition = TKeyCondition::Equal;
            break;
          case opNotEqual:
            condition = TKeyCondition::NotEqual;
            break;
          case opGreater:
            condition = TKeyCondition::Greater;
            break;
          case opGreaterEqual:
            condition = TKeyCondition::GreaterEqual;
            break;
          case opLess:
            condition = TKeyCondition::Less;
            break;
          default:
            condition = TKeyCondition::LessEqual;
            break;
        }
      }
      const bool blank = condition == TKeyCondition::Blank || condition == TKeyCondition::NotBlank;
      int partialBytes = 0;
      if (node.FKind == kNodeCompare && node.FPartialLength > 0 && !blank) {
        // Partial compares count characters; the key compares bytes. The two agree where the
        // key holds the text's own bytes (language 0).
        if (locale.LanguageId != 0) return false;
        partialBytes = static_cast<int>(ReadString(constant).size());
        if (partialBytes == 0 || partialBytes >= field->FieldSize) partialBytes = 0;
      }
      const int slot = access.ChooseIndex(field->FieldNo, caseInsensitive, blank);
      if (slot < 0) return false;
      leaf.Ranges.push_back(access.RangeFor(slot, condition, record, partialBytes));
      leaf.KeyLength = access.KeyLength(slot);
      return true;
    }
    // IN, NOT IN, BETWEEN, NOT BETWEEN of constants.
    if (node.FKind == kNodePredicate && !node.FArgs.empty() &&
        (node.FOperator == opIn || node.FOperator == opNotIn || node.FOperator == opBetween ||
         node.FOperator == opNotBetween)) {
      const bool caseInsensitive = node.FCaseInsensitive != 0;
      const TFieldDescriptor* field = fieldOfOperand(*node.FArgs[0], caseInsensitive);
      if (field == nullptr) return false;
      const bool between = node.FOperator == opBetween || node.FOperator == opNotBetween;
      if (between && node.FArgs.size() != 3) return false;
      const int slot = access.ChooseIndex(field->FieldNo, caseInsensitive, false);
      if (slot < 0) return false;
      leaf.Kind = between ? TServedLeaf::TKind::Between : TServedLeaf::TKind::AnyOf;
      leaf.Invert = node.FOperator == opNotIn || node.FOperator == opNotBetween;
      leaf.KeyLength = access.KeyLength(slot);
      std::vector<std::uint8_t> record;
      for (std::size_t i = 1; i < node.FArgs.size(); ++i) {
        const TExpToken& constant = *node.FArgs[i];
        if (!IsConstant(constant)) return false;
        if (constant.FIsNull) {
          if (between) return false;
          record.assign(FRecordSize, 0);
          leaf.Ranges.push_back(access.RangeFor(slot, TKeyCondition::Blank, record));
          continue;
        }
        if (!StoreConstant(*field, constant, record, locale)) return false;
        const TKeyCondition condition = !between ? TKeyCondition::Equal
                                        : i == 1 ? TKeyCondition::GreaterEqual
                                                 : TKeyCondition::LessEqual;
        leaf.Ranges.push_back(access.RangeFor(slot, condition, record));
      }
      if (between) {
        // low <= field <= high: the keys of both halves, as one range.
        leaf.Ranges = {IntersectRanges(access.Format(slot), leaf.Ranges[0], leaf.Ranges[1])};
      }
      return true;
    }
    return false;
  }

  // Counts each range of the leaf (kept in the range for the scan's choice).
  std::int64_t EstimateLeaf(TFilterIndexAccess& access, TServedLeaf& leaf) const {
    if (leaf.Kind == TServedLeaf::TKind::Text) return -1;
    std::int64_t count = -1;
    for (TKeyRange& range : leaf.Ranges) {
      range.Count = access.CountRange(range);
      std::int64_t n = range.Count;
      if (range.Invert) n = std::max<std::int64_t>(0, access.LiveCount() - n);
      count = count < 0 ? n : std::min(count, n);
    }
    if (leaf.Invert && count >= 0) count = std::max<std::int64_t>(0, access.LiveCount() - count);
    return count;
  }

  const TNodeMarks& AnalyseNode(TFilterIndexAccess& access, TExpToken& node) {
    TNodeMarks marks;
    TServedLeaf leaf;
    if (node.FKind == kNodeUnary &&
        (node.FOperator == opNot || node.FOperator == opNegate || node.FOperator == opPlusSign) &&
        node.FLeft != nullptr) {
      marks = AnalyseNode(access, *node.FLeft);
      marks.NotChosen = false;
    } else if (node.FKind == kNodeBinary && node.FOperator == opAnd) {
      marks = AnalyseAnd(access, node);
    } else if (node.FKind == kNodeBinary && node.FOperator == opOr) {
      const TNodeMarks left = AnalyseNode(access, *node.FLeft);
      const TNodeMarks right = AnalyseNode(access, *node.FRight);
      marks.Level =
          left.Level == kLevelServed && right.Level == kLevelServed ? kLevelServed : kLevelRecords;
      if (left.Count >= 0 && right.Count >= 0) marks.Count = std::max(left.Count, right.Count);
      if (left.Cost >= 0 && right.Cost >= 0) marks.Cost = left.Cost + right.Cost;
    } else if (DescribeLeaf(access, node, leaf)) {
      marks.Level = kLevelServed;
      FLeaves.erase(&node);
      if (FEstimate) {
        marks.Count = EstimateLeaf(access, leaf);
        if (marks.Count >= 0) marks.Cost = marks.Count * leaf.KeyLength;
        if (FCostRule && marks.Count >= 0 &&
            marks.Count >
                static_cast<std::int64_t>(static_cast<double>(access.LiveCount()) * 0.9)) {
          marks.Level = kLevelRecords;
          marks.NotChosen = true;
        }
      }
      // Evaluation scans what analysis described (and counted) rather than describing the
      // leaf a second time.
      FLeaves.emplace(&node, std::move(leaf));
    }
    return FMarks[&node] = marks;
  }

  // An AND chain: each operand analysed, the chain's best operand swapped to its front.
  TNodeMarks AnalyseAnd(TFilterIndexAccess& access, TExpToken& node) {
    TNodeMarks left = AnalyseNode(access, *node.FLeft);
    TNodeMarks right = AnalyseNode(access, *node.FRight);
    // The 90 % rule's leaf beside a served side is served after all.
    if (left.Level == kLevelServed && right.NotChosen) {
      right.Level = kLevelServed;
      right.NotChosen = false;
      FMarks[node.FRight] = right;
    } else if (right.Level == kLevelServed && left.NotChosen) {
      left.Level = kLevelServed;
      left.NotChosen = false;
      FMarks[node.FLeft] = left;
    }
    if (Better(right, left)) {
      std::swap(node.FLeft, node.FRight);
      std::swap(left, right);
    }
    TNodeMarks marks;
    if (left.Level == kLevelServed && right.Level == kLevelServed) {
      marks.Level = kLevelServed;
    } else if (left.Level > kLevelRecords || right.Level > kLevelRecords) {
      marks.Level = kLevelPartly;
    }
    if (left.Count >= 0 && right.Count >= 0) {
      marks.Count = std::min(left.Count, right.Count);
    } else if (left.Count >= 0 || right.Count >= 0) {
      marks.Count = std::max(left.Count, right.Count);
    }
    if (left.Cost >= 0 && right.Cost >= 0) marks.Cost = left.Cost + right.Cost;
    return marks;
  }

  // Whether a goes before b in an AND: the lower known cost, else the higher level.
  static bool Better(const TNodeMarks& a, const TNodeMarks& b) {
    if (a.Level == kLevelRecords) return false;
    if (b.Level == kLevelRecords) return true;
    if (a.Cost >= 0 && b.Cost >= 0 && a.Level == b.Level) return a.Cost < b.Cost;
    return a.Level > b.Level;
  }

  const TNodeMarks& MarksOf(const TExpToken& node) const {
    static const TNodeMarks kNone;
    const auto found = FMarks.find(&node);
    return found != FMarks.end() ? found->second : kNone;
  }

  void EvaluateByRecords(TFilterIndexAccess& access, const TExpToken& node,
                         TRecordsBitmap& bitmap) {
    TDataCursor& cursor = access.Cursor();
    access.EvaluateRecords(bitmap, [&](std::span<const std::uint8_t> record, std::int32_t) {
      return PassesNode(cursor, node, record);
    });
  }

  void EvaluateNode(TFilterIndexAccess& access, const TExpToken& node, TRecordsBitmap& bitmap) {
    if (!HasFieldReference(node)) {
      const TExpTokenPtr value = EvaluateExpression(node, nullptr, nullptr, FLocale);
      if (!IsTrue(*value)) bitmap.ClearAll();
      return;
    }
    const TNodeMarks& marks = MarksOf(node);
    const bool indexPath = marks.Level != kLevelRecords &&
                           (marks.Cost < 0 || static_cast<std::int64_t>(bitmap.Count()) *
                                                      static_cast<std::int64_t>(FRecordSize) >=
                                                  marks.Cost);
    if (!indexPath) return EvaluateByRecords(access, node, bitmap);
    if (node.FKind == kNodeUnary && node.FOperator == opNot) {
      TRecordsBitmap operand;
      operand.SetSize(bitmap.Size());
      operand.Assign(bitmap);
      EvaluateNode(access, *node.FLeft, operand);
      operand.Invert();
      bitmap.AndWith(operand);
      return;
    }
    if (node.FKind == kNodeUnary) return EvaluateNode(access, *node.FLeft, bitmap);
    if (node.FKind == kNodeBinary && node.FOperator == opAnd) {
      EvaluateNode(access, *node.FLeft, bitmap);
      EvaluateNode(access, *node.FRight, bitmap);
      return;
    }
    if (node.FKind == kNodeBinary && node.FOperator == opOr) {
      TRecordsBitmap left;
      left.SetSize(bitmap.Size());
      left.Assign(bitmap);
      EvaluateNode(access, *node.FLeft, left);
      EvaluateNode(access, *node.FRight, bitmap);
      bitmap.OrWith(left);
      return;
    }
    const auto described = FLeaves.find(&node);
    TServedLeaf own;
    if (described == FLeaves.end() && !DescribeLeaf(access, node, own))
      return EvaluateByRecords(access, node, bitmap);
    TRecordsBitmap served;
    ScanLeaf(access, described != FLeaves.end() ? described->second : own, served);
    bitmap.AndWith(served);
  }

  void ScanLeaf(TFilterIndexAccess& access, const TServedLeaf& leaf, TRecordsBitmap& out) {
    TRecordsBitmap part;
    if (leaf.Kind == TServedLeaf::TKind::Single || leaf.Kind == TServedLeaf::TKind::Between) {
      access.ScanRange(leaf.Ranges.front(), out);  // sizes and clears out itself
      if (leaf.Invert) out.Invert();
      return;
    }
    out.SetSize(access.Highest());
    out.ClearAll();
    switch (leaf.Kind) {
      case TServedLeaf::TKind::Single:
      case TServedLeaf::TKind::Between:
        break;
      case TServedLeaf::TKind::AnyOf:
        for (const TKeyRange& range : leaf.Ranges) {
          access.ScanRange(range, part);
          out.OrWith(part);
        }
        break;
      case TServedLeaf::TKind::Text: {
        bool first = true;
        for (const auto& [word, prefix] : leaf.Words) {
          part.SetSize(out.Size());
          part.ClearAll();
          access.ScanTextWord(leaf.FieldNo, word, prefix, part);
          if (first) {
            out.Assign(part);
          } else {
            out.AndWith(part);
          }
          first = false;
        }
        break;
      }
    }
    if (leaf.Invert) out.Invert();
  }

 public:
  // The search words of a text search: split as the text index splits, "*" kept at a word's
  // end (a prefix), stop words left out.
  static std::vector<std::pair<std::string, bool>> SearchWords(std::string_view search,
                                                               const TTextIndexParams& params,
                                                               TTableLocale locale) {
    TTextIndexParams withStar = params;
    withStar.Include[static_cast<unsigned char>('*')] = true;
    withStar.Space[static_cast<unsigned char>('*')] = false;
    std::vector<std::pair<std::string, bool>> words;
    for (std::string word : TextIndexWords(search, withStar, locale)) {
      const bool prefix = !word.empty() && word.back() == '*';
      while (!word.empty() && word.back() == '*') word.pop_back();
      // "*" inside a word is no wildcard: the index never holds it.
      if (word.empty() || IsStopWord(word, params, locale)) continue;
      UpperCaseLocale(locale.LanguageId, locale.SortId, word.data());
      words.emplace_back(std::move(word), prefix);
    }
    return words;
  }

 private:
  TExpTokenPtr FTree;
  std::vector<TFieldDescriptor> FFields;
  std::size_t FRecordSize;
  TEvalLocale FLocale;
  std::unique_ptr<TTableColumns> FColumns;
  std::unordered_map<const TExpToken*, TNodeMarks> FMarks;
  std::unordered_map<const TExpToken*, TServedLeaf> FLeaves;  // served leaves as analysed
  std::vector<std::uint8_t> FScratch;                         // the record being evaluated
  bool FEstimate = false;
  bool FCostRule = false;
};

// The words of a field's text, upper-cased.
std::vector<std::string> FieldWords(std::string_view text, const TTextIndexParams& params,
                                    TTableLocale locale) {
  std::vector<std::string> words = TextIndexWords(text, params, locale);
  for (std::string& word : words) UpperCaseLocale(locale.LanguageId, locale.SortId, word.data());
  return words;
}

bool WordMatches(const std::string& fieldWord, const std::pair<std::string, bool>& search) {
  if (search.second) return fieldWord.compare(0, search.first.size(), search.first) == 0;
  return fieldWord == search.first;
}

}  // namespace

std::unique_ptr<TFilterCondition> CompileFilterText(TDataCursor& cursor, std::string_view text,
                                                    const TFilterFlags& flags) {
  const TTableLocale locale = cursor.Locale();
  TExpressionParser parser;
  parser.SetErrorCode(codes::kFilterError);
  parser.SetErrorTableName(cursor.TableName());
  parser.SetContextName(kContext);
  parser.SetLanguageId(locale.LanguageId);
  parser.SetExpression(text);
  if (parser.NextToken() == kTokenEnd)
    cursor.RaiseError(codes::kFilterError, "filter expression is empty");
  TExpTokenPtr tree = parser.ParseExpression(kFilterFlags);
  if (!parser.IsToken(kTokenEnd)) parser.FailFound("Unknown or unexpected symbol '");

  const auto& descriptors = cursor.Table()->Data().Descriptors();
  const std::vector<TFieldDescriptor> fields(descriptors.begin(), descriptors.end());
  TRecordFields resolver(fields, cursor.Table()->Data().RecordSize());
  TBindOptions options;
  options.ErrorCode = codes::kFilterError;
  options.DatabaseName = cursor.Directory().DatabaseName();
  options.TableName = cursor.TableName();
  options.ContextName = std::string(kContext);
  BindExpression(options, &resolver, nullptr, *tree);
  if (tree->FDataType != kFieldTypeBoolean)
    cursor.RaiseError(codes::kFilterError, "filter expression must be a boolean expression");

  Normalise(*tree);
  MarkCaseInsensitive(*tree);
  TExpToken* root = tree.release();
  try {
    FoldConstants(root, TEvalLocale{locale.LanguageId, locale.SortId});
  } catch (...) {
    TExpTokenStack::Release(root);
    throw;
  }
  tree.reset(root);
  MakeCompareNodes(*tree, flags, locale.LanguageId);
  return std::make_unique<TExpressionCondition>(cursor, std::move(tree));
}

std::unique_ptr<TFilterCondition> MakeFilterCondition(TDataCursor& cursor, TExpTokenPtr tree) {
  if (tree == nullptr) cursor.RaiseError(codes::kFilterError, "filter expression is invalid");
  return std::make_unique<TExpressionCondition>(cursor, std::move(tree));
}

namespace {

void SubstituteNodes(TExpToken*& slot, const TNodeSubstitute& substitute) {
  if (TExpTokenPtr replacement = substitute(*slot)) {
    TExpTokenStack::Release(slot);
    slot = replacement.release();
    return;
  }
  for (TExpToken** child : ChildSlots(*slot)) SubstituteNodes(*child, substitute);
}

}  // namespace

TExpTokenPtr PreEvaluateCondition(const TExpToken& tree, TTableLocale locale,
                                  const TFilterFlags& flags, const TNodeSubstitute& substitute) {
  TExpToken* root = CopyTree(tree).release();
  try {
    SubstituteNodes(root, substitute);
    Normalise(*root);
    MarkCaseInsensitive(*root);
    FoldConstants(root, TEvalLocale{locale.LanguageId, locale.SortId});
  } catch (...) {
    TExpTokenStack::Release(root);
    throw;
  }
  TExpTokenPtr result(root);
  MakeCompareNodes(*result, flags, locale.LanguageId);
  return result;
}

TFilter* AddFilterText(TDataCursor& cursor, std::string_view text, const TFilterFlags& flags) {
  return cursor.AddFilter(CompileFilterText(cursor, text, flags), {}, flags);
}

bool TextSearch(std::string_view search, std::string_view fieldText, const TTextIndexParams& params,
                TTableLocale locale) {
  const auto words = TExpressionCondition::SearchWords(search, params, locale);
  if (words.empty()) return false;
  const std::vector<std::string> fieldWords = FieldWords(fieldText, params, locale);
  return std::all_of(words.begin(), words.end(), [&](const auto& word) {
    return std::any_of(fieldWords.begin(), fieldWords.end(),
                       [&](const std::string& f) { return WordMatches(f, word); });
  });
}

std::int32_t TextOccurs(std::string_view search, std::string_view fieldText,
                        const TTextIndexParams& params, TTableLocale locale) {
  const auto words = TExpressionCondition::SearchWords(search, params, locale);
  std::int32_t count = 0;
  for (const std::string& fieldWord : FieldWords(fieldText, params, locale)) {
    if (std::any_of(words.begin(), words.end(),
                    [&](const auto& word) { return WordMatches(fieldWord, word); }))
      ++count;
  }
  return count;
}

}  // namespace kura
