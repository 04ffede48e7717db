// The parser's API as the SQL parser and cursors use it: tokens, marks, data types,
// parameters handed to the owner, error codes and table names, and the nesting caps.
#include "sql/expression_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/field_types.h"

namespace kura {
namespace {

TEST(ExpressionParser, NextTokenAnswersEveryKind) {
  TExpressionParser parser;
  parser.SetExpression("name [br name] 'q''s' \"dq\" #65 12 1.5e+3 ( | \xC8");
  std::vector<std::pair<int, std::string>> tokens;
  for (int kind = parser.NextToken(); kind != kTokenEnd; kind = parser.NextToken()) {
    tokens.emplace_back(kind, parser.TokenText());
  }
  std::vector<std::pair<int, std::string>> expected{{kTokenSymbol, "name"},
                                                    {kTokenBracketed, "br name"},
                                                    {kTokenSingleQuoted, "q's"},
                                                    {kTokenDoubleQuoted, "dq"},
                                                    {kTokenCharCode, "#65"},
                                                    {kTokenInteger, "12"},
                                                    {kTokenReal, "1.5e+3"},
                                                    {'(', "("},
                                                    {'|', "|"},
                                                    {kTokenSymbol, "\xC8"}};
  EXPECT_EQ(expected, tokens);
}

TEST(ExpressionParser, DoubleByteCharactersStayWholeInNamesAndBrackets) {
  TExpressionParser parser;
  // 0x83 0x5D is one katakana character whose second byte is the closing bracket.
  parser.SetExpression("[\x83\x5D] \x83\x5C\x83\x5C");
  EXPECT_EQ(kTokenBracketed, parser.NextToken());
  EXPECT_EQ("\x83\x5D", parser.TokenText());
  EXPECT_EQ(kTokenSymbol, parser.NextToken());
  EXPECT_EQ("\x83\x5C\x83\x5C", parser.TokenText());
  EXPECT_EQ(kTokenEnd, parser.NextToken());
}

TEST(ExpressionParser, OperatorsOfSeveralWordsKeepTheirWordsJoinedByBlanks) {
  struct TCase {
    const char* Text;
    std::uint8_t Operator;
    const char* NodeText;
  } cases[] = {
      {"x IS NULL", opEqual, "IS NULL"}, {"x is  not\tnull", opNotEqual, "IS NOT NULL"},
      {"x = NULL", opEqual, "="},        {"x NOT LIKE 'a%'", opNotLike, "NOT LIKE"},
      {"x < = 1", opLessEqual, "< ="},
  };
  for (const TCase& c : cases) {
    TExpressionParser parser;
    parser.SetExpression(c.Text);
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
    EXPECT_EQ(c.Operator, tree->FOperator) << c.Text;
    EXPECT_EQ(c.NodeText, tree->FText) << c.Text;
    if (c.Operator == opEqual || c.Operator == opNotEqual) {
      // IS [NOT] NULL is the comparison with a NULL constant, whatever its text.
      EXPECT_EQ(kNodeBinary, tree->FKind) << c.Text;
      ASSERT_NE(nullptr, tree->FRight);
      EXPECT_EQ(kNodeConstant, tree->FRight->FKind) << c.Text;
      EXPECT_EQ(1, tree->FRight->FIsNull) << c.Text;
    }
  }
}

// Code page 932 second bytes are 0x40-0x7E and 0x80-0xFC: a lead byte before any other byte
// (a quote, a blank, the end) is a character of its own and never swallows a delimiter.
TEST(ExpressionParser, ALeadByteTakesOnlyAValidSecondByte) {
  struct TCase {
    const char* Text;
    int Kind;
    const char* TokenText;
  } cases[] = {
      {"'\x83' x", kTokenSingleQuoted, "\x83"},
      {"\"\x83\" x", kTokenDoubleQuoted, "\x83"},
      {"'a\x83''b' x", kTokenSingleQuoted, "a\x83'b"},
      {"'\x83\x40'", kTokenSingleQuoted, "\x83\x40"},  // a whole character
      {"'\x83\x5C'", kTokenSingleQuoted, "\x83\x5C"},  // its second byte looks like a backslash
      {"[\x83\x5D]", kTokenBracketed, "\x83\x5D"},     // ... or like the closing bracket
      {"\x83 x", kTokenSymbol, "\x83"},                // a blank is no second byte either
      {"\x83\xFC'", kTokenSymbol, "\x83\xFC"},
  };
  for (const TCase& c : cases) {
    TExpressionParser parser;
    parser.SetExpression(c.Text);
    int kind = 0;
    EXPECT_NO_THROW(kind = parser.NextToken()) << c.Text;
    EXPECT_EQ(c.Kind, kind) << c.Text;
    EXPECT_EQ(c.TokenText, parser.TokenText()) << c.Text;
  }
}

TEST(ExpressionParser, KeywordsCompareWithoutCase) {
  TExpressionParser parser;
  parser.SetExpression("select 'select'");
  parser.NextToken();
  EXPECT_TRUE(parser.IsKeyword("SELECT"));
  EXPECT_TRUE(parser.IsSymbolOrString());
  parser.NextToken();
  EXPECT_FALSE(parser.IsKeyword("SELECT"));
  EXPECT_TRUE(parser.IsSymbolOrString());
}

TEST(ExpressionParser, MarkedTextRecoversAnExpressionWithoutLineBreaks) {
  TExpressionParser parser;
  parser.SetExpression("a +\r\n b AS total");
  parser.NextToken();
  parser.MarkStart();
  TExpTokenPtr tree = parser.ParseExpression(kSelectColumnFlags);
  EXPECT_TRUE(parser.IsKeyword("AS"));
  EXPECT_EQ("a + b", parser.MarkedText());
}

TEST(ExpressionParser, ParseExpressionStopsAtTheFirstTokenNotConsumed) {
  TExpressionParser parser;
  parser.SetExpression("a = 1 ORDER BY a");
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
  EXPECT_TRUE(parser.IsKeyword("ORDER"));
  EXPECT_EQ(kNodeBinary, tree->FKind);
  EXPECT_EQ(opEqual, tree->FOperator);
}

TEST(ExpressionParser, ParseDataTypeFillsTypeAndArguments) {
  TExpressionParser parser;
  parser.SetExpression("VARCHAR(20) MEMO BLOB(1, 5) BOGUS");
  parser.NextToken();
  TExpTokenPtr node = NewToken();
  ASSERT_TRUE(parser.ParseDataType(*node, false));
  EXPECT_EQ(kFieldTypeString, node->FDataType);
  ASSERT_EQ(2u, node->FArgs.size());
  EXPECT_EQ("20", node->FArgs[1]->FText);
  TExpTokenPtr memo = NewToken();
  ASSERT_TRUE(parser.ParseDataType(*memo, false));
  EXPECT_EQ(kFieldTypeBlob, memo->FDataType);
  EXPECT_EQ(kSubTypeMemo, memo->FSubType);
  TExpTokenPtr blob = NewToken();
  ASSERT_TRUE(parser.ParseDataType(*blob, false));
  EXPECT_EQ(0, blob->FSubType);
  ASSERT_EQ(3u, blob->FArgs.size());
  TExpTokenPtr none = NewToken();
  EXPECT_FALSE(parser.ParseDataType(*none, true));
  EXPECT_TRUE(parser.IsKeyword("BOGUS"));
}

class TRecordingOwner : public TExpressionOwner {
 public:
  void AddParameter(TExpToken* parameter) override { Parameters.push_back(parameter); }
  TSubQuery* ParseSubSelect(TExpressionParser&) override { return nullptr; }
  std::vector<TExpToken*> Parameters;
};

TEST(ExpressionParser, ParametersGoToTheOwnerInOrder) {
  TRecordingOwner owner;
  TExpressionParser parser(&owner);
  parser.SetExpression("a = ? AND b BETWEEN ? AND ?");
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
  ASSERT_EQ(3u, owner.Parameters.size());
  EXPECT_EQ(tree->FLeft->FRight, owner.Parameters[0]);
  EXPECT_EQ(tree->FRight->FArgs[1], owner.Parameters[1]);
  EXPECT_EQ(tree->FRight->FArgs[2], owner.Parameters[2]);
  for (TExpToken* parameter : owner.Parameters) EXPECT_EQ(1, parameter->FIsParam);
}

TEST(ExpressionParser, ErrorsCarryTheOwnersCodeTableAndContext) {
  TExpressionParser parser;
  parser.SetErrorCode(10051);
  parser.SetErrorTableName("mondai");
  parser.SetContextName("filter expression");
  parser.SetExpression("a = ");
  parser.NextToken();
  try {
    parser.ParseExpression(kFilterFlags);
    FAIL() << "no error";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(10051, e.ErrorCode);
    EXPECT_EQ("mondai", e.ErrorTableName);
    EXPECT_EQ("Unknown or unexpected symbol '' found in filter expression", e.ErrorText);
  }
}

TEST(ExpressionParser, LongMessagesAreCutTo255Characters) {
  TExpressionParser parser;
  parser.SetContextName(std::string(300, 'c'));
  parser.SetExpression("'" + std::string(400, 'x'));
  try {
    parser.NextToken();
    FAIL() << "no error";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(255u, e.ErrorText.size());
  }
}

std::uint16_t RaisedCode(const std::string& text) {
  TExpressionParser parser;
  parser.SetExpression(text);
  try {
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
    return 0;
  } catch (const EKuraEngineError& e) {
    return e.ErrorCode;
  }
}

TEST(ExpressionParser, NestingAndTreeHeightAreCapped) {
  std::string chain = "a";
  for (int i = 0; i < 900; ++i) chain += " OR a = " + std::to_string(i);
  EXPECT_EQ(0, RaisedCode(chain));
  for (int i = 0; i < 200; ++i) chain += " OR a = 1";
  EXPECT_EQ(11949, RaisedCode(chain));
  EXPECT_EQ(11949, RaisedCode(std::string(100000, '(')));
  EXPECT_EQ(11949, RaisedCode(std::string(5000, '-') + "1"));
  std::string calls;
  for (int i = 0; i < 300; ++i) calls += "UPPER(";
  EXPECT_EQ(11949, RaisedCode(calls + "'x'" + std::string(300, ')')));
}

}  // namespace
}  // namespace kura

namespace kura {
namespace {

// A sub-select that reads its tokens up to the closing parenthesis and holds one column of
// the values 2 and 3.
class TStubSubQuery : public TSubQuery {
 public:
  int ColumnCount() const override { return 1; }
  bool BindColumn(TExpToken& column) override {
    column.FDataType = kFieldTypeInteger;
    column.FDataSize = 4;
    return true;
  }
  bool Contains(const TExpToken& value) override {
    return value.FDataType == kFieldTypeInteger && !value.FIsNull &&
           (value.Data()[0] == 2 || value.Data()[0] == 3);
  }
};

class TSubSelectOwner : public TExpressionOwner {
 public:
  void AddParameter(TExpToken*) override {}
  TSubQuery* ParseSubSelect(TExpressionParser& parser) override {
    while (!parser.IsToken(')') && !parser.IsToken(kTokenEnd)) parser.NextToken();
    return new TStubSubQuery;
  }
};

TEST(ExpressionParser, SubSelectsInsideInBelongToTheirNode) {
  TSubSelectOwner owner;
  TExpressionParser parser(&owner);
  parser.SetExpression("3 NOT IN (SELECT x FROM t) OR 2 IN (SELECT x FROM t WHERE y = 1)");
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
  ASSERT_TRUE(parser.IsToken(kTokenEnd));
  ASSERT_EQ(opOr, tree->FOperator);
  EXPECT_EQ(opNotInSubSelect, tree->FLeft->FOperator);
  EXPECT_EQ(kNodeSubSelect, tree->FLeft->FArgs[1]->FKind);
  EXPECT_NE(nullptr, tree->FLeft->FArgs[1]->FSubQuery);
  EXPECT_EQ(opInSubSelect, tree->FRight->FOperator);
  // Unclosed: the node built so far, sub-query included, is released by the caller.
  parser.SetExpression("2 IN (SELECT x");
  parser.NextToken();
  EXPECT_THROW(parser.ParseExpression(kWhereFlags), EKuraEngineError);
  // Without flag 16 the owner is never asked.
  parser.SetExpression("2 IN (SELECT x)");
  parser.NextToken();
  EXPECT_THROW(parser.ParseExpression(kFilterFlags), EKuraEngineError);
}

}  // namespace
}  // namespace kura
