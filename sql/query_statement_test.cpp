// The statement object around the parser: registration, parameters bound in place, the
// state after a failure, and the limits that keep hostile texts from recursing deeply.
// The grammar itself is tested as data in cases/statement_*.test.
#include "sql/query_statement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "sql/expression_values.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

class TFakeDatabase : public TStatementDatabase {
 public:
  void RegisterStatement(TQueryStatement* statement) override { Statements.push_back(statement); }
  void UnregisterStatement(TQueryStatement* statement) override {
    Statements.erase(std::remove(Statements.begin(), Statements.end(), statement),
                     Statements.end());
  }
  std::string DatabaseName() const override { return "DBgoramina"; }

  std::vector<TQueryStatement*> Statements;
};

std::string ErrorOf(const std::string& text) {
  TQueryStatement statement(nullptr);
  try {
    statement.Prepare(text);
    while (statement.HasMoreStatements()) statement.PrepareNext();
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(11949, e.ErrorCode);
    return e.ErrorText;
  }
  return "";
}

TEST(QueryStatement, RegistersWithItsDatabaseForItsLifetime) {
  TFakeDatabase database;
  {
    TQueryStatement first(&database);
    TQueryStatement second(&database);
    EXPECT_EQ((std::vector<TQueryStatement*>{&first, &second}), database.Statements);
  }
  EXPECT_TRUE(database.Statements.empty());
}

TEST(QueryStatement, MasterTakesRequestLiveAndMaxRowCountOthersAlwaysLive) {
  TQueryStatement statement(nullptr);
  statement.FRequestLive = false;
  statement.FMaxRowCount = 50;
  statement.Prepare("select a from t where a in (select b from u) union select c from v");
  ASSERT_EQ(3u, statement.FQueries.size());
  EXPECT_FALSE(statement.FQueries[0]->FRequestLive);
  EXPECT_EQ(50, statement.FQueries[0]->FMaxRowCount);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_TRUE(statement.FQueries[i]->FRequestLive);
    EXPECT_EQ(-1, statement.FQueries[i]->FMaxRowCount);
  }
  statement.Prepare("delete from t");
  EXPECT_TRUE(statement.FMasterQuery->FRequestLive);
  EXPECT_EQ(-1, statement.FMasterQuery->FMaxRowCount);
}

TEST(QueryStatement, FailureLeavesTheStatementUnpreparedAndReusable) {
  TQueryStatement statement(nullptr);
  statement.Prepare("select * from t where a = ?");
  EXPECT_EQ(1, statement.FParamCount);
  EXPECT_THROW(statement.Prepare("select * from t where a = ? and"), EKuraEngineError);
  EXPECT_TRUE(statement.FQueries.empty());
  EXPECT_TRUE(statement.FParams.empty());
  EXPECT_EQ(nullptr, statement.FMasterQuery);
  EXPECT_EQ(qkNone, statement.FStatementKind);
  EXPECT_FALSE(statement.HasMoreStatements());
  statement.Prepare("select * from t");
  EXPECT_TRUE(statement.FSelectStar);
}

TEST(QueryStatement, ResultColumnTextDropsLineBreaks) {
  TQueryStatement statement(nullptr);
  statement.Prepare("Select a +\r\n b As c\r\nFrom t");
  EXPECT_EQ("a + b", statement.FMasterQuery->FResultFields[0].Text);
}

// --- Parameters -----------------------------------------------------------------------------

// A parameter record: the slots of the descriptors laid out one after the other.
struct TParameterRecord {
  std::vector<TFieldDescriptor> Fields;
  std::vector<std::uint8_t> Bytes;

  void Add(std::uint8_t type, std::uint8_t subType, std::uint16_t size,
           const std::vector<std::uint8_t>& value) {
    TFieldDescriptor field;
    field.FieldType = type;
    field.FieldSubType = subType;
    field.PhysicalSize = size;
    field.FieldOffset = static_cast<std::uint16_t>(Bytes.size());
    Bytes.push_back(value.empty() ? 0 : 1);
    std::vector<std::uint8_t> slot(value);
    slot.resize(size, 0);
    Bytes.insert(Bytes.end(), slot.begin(), slot.end());
    Fields.push_back(field);
  }
  void AddInteger(std::int32_t value) {
    std::vector<std::uint8_t> bytes(4);
    PutI32LE(bytes.data(), value);
    Add(kFieldTypeInteger, 0, 4, bytes);
  }
  void Bind(TQueryStatement& statement) {
    statement.SetParams(static_cast<int>(Fields.size()), Fields.data(), Bytes.data(), Bytes.size());
  }
};

TEST(QueryStatement, ParametersAreTheNodesInsideTheTreesInTextOrder) {
  TQueryStatement statement(nullptr);
  statement.Prepare(
      "select * from t where (a = ?) and (b = ?) and c in (select d from u where e = ?)");
  ASSERT_EQ(3, statement.FParamCount);
  const TExpToken& where = *statement.FMasterQuery->FWhere;
  EXPECT_EQ(statement.FParams[0], where.FLeft->FLeft->FRight);
  EXPECT_EQ(statement.FParams[1], where.FLeft->FRight->FRight);
  EXPECT_EQ(statement.FParams[2], statement.FQueries[1]->FWhere->FRight);

  for (std::int32_t round : {7, 8}) {
    TParameterRecord record;
    record.AddInteger(round);
    record.Add(kFieldTypeString, 0, 6, {'n', 'a', 'm', 'e', 0});
    record.Add(kFieldTypeInteger, 0, 4, {});  // NULL
    record.Bind(statement);
    EXPECT_EQ(round, ReadInteger(*where.FLeft->FLeft->FRight));
  }
  EXPECT_EQ("name", ReadString(*statement.FParams[1]));
  EXPECT_EQ(6, statement.FParams[1]->FDataSize);
  EXPECT_EQ(1, statement.FParams[2]->FIsNull);
  EXPECT_EQ(kFieldTypeInteger, statement.FParams[2]->FDataType);
}

TEST(QueryStatement, BlobParameterCopiesTheCallersBytes) {
  TQueryStatement statement(nullptr);
  statement.Prepare("insert into t values (?, ?)");
  std::string text = "a memo";
  std::vector<std::uint8_t> reference(4 + sizeof(const char*));
  PutU32LE(reference.data(), static_cast<std::uint32_t>(text.size()));
  const char* pointer = text.data();
  std::memcpy(reference.data() + 4, &pointer, sizeof pointer);
  TParameterRecord record;
  record.Add(kFieldTypeBlob, kSubTypeMemo, static_cast<std::uint16_t>(reference.size()), reference);
  record.Add(kFieldTypeBlob, kSubTypeBinaryBlob, static_cast<std::uint16_t>(reference.size()),
             reference);
  record.Bind(statement);
  text.assign("change");  // the nodes hold copies
  EXPECT_EQ("a memo", ReadString(*statement.FParams[0]));
  EXPECT_EQ(7, statement.FParams[0]->FDataSize);  // a memo keeps its terminating zero
  EXPECT_EQ(6, statement.FParams[1]->FDataSize);
}

TEST(QueryStatement, ParameterCountAndSlotsAreChecked) {
  TQueryStatement statement(nullptr);
  statement.Prepare("select * from t where a = ? and b = ?");
  TParameterRecord record;
  record.AddInteger(1);
  try {
    record.Bind(statement);
    ADD_FAILURE() << "one value bound to two parameters";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ("The number of parameter values (1) does not match the number of parameters (2)",
              e.ErrorText);
  }
  record.AddInteger(2);
  record.Fields[1].FieldOffset = static_cast<std::uint16_t>(record.Bytes.size() - 2);
  try {
    record.Bind(statement);
    ADD_FAILURE() << "a slot past the record end was read";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ("Parameter 2 lies outside the parameter record", e.ErrorText);
  }
}

// --- Limits ---------------------------------------------------------------------------------

std::string NestedSubSelects(int levels) {
  std::string text = "select a from t0";
  for (int i = 1; i <= levels; ++i) {
    text = "select a from t" + std::to_string(i) + " where a in (" + text + ")";
  }
  return text;
}

TEST(QueryStatement, SubSelectsNestAtMost32Deep) {
  TQueryStatement statement(nullptr);
  statement.Prepare(NestedSubSelects(kMaxSubSelectNesting));
  EXPECT_EQ(static_cast<std::size_t>(kMaxSubSelectNesting) + 1, statement.FQueries.size());
  EXPECT_EQ("Sub-select queries nested too deeply in WHERE clause",
            ErrorOf(NestedSubSelects(kMaxSubSelectNesting + 1)));
}

TEST(QueryStatement, LongListsNeedNoDeepStack) {
  std::string unions = "select a from t";
  for (int i = 0; i < 5000; ++i) unions += " union all select a from t";
  TQueryStatement statement(nullptr);
  statement.Prepare(unions + " order by 1");
  EXPECT_EQ(5001u, statement.FQueries.size());
  EXPECT_EQ(1u, statement.FMasterQuery->FOrderBy.size());

  std::string sources = "select * from t0";
  for (int i = 1; i < 20000; ++i) sources += ", t" + std::to_string(i);
  statement.Prepare(sources);
  EXPECT_EQ(20000u, statement.FMasterQuery->FSourceTables.size());
  EXPECT_EQ("Duplicate table correlation name 'T1' found in source tables",
            ErrorOf(sources + ", T1"));

  std::string joins = "select * from t0";
  for (int i = 1; i < 2000; ++i) joins += " join (t" + std::to_string(i);
  for (int i = 1; i < 2000; ++i) joins += " on a = b)";
  statement.Prepare(joins);
  EXPECT_EQ(1999u, statement.FMasterQuery->FJoins.size());

  EXPECT_EQ("Mismatched join parentheses",
            ErrorOf("select * from " + std::string(100000, '(') + "t"));
  EXPECT_EQ("Expression nested too deeply in WHERE clause",
            ErrorOf("select * from t where " + std::string(100000, '(') + "a"));
}

TEST(QueryStatement, ColumnListsHoldAtMost1024Columns) {
  auto columns = [](int count) {
    std::string text = "c1";
    for (int i = 2; i <= count; ++i) text += ", c" + std::to_string(i);
    return text;
  };
  TQueryStatement statement(nullptr);
  statement.Prepare("select " + columns(1024) + " from t order by " + columns(1024));
  EXPECT_EQ(1024u, statement.FMasterQuery->FResultFields.size());
  EXPECT_EQ("Maximum number of columns (1024) in result set exceeded",
            ErrorOf("select " + columns(1025) + " from t"));
  EXPECT_EQ("Maximum number of columns (1024) in ORDER BY clause exceeded",
            ErrorOf("select * from t order by " + columns(1025)));
  EXPECT_EQ("Maximum number of columns (1024) in GROUP BY clause exceeded",
            ErrorOf("select * from t group by " + columns(1025)));
}

}  // namespace
}  // namespace kura
