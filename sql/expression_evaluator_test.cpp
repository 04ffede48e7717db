// The evaluator's contract with its callers: fetching, short-circuits, pooled results.
#include "sql/expression_evaluator.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "base/engine_error.h"
#include "sql/expression_binder.h"
#include "sql/expression_parser.h"
#include "sql/expression_values.h"
#include "storage/dbcs.h"
#include "storage/field_types.h"

namespace kura {
namespace {

// Two integer columns, a (field 1) and b (field 2), whose values the test sets; counts the
// fetches of each.
class TCountingColumns : public TColumnResolver, public TColumnFetcher {
 public:
  bool ResolveColumn(TExpToken& node) override {
    if (node.FColumnName != "a" && node.FColumnName != "b") return false;
    node.FFieldNo = node.FColumnName == "a" ? 1 : 2;
    node.FDataType = kFieldTypeInteger;
    node.FDataSize = 4;
    return true;
  }
  void FetchColumn(const void*, TExpToken& node) override {
    ++Fetches[node.FFieldNo];
    SetInt32(node, Values[node.FFieldNo]);
  }
  int Fetches[3] = {0, 0, 0};
  std::int32_t Values[3] = {0, 0, 0};
};

TExpTokenPtr ParseAndBind(const std::string& text, TColumnResolver* resolver,
                          bool stringsAsColumns = false) {
  TExpressionParser parser;
  parser.SetExpression(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
  TBindOptions options;
  options.ContextName = "WHERE clause";
  options.StringConstantsAsColumns = stringsAsColumns;
  BindExpression(options, resolver, nullptr, *tree);
  return tree;
}

TEST(ExpressionEvaluator, AndAndOrDecideOnTheRightOperandFirst) {
  TCountingColumns columns;
  TExpTokenPtr conjunction = ParseAndBind("a = 1 AND b = 1", &columns);
  columns.Values[2] = 0;
  EXPECT_FALSE(IsTrue(*EvaluateExpression(*conjunction, nullptr, &columns, {})));
  EXPECT_EQ(0, columns.Fetches[1]);
  EXPECT_EQ(1, columns.Fetches[2]);

  TExpTokenPtr disjunction = ParseAndBind("a = 1 OR b = 1", &columns);
  columns.Values[2] = 1;
  EXPECT_TRUE(IsTrue(*EvaluateExpression(*disjunction, nullptr, &columns, {})));
  EXPECT_EQ(0, columns.Fetches[1]);
  columns.Values[2] = 0;
  columns.Values[1] = 1;
  EXPECT_TRUE(IsTrue(*EvaluateExpression(*disjunction, nullptr, &columns, {})));
  EXPECT_EQ(1, columns.Fetches[1]);
}

TEST(ExpressionEvaluator, InEvaluatesTheTestedValueOnceAndStopsAtTheFirstMatch) {
  TCountingColumns columns;
  columns.Values[1] = 2;
  TExpTokenPtr tree = ParseAndBind("a IN (1, 2, b)", &columns);
  EXPECT_TRUE(IsTrue(*EvaluateExpression(*tree, nullptr, &columns, {})));
  EXPECT_EQ(1, columns.Fetches[1]);
  EXPECT_EQ(0, columns.Fetches[2]);
}

TEST(ExpressionEvaluator, AColumnWithoutAFetcherIsAnInternalError) {
  TCountingColumns columns;
  TExpTokenPtr tree = ParseAndBind("a + 1", &columns);
  try {
    EvaluateExpression(*tree, nullptr, nullptr, {});
    FAIL() << "no error";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(11949, e.ErrorCode);
    EXPECT_EQ("Internal error: Column 'a' specified illegally", e.ErrorText);
  }
}

TEST(ExpressionEvaluator, AQuotedColumnWithoutAFetcherYieldsItsText) {
  TCountingColumns columns;
  TExpTokenPtr tree = ParseAndBind("'a'", &columns, true);
  ASSERT_EQ(kNodeColumn, tree->FKind);
  TExpTokenPtr value = EvaluateExpression(*tree, nullptr, nullptr, {});
  EXPECT_EQ(kFieldTypeString, value->FDataType);
  EXPECT_EQ("a", ReadString(*value));
}

TEST(ExpressionEvaluator, ResultsComeFromThePoolAndGoBackToIt) {
  TCountingColumns columns;
  TExpTokenPtr tree = ParseAndBind("(a > 10 AND b - 1 < 5) OR UPPER('x') = 'X'", &columns);
  EvaluateExpression(*tree, nullptr, &columns, {});
  std::size_t pooled = TExpTokenStack::PooledCount();
  for (int i = 0; i < 1000; ++i) {
    columns.Values[1] = i;
    EvaluateExpression(*tree, nullptr, &columns, {});
  }
  EXPECT_EQ(pooled, TExpTokenStack::PooledCount());
}

}  // namespace
}  // namespace kura

namespace kura {
namespace {

class TTwoAndThree : public TSubQuery {
 public:
  int ColumnCount() const override { return 1; }
  bool BindColumn(TExpToken& column) override {
    column.FDataType = kFieldTypeInteger;
    column.FDataSize = 4;
    return true;
  }
  bool Contains(const TExpToken& value) override {
    std::int64_t v = ReadInteger(value);
    return !value.FIsNull && (v == 2 || v == 3);
  }
};

class TSubSelects : public TExpressionOwner {
 public:
  void AddParameter(TExpToken*) override {}
  TSubQuery* ParseSubSelect(TExpressionParser& parser) override {
    while (!parser.IsToken(')')) parser.NextToken();
    return new TTwoAndThree;
  }
};

TEST(ExpressionEvaluator, InWithASubSelectAsksItsResult) {
  TSubSelects owner;
  TExpressionParser parser(&owner);
  parser.SetExpression("a IN (SELECT x FROM t) AND NOT b IN (SELECT x FROM t)");
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kWhereFlags);
  TCountingColumns columns;
  BindExpression(TBindOptions{}, &columns, nullptr, *tree);
  columns.Values[1] = 3;
  columns.Values[2] = 4;
  EXPECT_TRUE(IsTrue(*EvaluateExpression(*tree, nullptr, &columns, {})));
  columns.Values[2] = 2;
  EXPECT_FALSE(IsTrue(*EvaluateExpression(*tree, nullptr, &columns, {})));
}

// The per-record test answers what the full evaluation answers, and fetches the same columns,
// for every form it takes a shortcut on.
TEST(ExpressionEvaluator, ConditionTestAgreesWithTheEvaluatedValue) {
  const char* conditions[] = {
      "a = 1",
      "a <> b",
      "a + 0 > 1",
      "NOT (a < b)",
      "NOT (a = 1 AND b = 2)",
      "NOT a IS NULL",
      "a BETWEEN 1 AND b",
      "a NOT BETWEEN b AND 2",
      "a IN (0, 2, b)",
      "a NOT IN (1, b)",
      "a = 1 OR (b > 0 AND NOT b = 2)",
      "CAST(a AS CHAR(4)) LIKE '%1%'",
      "'abc' NOT LIKE '%b%' OR a = 2",
  };
  for (const char* text : conditions) {
    for (std::int32_t a = 0; a <= 2; ++a) {
      for (std::int32_t b = 0; b <= 2; ++b) {
        TCountingColumns full;
        TCountingColumns quick;
        TExpTokenPtr tree = ParseAndBind(text, &full);
        full.Values[1] = quick.Values[1] = a;
        full.Values[2] = quick.Values[2] = b;
        const bool expected = IsTrue(*EvaluateExpression(*tree, nullptr, &full, {}));
        EXPECT_EQ(expected, EvaluateCondition(*tree, nullptr, &quick, {}))
            << text << " with a = " << a << ", b = " << b;
        EXPECT_EQ(full.Fetches[1], quick.Fetches[1]) << text;
        EXPECT_EQ(full.Fetches[2], quick.Fetches[2]) << text;
      }
    }
  }
}

// Character-wise LIKE as the rules state it: % any run of characters, _ one character, a
// double-byte character is one character.
bool ReferenceLike(std::string_view value, std::string_view pattern) {
  if (pattern.empty()) return value.empty();
  const std::size_t patternWidth = CharacterWidthAt(0, pattern, 0);
  if (patternWidth == 1 && pattern[0] == '%') {
    for (std::size_t s = 0;; s += CharacterWidthAt(0, value, s)) {
      if (ReferenceLike(value.substr(s), pattern.substr(1))) return true;
      if (s >= value.size()) return false;
    }
  }
  if (value.empty()) return false;
  const std::size_t valueWidth = CharacterWidthAt(0, value, 0);
  const bool same = (patternWidth == 1 && pattern[0] == '_') ||
                    value.substr(0, valueWidth) == pattern.substr(0, patternWidth);
  return same && ReferenceLike(value.substr(valueWidth), pattern.substr(patternWidth));
}

TEST(ExpressionValues, LikeAgreesWithACharacterWiseMatcher) {
  // Single bytes, a CP932 double-byte character whose trail byte is the letter "a", and the
  // wildcards: words are found whole, never inside a double-byte character.
  const std::string pieces[] = {"a",
                                "b",
                                "ab",
                                "\x83"
                                "a",
                                "%",
                                "_"};
  std::mt19937 random(37);
  const auto text = [&](bool wildcards) {
    std::string out;
    const std::size_t length = random() % 6;
    for (std::size_t i = 0; i < length; ++i) {
      const std::string& piece = pieces[random() % (wildcards ? 6 : 4)];
      out += piece;
    }
    return out;
  };
  for (int round = 0; round < 4000; ++round) {
    const std::string value = text(false);
    const std::string middle = text(round % 2 == 0);
    const std::string pattern = round % 3 == 0 ? middle : "%" + middle + "%";
    EXPECT_EQ(ReferenceLike(value, pattern), MatchLike({}, value, pattern))
        << "'" << value << "' LIKE '" << pattern << "'";
  }
}

}  // namespace
}  // namespace kura
