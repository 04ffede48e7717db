#include "sql/expression_case_runner.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "base/engine_error.h"
#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "sql/record_fields.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/record_image.h"

namespace kura::testing {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
  return text;
}

namespace {

std::string OperatorName(const TExpToken& node) {
  static const std::map<int, std::string> kNames{{opIsBlank, "IS BLANK"},
                                                 {opIsNotBlank, "IS NOT BLANK"},
                                                 {opEqual, "="},
                                                 {opNotEqual, "<>"},
                                                 {opGreater, ">"},
                                                 {opLess, "<"},
                                                 {opGreaterEqual, ">="},
                                                 {opLessEqual, "<="},
                                                 {opNot, "NOT"},
                                                 {opAnd, "AND"},
                                                 {opOr, "OR"},
                                                 {opNegate, "NEG"},
                                                 {opPlusSign, "POS"},
                                                 {opAdd, "+"},
                                                 {opSubtract, "-"},
                                                 {opMultiply, "*"},
                                                 {opDivide, "/"}};
  auto found = kNames.find(node.FOperator);
  if ((node.FKind == kNodeUnary || node.FKind == kNodeBinary) && found != kNames.end()) {
    return found->second;
  }
  return node.FText + "#" + std::to_string(node.FOperator);
}

}  // namespace

TFieldDescriptor ParseFieldDeclaration(const std::string& name, const std::string& type) {
  TExpressionParser parser;
  parser.SetExpression(type);
  parser.NextToken();
  TExpTokenPtr node = NewToken();
  parser.ParseDataType(*node, false);
  TFieldDescriptor field;
  field.FieldName = name;
  field.FieldType = node->FDataType;
  field.FieldSubType = node->FSubType;
  // Only strings and byte strings declare a size; BLOB arguments are not sizes.
  bool declaresSize = field.FieldType == kFieldTypeString || field.FieldType == kFieldTypeBytes;
  if (declaresSize && node->FArgs.size() > 1 && node->FArgs[1] != nullptr) {
    field.FieldSize = static_cast<std::uint8_t>(ReadInteger(*node->FArgs[1]));
  }
  if (field.FieldType == kFieldTypeBcd) {
    field.FieldDecimals =
        node->FArgs.size() > 2 ? static_cast<std::uint8_t>(ReadInteger(*node->FArgs[2])) : 4;
  }
  return field;
}

std::string DumpTree(const TExpToken* node) {
  return DumpTree(node, {});
}

std::string DumpTree(const TExpToken* node, const TColumnText& columnText) {
  if (node == nullptr) return "_";
  switch (node->FKind) {
    case kNodeColumn:
      if (columnText) return columnText(*node);
      return node->FTableName.empty() ? node->FColumnName
                                      : node->FTableName + "." + node->FColumnName;
    case kNodeConstant:
      if (node->FIsParam) return node->FText;  // "?", or numbered by a statement runner
      if (node->FDataType == kUntyped) return "NULL";
      return std::string(TypeName(node->FDataType, node->FSubType)) + ":" + ValueText(*node);
    case kNodeSubSelect:
      return "(SELECT)";
    default: {
      std::string text = "(";
      text.append(OperatorName(*node));
      if (node->FKind == kNodeFunction && node->FOperator == opCast) {
        text.append(" AS ").append(TypeName(node->FDataType, node->FSubType));
      }
      auto child = [&text, &columnText](const TExpToken* operand) {
        text.append(1, ' ').append(DumpTree(operand, columnText));
      };
      if (node->FLeft) child(node->FLeft);
      if (node->FRight) child(node->FRight);
      for (const TExpToken* arg : node->FArgs) child(arg);
      text.append(1, ')');
      return text;
    }
  }
}

TExpressionCaseRunner::TExpressionCaseRunner(std::string file)
    : FRecord(kRecordHeaderSize, 0), FFile(std::move(file)) {
  FCaseKinds["eval"] = [](TExpressionCaseRunner& r, const TCaseBlock& b) { r.RunEval(b, false); };
  FCaseKinds["compare"] = [](TExpressionCaseRunner& r, const TCaseBlock& b) { r.RunEval(b, true); };
  FCaseKinds["error"] = [](TExpressionCaseRunner& r, const TCaseBlock& b) { r.RunError(b); };
  FCaseKinds["tree"] = [](TExpressionCaseRunner& r, const TCaseBlock& b) { r.RunTree(b); };
}

void TExpressionCaseRunner::AddCaseKind(const std::string& kind, THandler handler) {
  FCaseKinds[kind] = std::move(handler);
}

void TExpressionCaseRunner::AddDirective(const std::string& name, THandler handler) {
  FDirectives[name] = std::move(handler);
}

void TExpressionCaseRunner::Run() {
  std::set<std::string> kinds;
  for (const auto& entry : FCaseKinds) kinds.insert(entry.first);
  for (const TCaseBlock& block : ReadCaseFile(FFile, kinds)) {
    SCOPED_TRACE(FFile + ":" + std::to_string(block.Line));
    if (!block.IsDirective) {
      FCaseKinds.at(block.Kind)(*this, block);
    } else if (auto found = FDirectives.find(block.Kind); found != FDirectives.end()) {
      found->second(*this, block);
    } else {
      RunDirective(block);
    }
  }
}

void TExpressionCaseRunner::RunDirective(const TCaseBlock& block) {
  const std::string& a = block.Arguments;
  if (block.Kind == "context") {
    FContext = a;
  } else if (block.Kind == "code") {
    FCode = static_cast<std::uint16_t>(std::stoi(a));
  } else if (block.Kind == "flags") {
    FFlags = std::stoi(a);
  } else if (block.Kind == "locale") {
    std::istringstream in(a);
    in >> FLocale.LanguageId >> FLocale.SortId;
  } else if (block.Kind == "strings_as_columns") {
    FStringsAsColumns = a == "on";
  } else if (block.Kind == "boolean_columns") {
    FBooleanColumns = a == "on";
  } else if (block.Kind == "fields") {
    DeclareFields(block.Input);
  } else {
    ADD_FAILURE() << "unknown directive " << block.Kind;
  }
}

void TExpressionCaseRunner::DeclareFields(const std::vector<std::string>& lines) {
  FFields.clear();
  FBlobs.clear();
  std::vector<std::string> values;
  for (const std::string& line : lines) {
    std::istringstream in(line);
    std::string name, type;
    in >> name >> type;
    std::string value;
    std::getline(in, value);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    TFieldDescriptor field = ParseFieldDeclaration(name, type);
    FFields.push_back(field);
    values.push_back(value);
  }
  std::size_t size = LayoutFields(FFields);
  FRecord.assign(size, 0);
  std::int32_t lastRowId = 0;
  InitRecord(FRecord, 1, true, lastRowId);
  for (std::size_t i = 0; i < FFields.size(); ++i) {
    const TFieldDescriptor& field = FFields[i];
    if (values[i] == "NULL") continue;
    if (field.FieldType == kFieldTypeBlob) {
      FBlobs[field.FieldNo] = values[i];
      std::uint8_t reference[8] = {1};
      SetField(FRecord, field, reference, true, {});
      continue;
    }
    std::vector<std::uint8_t> bytes =
        ValueFromText(field.FieldType, values[i], field.FieldSize, field.FieldDecimals);
    bytes.push_back(0);
    SetField(FRecord, field, bytes.data(), true, {});
  }
}

TExpTokenPtr TExpressionCaseRunner::Parse(const std::string& text, TExpressionParser& parser) {
  parser.SetErrorCode(FCode);
  parser.SetContextName(FContext);
  parser.SetLanguageId(FLocale.LanguageId);
  parser.SetExpression(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(FFlags);
  if (!parser.IsToken(kTokenEnd)) {
    parser.Fail("Unknown or unexpected symbol '" + parser.TokenText() + "' found in " +
                parser.ContextName());
  }
  return tree;
}

// Parses, binds and evaluates; answers "<type> <value>".
std::string TExpressionCaseRunner::Evaluate(const TCaseBlock& block, bool asCompareNode) {
  TExpressionParser parser;
  TExpTokenPtr tree = Parse(JoinLines(block.Input), parser);
  TRecordFields fields(FFields, FRecord.size());
  fields.SetBlobReader(
      [this](const std::uint8_t*, const TFieldDescriptor& field, std::string& value) {
        auto found = FBlobs.find(field.FieldNo);
        if (found == FBlobs.end()) return false;
        value = found->second;
        return true;
      });
  TBindOptions options;
  options.ErrorCode = FCode;
  options.ContextName = FContext;
  options.StringConstantsAsColumns = FStringsAsColumns;
  options.BooleanColumnsStandAlone = FBooleanColumns;
  BindExpression(options, &fields, nullptr, *tree);
  if (asCompareNode) {
    std::istringstream in(block.Arguments);
    int caseInsensitive = 0;
    in >> caseInsensitive >> tree->FPartialLength;
    tree->FKind = kNodeCompare;
    tree->FCaseInsensitive = static_cast<std::uint8_t>(caseInsensitive);
  }
  TExpTokenPtr value = EvaluateExpression(*tree, FRecord.data(), &fields, FLocale);
  return std::string(TypeName(value->FDataType, value->FSubType)) + " " + ValueText(*value);
}

void TExpressionCaseRunner::RunEval(const TCaseBlock& block, bool asCompareNode) {
  try {
    std::string actual = Evaluate(block, asCompareNode);
    EXPECT_EQ(JoinLines(block.Expected), actual) << JoinLines(block.Input);
  } catch (const EKuraEngineError& e) {
    ADD_FAILURE() << JoinLines(block.Input) << "\nraised " << e.ErrorCode << " " << e.ErrorText;
  }
}

void TExpressionCaseRunner::RunError(const TCaseBlock& block) {
  try {
    std::string actual = Evaluate(block, false);
    ADD_FAILURE() << JoinLines(block.Input) << "\ngave " << actual;
  } catch (const EKuraEngineError& e) {
    // Codes with a fixed message carry no error text: their whole message is compared.
    std::string text = e.ErrorText.empty() ? std::string(e.what()) : e.ErrorText;
    EXPECT_EQ(JoinLines(block.Expected), std::to_string(e.ErrorCode) + " " + text)
        << JoinLines(block.Input);
  }
}

void TExpressionCaseRunner::RunTree(const TCaseBlock& block) {
  try {
    TExpressionParser parser;
    TExpTokenPtr tree = Parse(JoinLines(block.Input), parser);
    EXPECT_EQ(JoinLines(block.Expected), DumpTree(tree.get())) << JoinLines(block.Input);
  } catch (const EKuraEngineError& e) {
    ADD_FAILURE() << JoinLines(block.Input) << "\nraised " << e.ErrorCode << " " << e.ErrorText;
  }
}

}  // namespace kura::testing
