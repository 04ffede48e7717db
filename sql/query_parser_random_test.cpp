// Random SELECT statements, built clause by clause from a fixed seed together with the model
// they must parse into: every combination of select items, sources, joins, conditions, lists
// and options, written with random keyword case, blanks, line breaks and comments.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "sql/query_statement.h"

namespace kura {
namespace {

struct TExpectedColumn {
  std::string Alias;
  std::uint8_t Aggregate = akNone;
};

struct TExpectedSource {
  std::string Correlation;
  bool InMemory = false;
};

struct TExpectedJoin {
  std::uint8_t Kind = jkInner;
  int Position = 0;
};

struct TExpectedSelect {
  bool Distinct = false;
  std::vector<TExpectedColumn> Columns;
  std::vector<TExpectedSource> Sources;
  std::vector<TExpectedJoin> Joins;
  bool HasJoin = false;
  bool Where = false;
  std::size_t GroupBy = 0;
  bool Having = false;
  std::vector<bool> OrderByDescending;
  bool NoCase = false;
  std::int32_t Top = -1;
  bool WithLocks = false;
  bool NoJoinOptimize = false;
  int Parameters = 0;
};

class TSelectWriter {
 public:
  explicit TSelectWriter(unsigned seed) : FRandom(seed) {}

  // A statement text and the model it must give.
  std::string Write(TExpectedSelect& expected) {
    FText.clear();
    FNames = 0;
    Word("SELECT");
    if (Chance(4)) {
      Word("DISTINCT");
      expected.Distinct = true;
    }
    bool grouped = Chance(3);
    SelectList(expected, grouped);
    Word("FROM");
    Sources(expected);
    if (Chance(2)) Where(expected);
    if (grouped) GroupBy(expected);
    if (Chance(3)) OrderBy(expected);
    Options(expected);
    if (Chance(3)) Token(";");
    return FText;
  }

 private:
  bool Chance(int oneIn) { return std::uniform_int_distribution<int>(1, oneIn)(FRandom) == 1; }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(FRandom); }

  void Gap() {
    static const char* const kGaps[] = {" ", "  ", "\n", "\r\n", " /* note */ ", "\t"};
    FText += kGaps[Between(0, 5)];
  }
  void Token(const std::string& text) {
    if (!FText.empty()) Gap();
    FText += text;
  }
  void Word(std::string word) {
    for (char& c : word) {
      if (Chance(2)) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    Token(word);
  }
  std::string NewName() { return "n" + std::to_string(++FNames); }

  void SelectList(TExpectedSelect& expected, bool grouped) {
    int count = Between(1, 4);
    for (int i = 0; i < count; ++i) {
      if (i > 0) Token(",");
      TExpectedColumn column;
      // Without GROUP BY a list either holds aggregates only or none.
      bool aggregate = grouped ? Chance(2) : false;
      if (aggregate) {
        static const char* const kNames[] = {"SUM", "RUNSUM", "MIN", "MAX", "AVG", "COUNT"};
        int kind = Between(0, 5);
        Word(kNames[kind]);
        Token("(");
        Token(kind == 5 && Chance(2) ? "*" : NewName());
        Token(")");
        column.Aggregate = static_cast<std::uint8_t>(kind + 1);
      } else {
        Token(NewName());
        if (Chance(3)) {
          Token("+");
          Token(std::to_string(Between(0, 99)));
        }
      }
      if (Chance(2)) {
        if (Chance(2)) Word("AS");
        column.Alias = NewName();
        Token(column.Alias);
      }
      expected.Columns.push_back(column);
    }
  }

  void Source(TExpectedSelect& expected) {
    TExpectedSource source;
    if (Chance(4)) {
      Word("MEMORY");
      source.InMemory = true;
    }
    source.Correlation = NewName();
    Token(source.Correlation);
    if (Chance(2)) {
      if (Chance(2)) Word("AS");
      source.Correlation = NewName();
      Token(source.Correlation);
    }
    expected.Sources.push_back(source);
  }

  void Sources(TExpectedSelect& expected) {
    Source(expected);
    int more = Between(0, 3);
    for (int i = 0; i < more; ++i) {
      TExpectedJoin join;
      switch (Between(0, 4)) {
        case 0:
          Token(",");
          Source(expected);
          expected.HasJoin = true;
          continue;
        case 1:
          Word("JOIN");
          break;
        case 2:
          Word("INNER");
          Word("JOIN");
          break;
        case 3:
          join.Kind = jkLeft;
          Word("LEFT");
          if (Chance(2)) Word("OUTER");
          Word("JOIN");
          break;
        default:
          join.Kind = jkRight;
          Word("RIGHT");
          if (Chance(2)) Word("OUTER");
          Word("JOIN");
      }
      Source(expected);
      join.Position = static_cast<int>(expected.Sources.size());
      Word("ON");
      Token(expected.Sources.back().Correlation + "." + NewName());
      Token("=");
      Token(expected.Sources.front().Correlation + "." + NewName());
      expected.Joins.push_back(join);
      expected.HasJoin = true;
    }
  }

  void Where(TExpectedSelect& expected) {
    expected.Where = true;
    Word("WHERE");
    int terms = Between(1, 3);
    for (int i = 0; i < terms; ++i) {
      if (i > 0) Word(Chance(2) ? "AND" : "OR");
      Token(NewName());
      Token(Chance(2) ? "=" : ">");
      if (Chance(2)) {
        Token("?");
        ++expected.Parameters;
      } else {
        Token(std::to_string(Between(0, 9)));
      }
    }
  }

  void GroupBy(TExpectedSelect& expected) {
    Word("GROUP");
    Word("BY");
    expected.GroupBy = static_cast<std::size_t>(Between(1, 3));
    for (std::size_t i = 0; i < expected.GroupBy; ++i) {
      if (i > 0) Token(",");
      Token(Chance(2) ? NewName()
                      : std::to_string(Between(1, static_cast<int>(expected.Columns.size()))));
    }
    if (Chance(2)) {
      expected.Having = true;
      Word("HAVING");
      Word("COUNT");
      Token("(");
      Token(NewName());
      Token(")");
      Token(">");
      Token("1");
    }
  }

  void OrderBy(TExpectedSelect& expected) {
    Word("ORDER");
    Word("BY");
    int count = Between(1, 3);
    for (int i = 0; i < count; ++i) {
      if (i > 0) Token(",");
      Token(Chance(2) ? NewName()
                      : std::to_string(Between(1, static_cast<int>(expected.Columns.size()))));
      bool descending = false;
      switch (Between(0, 4)) {
        case 1:
          Word("ASC");
          break;
        case 2:
          Word("ASCENDING");
          break;
        case 3:
          Word("DESC");
          descending = true;
          break;
        case 4:
          Word("DESCENDING");
          descending = true;
          break;
        default:
          break;
      }
      expected.OrderByDescending.push_back(descending);
    }
    if (Chance(3)) {
      Word("NOCASE");
      expected.NoCase = true;
    }
  }

  void Options(TExpectedSelect& expected) {
    if (Chance(3)) {
      expected.Top = Between(0, 1000);
      Word("TOP");
      Token(std::to_string(expected.Top));
    }
    if (Chance(4)) {
      Word("WITH");
      Word("LOCKS");
      expected.WithLocks = true;
    }
    if (Chance(4)) {
      Word("NOJOINOPTIMIZE");
      expected.NoJoinOptimize = true;
    }
  }

  std::mt19937 FRandom;
  std::string FText;
  int FNames = 0;
};

void ExpectModel(const TExpectedSelect& expected, const TQueryStatement& statement) {
  const TDataQuery& query = *statement.FMasterQuery;
  EXPECT_EQ(qkSelect, statement.FStatementKind);
  EXPECT_EQ(1u, statement.FQueries.size());
  EXPECT_EQ(expected.Parameters, statement.FParamCount);
  // DISTINCT is dropped where GROUP BY makes the rows distinct already.
  EXPECT_EQ(expected.Distinct && expected.GroupBy == 0, query.FDistinct);
  ASSERT_EQ(expected.Columns.size(), query.FResultFields.size());
  for (std::size_t i = 0; i < expected.Columns.size(); ++i) {
    EXPECT_EQ(expected.Columns[i].Alias, query.FResultFields[i].Alias);
    EXPECT_EQ(expected.Columns[i].Aggregate, query.FResultFields[i].Aggregate);
  }
  ASSERT_EQ(expected.Sources.size(), query.FSourceTables.size());
  for (std::size_t i = 0; i < expected.Sources.size(); ++i) {
    EXPECT_EQ(expected.Sources[i].Correlation, query.FSourceTables[i].CorrelationName);
    EXPECT_EQ(expected.Sources[i].InMemory, query.FSourceTables[i].InMemory);
    EXPECT_EQ(static_cast<int>(i) + 1, query.FSourceTables[i].Position);
  }
  ASSERT_EQ(expected.Joins.size(), query.FJoins.size());
  for (std::size_t i = 0; i < expected.Joins.size(); ++i) {
    EXPECT_EQ(expected.Joins[i].Kind, query.FJoins[i].Kind);
    EXPECT_EQ(expected.Joins[i].Position, query.FJoins[i].SourcePosition);
    EXPECT_NE(nullptr, query.FJoins[i].Condition);
  }
  EXPECT_EQ(expected.HasJoin, query.FHasJoin);
  EXPECT_EQ(expected.Where, query.FHasWhere);
  EXPECT_EQ(expected.Where, query.FWhere != nullptr);
  EXPECT_EQ(expected.GroupBy, query.FGroupBy.size());
  EXPECT_EQ(expected.Having, query.FHasHaving);
  ASSERT_EQ(expected.OrderByDescending.size(), query.FOrderBy.size());
  for (std::size_t i = 0; i < query.FOrderBy.size(); ++i) {
    EXPECT_EQ(expected.OrderByDescending[i], query.FOrderBy[i].Descending);
  }
  EXPECT_EQ(expected.NoCase, query.FOrderByNoCase);
  EXPECT_EQ(expected.Top, query.FTop);
  EXPECT_EQ(expected.WithLocks, query.FWithLocks);
  EXPECT_EQ(expected.NoJoinOptimize, query.FNoJoinOptimize);
  EXPECT_FALSE(statement.HasMoreStatements());
}

TEST(QueryParserRandom, SelectsParseIntoTheModelTheyWereBuiltFrom) {
  TSelectWriter writer(20261210);
  TQueryStatement statement(nullptr);
  for (int i = 0; i < 3000; ++i) {
    TExpectedSelect expected;
    std::string text = writer.Write(expected);
    SCOPED_TRACE(text);
    try {
      statement.Prepare(text);
    } catch (const EKuraEngineError& e) {
      FAIL() << "raised " << e.ErrorText;
    }
    ExpectModel(expected, statement);
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace kura
