// Random SELECT, CREATE TABLE, INSERT, UPDATE and DELETE statements, built clause by clause from a
// fixed seed together with the model they must parse into: combinations of select items, sources,
// joins, conditions, lists and options, of column definitions, keys and table options, of value
// lists and data-change options, written with random keyword case, blanks, line breaks and
// comments.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "sql/query_statement.h"

namespace kura {
namespace {

// Writes `count` random statements with `writer`, parses each and checks the parsed model
// against what the writer meant with `check`; stops at the first failing statement.
template <typename TExpected, typename TWriter, typename TCheck>
void ExpectRoundTrips(TWriter writer, int count, TCheck check) {
  TQueryStatement statement(nullptr);
  for (int i = 0; i < count; ++i) {
    TExpected expected;
    std::string text = writer.Write(expected);
    SCOPED_TRACE(text);
    try {
      statement.Prepare(text);
    } catch (const EKuraEngineError& e) {
      FAIL() << "raised " << e.ErrorText;
    }
    check(expected, statement);
    if (::testing::Test::HasFailure()) return;
  }
}

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

// Writes tokens with random blanks, line breaks and comments between them and keywords in
// random case.
class TStatementWriter {
 public:
  explicit TStatementWriter(unsigned seed) : FRandom(seed) {}

 protected:
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
  std::string NewName() { return std::string("n").append(std::to_string(++FNames)); }
  static std::string Quoted(const std::string& text) { return '\'' + text + '\''; }
  void Begin() {
    FText.clear();
    FNames = 0;
  }

  std::mt19937 FRandom;
  std::string FText;
  int FNames = 0;
};

class TSelectWriter : public TStatementWriter {
 public:
  using TStatementWriter::TStatementWriter;

  // A statement text and the model it must give.
  std::string Write(TExpectedSelect& expected) {
    Begin();
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
  ExpectRoundTrips<TExpectedSelect>(TSelectWriter(20261210), 3000, ExpectModel);
}

// --- CREATE TABLE ---------------------------------------------------------------------------

struct TExpectedField {
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
  bool Description = false;
  bool NotNull = false;
  bool Default = false;
  bool Minimum = false;
  bool Maximum = false;
  int CharCase = -1;  // -1 when not given
};

struct TExpectedTable {
  bool IfNotExists = false;
  std::vector<TExpectedField> Fields;
  std::size_t KeyColumns = 0;  // 0: no primary key
  bool Unique = false;
  int Compression = -1;
  std::size_t TextIndexColumns = 0;
  bool StopWords = false;
  std::int32_t BlobBlockSize = 0;
  bool Encrypted = false;
  std::int32_t Major = -1;
  std::int32_t Minor = -1;
  std::int64_t LastAutoInc = -1;
};

class TCreateTableWriter : public TStatementWriter {
 public:
  using TStatementWriter::TStatementWriter;

  std::string Write(TExpectedTable& expected) {
    Begin();
    Word("CREATE");
    Word("TABLE");
    if (Chance(3)) {
      Word("IF");
      Word("NOT");
      Word("EXISTS");
      expected.IfNotExists = true;
    }
    Token(NewName());
    Token("(");
    int fields = Between(1, 5);
    for (int i = 0; i < fields; ++i) {
      if (i > 0) Token(",");
      Field(expected);
    }
    if (Chance(2)) PrimaryKey(expected);
    TableOptions(expected);
    Token(")");
    return FText;
  }

 private:
  void Field(TExpectedTable& expected) {
    struct TTypeText {
      const char* Text;
      std::uint8_t Type;
      std::uint8_t SubType;
    };
    static const TTypeText kTypes[] = {
        {"INTEGER", 6, 0},  {"SMALLINT", 5, 0},      {"CHAR(20)", 1, 0},  {"VARCHAR(8)", 1, 0},
        {"DATE", 2, 0},     {"TIMESTAMP", 11, 0},    {"BOOLEAN", 4, 0},   {"FLOAT", 7, 0},
        {"MONEY", 7, 21},   {"DECIMAL(10,2)", 8, 0}, {"MEMO", 3, 22},     {"BLOB", 3, 23},
        {"AUTOINC", 6, 29}, {"BYTES(4)", 9, 0},      {"LARGEINT", 18, 0}, {"WORD", 12, 0}};
    TExpectedField field;
    Token(NewName());
    const TTypeText& type = kTypes[Between(0, 15)];
    Word(type.Text);
    field.Type = type.Type;
    field.SubType = type.SubType;
    if ((field.Description = Chance(3))) {
      Word("DESCRIPTION");
      Token(Quoted("about " + NewName()));
    }
    if ((field.NotNull = Chance(3))) {
      Word("NOT");
      Word("NULL");
    }
    if ((field.Default = Chance(3))) {
      Word("DEFAULT");
      Token(std::to_string(Between(0, 9)));
    }
    if ((field.Minimum = Chance(4))) {
      Word(Chance(2) ? "MIN" : "MINIMUM");
      Token("0");
    }
    if ((field.Maximum = Chance(4))) {
      Word(Chance(2) ? "MAX" : "MAXIMUM");
      Token("-");
      Token("1");
    }
    if (Chance(4)) {
      static const char* const kCases[] = {"NOCHANGE", "LOWER", "UPPER"};
      field.CharCase = Between(0, 2);
      Word("CHARCASE");
      Word(kCases[field.CharCase]);
    }
    expected.Fields.push_back(field);
  }

  void PrimaryKey(TExpectedTable& expected) {
    Token(",");
    if (Chance(3)) {
      Word("CONSTRAINT");
      Token(NewName());
    }
    if ((expected.Unique = Chance(2))) Word("UNIQUE");
    if (Chance(3)) Word("NOCASE");
    Word("PRIMARY");
    Word("KEY");
    Token("(");
    expected.KeyColumns = static_cast<std::size_t>(Between(1, 3));
    for (std::size_t i = 0; i < expected.KeyColumns; ++i) {
      if (i > 0) Token(",");
      Token(NewName());
      if (Chance(3)) Word(Chance(2) ? "ASC" : "DESC");
    }
    Token(")");
    if (Chance(3)) {
      static const char* const kCompressions[] = {"NONE", "DUPBYTE", "TRAILBYTE", "FULL"};
      expected.Compression = Between(0, 3);
      Word("COMPRESS");
      Word(kCompressions[expected.Compression]);
    }
  }

  void TableOptions(TExpectedTable& expected) {
    if (Chance(3)) {
      Word("TEXT");
      Word("INDEX");
      Token("(");
      expected.TextIndexColumns = static_cast<std::size_t>(Between(1, 2));
      for (std::size_t i = 0; i < expected.TextIndexColumns; ++i) {
        if (i > 0) Token(",");
        Token(NewName());
      }
      Token(")");
      if ((expected.StopWords = Chance(2))) {
        Word("STOP");
        Word("WORDS");
        Token("'a an the'");
      }
    }
    if (Chance(3)) {
      expected.BlobBlockSize = 512 * Between(1, 8);
      Word("BLOB");
      Word("BLOCK");
      Word("SIZE");
      Token(std::to_string(expected.BlobBlockSize));
    }
    if ((expected.Encrypted = Chance(4))) {
      Word("ENCRYPTED");
      Word("WITH");
      Token(Quoted(NewName()));
    }
    if (Chance(3)) {
      expected.Major = Between(0, 9);
      Word("USER");
      Word("MAJOR");
      Word("VERSION");
      Token(std::to_string(expected.Major));
    }
    if (Chance(3)) {
      expected.Minor = Between(0, 9);
      Word("USER");
      Word("MINOR");
      Word("VERSION");
      Token(std::to_string(expected.Minor));
    }
    if (Chance(3)) {
      expected.LastAutoInc = Between(0, 100000);
      Word("LAST");
      Word("AUTOINC");
      Token(std::to_string(expected.LastAutoInc));
    }
  }
};

void ExpectTable(const TExpectedTable& expected, const TQueryStatement& statement) {
  const TDataQuery& query = *statement.FMasterQuery;
  EXPECT_EQ(qkCreateTable, statement.FStatementKind);
  EXPECT_EQ(expected.IfNotExists, query.FIfExists);
  ASSERT_EQ(expected.Fields.size(), query.FCreateFields.size());
  for (std::size_t i = 0; i < expected.Fields.size(); ++i) {
    const TExpectedField& want = expected.Fields[i];
    const TCreateField& field = query.FCreateFields[i];
    EXPECT_EQ(want.Type, field.DataType->FDataType);
    EXPECT_EQ(want.SubType, field.DataType->FSubType);
    EXPECT_EQ(want.Description, !field.Description.empty());
    EXPECT_EQ(want.NotNull, field.NotNull);
    EXPECT_EQ(want.Default, field.Default != nullptr);
    EXPECT_EQ(want.Minimum, field.Minimum != nullptr);
    EXPECT_EQ(want.Maximum, field.Maximum != nullptr);
    EXPECT_EQ(want.CharCase >= 0, field.CharCaseGiven);
    if (want.CharCase >= 0) {
      EXPECT_EQ(want.CharCase, field.CharCase);
    }
  }
  ASSERT_EQ(expected.KeyColumns == 0 ? 0u : 1u, query.FCreateIndexes.size());
  if (expected.KeyColumns != 0) {
    const TCreateIndex& key = query.FCreateIndexes[0];
    EXPECT_EQ(expected.KeyColumns, key.Columns.size());
    EXPECT_EQ(expected.Unique, key.Unique);
    EXPECT_EQ(expected.Compression >= 0, key.CompressionGiven);
    // NONE, DUPBYTE, TRAILBYTE, FULL are the codes 0 to 3.
    if (expected.Compression >= 0) {
      EXPECT_EQ(expected.Compression, key.Compression);
    }
  }
  const TTableOptions& options = query.FTableOptions;
  EXPECT_EQ(expected.TextIndexColumns != 0, options.HasTextIndex);
  EXPECT_EQ(expected.TextIndexColumns, options.TextIndexColumns.size());
  EXPECT_EQ(expected.StopWords, options.StopWordsGiven);
  EXPECT_EQ(expected.BlobBlockSize, options.BlobBlockSize);
  EXPECT_EQ(expected.Encrypted, options.Encrypted);
  EXPECT_EQ(expected.Major, options.UserMajorVersion);
  EXPECT_EQ(expected.Minor, options.UserMinorVersion);
  EXPECT_EQ(expected.LastAutoInc, options.LastAutoInc);
}

TEST(QueryParserRandom, CreateTablesParseIntoTheModelTheyWereBuiltFrom) {
  ExpectRoundTrips<TExpectedTable>(TCreateTableWriter(5106), 2000, ExpectTable);
}

// --- INSERT, UPDATE, DELETE -----------------------------------------------------------------

struct TExpectedChange {
  std::uint8_t Kind = qkNone;
  std::size_t Columns = 0;
  std::size_t Values = 0;
  bool InsertSelect = false;
  std::size_t Sources = 1;
  std::size_t Joins = 0;
  bool Where = false;
  int Parameters = 0;
  bool NoAutoInc = false;
  std::int32_t CommitInterval = 0;
  bool CommitFlush = false;
  bool NoJoinOptimize = false;
};

class TChangeWriter : public TStatementWriter {
 public:
  using TStatementWriter::TStatementWriter;

  std::string Write(TExpectedChange& expected) {
    Begin();
    switch (Between(0, 2)) {
      case 0:
        Insert(expected);
        break;
      case 1:
        Update(expected);
        break;
      default:
        Delete(expected);
    }
    return FText;
  }

 private:
  void Value(TExpectedChange& expected) {
    if (Chance(2)) {
      Token("?");
      ++expected.Parameters;
    } else {
      Token(Chance(2) ? std::to_string(Between(0, 99)) : Quoted(NewName()));
    }
  }

  void Insert(TExpectedChange& expected) {
    expected.Kind = qkInsert;
    Word("INSERT");
    Word("INTO");
    Token(NewName());
    std::size_t count = static_cast<std::size_t>(Between(1, 4));
    if (Chance(2)) {
      expected.Columns = count;
      Token("(");
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) Token(",");
        Token(NewName());
      }
      Token(")");
    }
    if (Chance(4)) {
      expected.InsertSelect = true;
      Word("SELECT");
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) Token(",");
        Token(NewName());
      }
      Word("FROM");
      Token(NewName());
    } else {
      expected.Values = count;
      Word("VALUES");
      Token("(");
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) Token(",");
        Value(expected);
      }
      Token(")");
    }
    if ((expected.NoAutoInc = Chance(3))) Word("NOAUTOINC");
    Commit(expected);
  }

  void Update(TExpectedChange& expected) {
    expected.Kind = qkUpdate;
    Word("UPDATE");
    std::string table = NewName();
    Token(table);
    Word("SET");
    expected.Columns = expected.Values = static_cast<std::size_t>(Between(1, 4));
    for (std::size_t i = 0; i < expected.Columns; ++i) {
      if (i > 0) Token(",");
      Token(NewName());
      Token("=");
      Value(expected);
    }
    if (Chance(3)) {
      Word("FROM");
      Token(table);
      Token(",");
      Token(NewName());
      expected.Sources = 2;
    }
    Where(expected);
    if ((expected.NoAutoInc = Chance(3))) Word("NOAUTOINC");
    Commit(expected);
    if ((expected.NoJoinOptimize = Chance(3))) Word("NOJOINOPTIMIZE");
  }

  void Delete(TExpectedChange& expected) {
    expected.Kind = qkDelete;
    Word("DELETE");
    Word("FROM");
    std::string table = NewName();
    Token(table);
    if (Chance(3)) {
      Word(Chance(2) ? "JOIN" : "LEFT JOIN");
      std::string other = NewName();
      Token(other);
      Word("ON");
      Token(table + "." + NewName());
      Token("=");
      Token(other + "." + NewName());
      expected.Sources = 2;
      expected.Joins = 1;
    }
    Where(expected);
    Commit(expected);
    if ((expected.NoJoinOptimize = Chance(3))) Word("NOJOINOPTIMIZE");
  }

  void Where(TExpectedChange& expected) {
    if (!(expected.Where = Chance(2))) return;
    Word("WHERE");
    Token(NewName());
    Token("=");
    Value(expected);
  }

  void Commit(TExpectedChange& expected) {
    if (!Chance(3)) return;
    Word("COMMIT");
    if (Chance(2)) {
      expected.CommitInterval = Between(1, 1000);
      Word("INTERVAL");
      Token(std::to_string(expected.CommitInterval));
      if ((expected.CommitFlush = Chance(2))) Word("FLUSH");
    } else {
      Word("FLUSH");
      expected.CommitFlush = true;
    }
  }
};

void ExpectChange(const TExpectedChange& expected, const TQueryStatement& statement) {
  const TDataQuery& query = *statement.FMasterQuery;
  EXPECT_EQ(expected.Kind, statement.FStatementKind);
  EXPECT_EQ(expected.Parameters, statement.FParamCount);
  EXPECT_EQ(expected.Columns, query.FUpdateFields.size());
  EXPECT_EQ(expected.Values, query.FUpdateValues.size());
  EXPECT_EQ(expected.InsertSelect, query.FInsertSelect != nullptr);
  EXPECT_EQ(expected.InsertSelect ? 2u : 1u, statement.FQueries.size());
  EXPECT_EQ(expected.Sources, query.FSourceTables.size());
  EXPECT_EQ(expected.Joins, query.FJoins.size());
  EXPECT_EQ(expected.Where, query.FWhere != nullptr);
  EXPECT_EQ(expected.NoAutoInc, query.FNoAutoInc);
  EXPECT_EQ(expected.CommitInterval, query.FCommitInterval);
  EXPECT_EQ(expected.CommitFlush, query.FCommitFlush);
  EXPECT_EQ(expected.NoJoinOptimize, query.FNoJoinOptimize);
}

TEST(QueryParserRandom, DataChangesParseIntoTheModelTheyWereBuiltFrom) {
  ExpectRoundTrips<TExpectedChange>(TChangeWriter(4711), 2000, ExpectChange);
}

}  // namespace
}  // namespace kura
