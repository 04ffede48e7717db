#include "sql/expression_text.h"

#include "storage/collation.h"
#include "storage/field_types.h"

namespace kura {
namespace {

// How tightly an operator binds, as the grammar reads it: higher binds tighter.
int Precedence(const TExpToken& node) {
  switch (node.FKind) {
    case kNodeBinary:
    case kNodeCompare:
      switch (node.FOperator) {
        case opOr:
          return 1;
        case opAnd:
          return 2;
        case opAdd:
        case opSubtract:
          return 5;
        case opMultiply:
        case opDivide:
          return 6;
        default:
          return 4;  // comparisons
      }
    case kNodePredicate:
      return 4;
    case kNodeUnary:
      return node.FOperator == opNot ? 3 : 7;
    default:
      return 8;  // columns, constants, functions
  }
}

bool IsQuotedConstant(const TExpToken& node) {
  const bool text = node.FDataType == kFieldTypeString || node.FDataType == kFieldTypeDate ||
                    node.FDataType == kFieldTypeTime || node.FDataType == kFieldTypeTimestamp;
  return text && node.FIsParam == 0 && !node.FText.empty() && node.FText[0] != '#';
}

class TTextWriter {
 public:
  std::string Take() { return std::move(FText); }

  void Write(const TExpToken* node, int parentPrecedence = 0) {
    if (Full()) return;
    if (node == nullptr) {
      Append("?");
      return;
    }
    const bool parenthesised = Precedence(*node) < parentPrecedence;
    if (parenthesised) Append("(");
    WriteNode(*node);
    if (parenthesised) Append(")");
  }

  bool Full() const { return FText.size() > kMaxExpressionTextLength; }

 private:
  void Append(std::string_view text) {
    if (!Full()) FText += text;
  }

  void WriteNode(const TExpToken& node) {
    switch (node.FKind) {
      case kNodeBinary:
      case kNodeCompare: {
        const int precedence = Precedence(node);
        Write(node.FLeft, precedence);
        Append(" " + node.FText + " ");
        // The right operand of a left-associative operator needs parentheses at the same level.
        Write(node.FRight, precedence + 1);
        return;
      }
      case kNodeUnary:
        if (node.FOperator == opNot) {
          Append("NOT ");
        } else if (node.FOperator == opNegate || node.FOperator == opPlusSign) {
          Append(node.FOperator == opNegate ? "-" : "+");
        } else {
          Append(node.FText + " ");
        }
        Write(node.FLeft, Precedence(node));
        return;
      case kNodePredicate:
        WritePredicate(node);
        return;
      case kNodeFunction:
        Append(node.FText + "(");
        for (std::size_t i = 0; i < node.FArgs.size(); ++i) {
          if (i > 0) Append(", ");
          Write(node.FArgs[i]);
        }
        Append(")");
        return;
      case kNodeConstant:
        if (IsQuotedConstant(node)) {
          Append("'" + node.FText + "'");
        } else {
          Append(node.FText);
        }
        return;
      default:
        Append(node.FText);
        return;
    }
  }

  void WritePredicate(const TExpToken& node) {
    if (node.FArgs.empty()) {
      Append(node.FText);
      return;
    }
    Write(node.FArgs[0], 5);
    Append(" " + node.FText + " ");
    const bool between = node.FOperator == opBetween || node.FOperator == opNotBetween;
    if (between && node.FArgs.size() == 3) {
      Write(node.FArgs[1], 5);
      Append(" AND ");
      Write(node.FArgs[2], 5);
      return;
    }
    if (node.FArgs.size() == 2 && !(node.FOperator == opIn || node.FOperator == opNotIn)) {
      Write(node.FArgs[1], 5);
      return;
    }
    Append("(");
    for (std::size_t i = 1; i < node.FArgs.size(); ++i) {
      if (i > 1) Append(", ");
      Write(node.FArgs[i]);
    }
    Append(")");
  }

  std::string FText;
};

}  // namespace

std::string ExpressionText(const TExpToken& node) {
  TTextWriter writer;
  writer.Write(&node);
  std::string text = writer.Take();
  if (text.size() > kMaxExpressionTextLength) {
    // Cut without splitting a double-byte character.
    text.resize(
        CharacterPrefixLength(kAnsiStandardLanguageId, text.c_str(), kMaxExpressionTextLength));
    text += "...";
  }
  return text;
}

}  // namespace kura
