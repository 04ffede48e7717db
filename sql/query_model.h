// The parsed model of one SQL statement: TDataQuery (one SELECT, INSERT, UPDATE, DELETE, DDL
// or transaction statement) and the parts it is made of.
//
// The parser fills these from text and knows no storage: table names stay names, columns
// stay unresolved nodes. The fields marked "after binding" are left at their defaults until
// the preparation step opens the source tables and binds every expression against them.
//
// Expression trees are owned by the part that holds them (TExpTokenPtr); the statement's
// parameter list points into them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/exp_token.h"

namespace kura {

class TQueryStatement;
class TDataCursor;
class TFilter;

// Kind of a query (FKind), and of the statement after preparation.
enum TQueryKind : std::uint8_t {
  qkNone = 0,
  qkSelect = 1,
  qkInsert = 2,
  qkUpdate = 3,
  qkDelete = 4,
  qkCreateTable = 5,
  qkAlterTable = 6,
  qkDropTable = 7,
  qkCreateIndex = 8,
  qkDropIndex = 9,
  qkStartTransaction = 10,
  qkRollback = 11,
  qkCommit = 12,
};

// Aggregate kind of a result column.
enum TAggregateKind : std::uint8_t {
  akNone = 0,
  akSum = 1,
  akRunSum = 2,
  akMin = 3,
  akMax = 4,
  akAvg = 5,
  akCount = 6,
};

enum TJoinKind : std::uint8_t { jkInner = 0, jkLeft = 1, jkRight = 2 };

// Index key compression codes of the index file.
enum TIndexCompression : std::uint8_t {
  icNone = 0,
  icDuplicateBytes = 1,
  icTrailingBytes = 2,
  icFull = 3,
};

// Longest table, result table, index and password text kept; longer ones are cut.
inline constexpr std::size_t kMaxQueryNameLength = 255;
// FOrderIndex when no index serves the ORDER BY.
inline constexpr std::uint8_t kNoOrderIndex = 255;
// The name of the in-memory database that MEMORY tables live in.
inline constexpr const char* kMemoryDatabaseName = "Memory";

// One item of a select list.
struct TResultField {
  TExpTokenPtr Expression;
  std::string Text;             // the item's source text, for messages and default names
  std::string Alias;            // AS name, empty if none
  std::string ColumnName;       // plain column (or aggregated plain column): its name
  std::string CorrelationName;  // ... and its qualifier, empty if none
  bool Computed = false;
  std::uint8_t Aggregate = akNone;
  // After binding.
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::int32_t Size = 0;
  std::uint8_t Scale = 0;
  std::uint16_t SourceFieldNo = 0;  // 1-based position in its source table
};

// What preparation opened for a source table (its cursor, and the database it was opened in);
// freeing it closes them. The layer that opens tables defines it: the model knows no storage.
class TOpenedSource {
 public:
  virtual ~TOpenedSource() = default;
};

// A table named in FROM, JOIN, INTO, UPDATE, DELETE or a definition statement.
struct TSourceTable {
  std::string Name;             // as written: a plain name, or directory\name
  bool InMemory = false;        // MEMORY prefix
  std::string DatabaseName;     // "Memory", the directory part of Name, or empty for the
                                // statement's own database
  std::string TableName;        // the file name without directory and extension
  std::string CorrelationName;  // AS alias or bare alias; default TableName
  bool AliasGiven = false;
  int Position = 0;  // 1-based place in the source list
  int Nesting = 0;   // open join parentheses before it
  // After opening: the table's cursor, kept open by Opened until the query is freed.
  TDataCursor* Cursor = nullptr;
  std::unique_ptr<TOpenedSource> Opened;
};

// A JOIN: the kind and the ON condition of the joined source table.
struct TJoin {
  std::uint8_t Kind = jkInner;
  int SourcePosition = 0;  // 1-based position of the joined table in the source list
  TExpTokenPtr Condition;
};

// A column of GROUP BY or ORDER BY: a name with an optional correlation, or a 1-based
// column number of the select list.
struct TGroupByField {
  std::string ColumnName;
  std::string CorrelationName;
  bool IsNumber = false;
  std::int32_t ColumnNumber = 0;
  // After binding: the 1-based result column it names.
  std::int32_t ResultColumn = 0;
};

struct TOrderByField : TGroupByField {
  bool Descending = false;
};

// A target column of INSERT or UPDATE SET.
struct TUpdateField {
  std::string ColumnName;
  std::string CorrelationName;
  // After binding.
  std::uint16_t FieldNo = 0;
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::int32_t Size = 0;
  std::uint8_t Scale = 0;
};

// An INSERT value or the right side of an UPDATE SET.
struct TUpdateValue {
  TExpTokenPtr Expression;
  std::string Text;
};

// A column definition of CREATE TABLE and ALTER TABLE.
struct TCreateField {
  std::string Name;
  TExpTokenPtr DataType;  // type, subtype and arguments as the data type parser reads them
  std::string Description;
  bool NotNull = false;
  TExpTokenPtr Default;
  TExpTokenPtr Minimum;
  TExpTokenPtr Maximum;
  bool CharCaseGiven = false;
  std::uint8_t CharCase = 0;  // 2 upper, 1 lower, 0 unchanged
};

struct TIndexColumn {
  std::string Name;
  bool Descending = false;
};

// A primary key (CREATE TABLE, ALTER TABLE ADD) or a secondary index (CREATE INDEX).
struct TCreateIndex {
  std::string Name;  // CONSTRAINT or index name, empty if none
  bool Unique = false;
  bool NoCase = false;
  bool Descending = false;
  std::vector<TIndexColumn> Columns;
  bool CompressionGiven = false;
  std::uint8_t Compression = icNone;
};

// The options after the columns of CREATE TABLE and the actions of ALTER TABLE.
struct TTableOptions {
  bool HasTextIndex = false;
  std::vector<std::string> TextIndexColumns;
  bool StopWordsGiven = false;
  std::string StopWords;
  bool SpaceCharsGiven = false;
  std::string SpaceChars;
  bool IncludeCharsGiven = false;
  std::string IncludeChars;
  bool DescriptionGiven = false;
  std::string Description;
  std::int32_t BlobBlockSize = 0;  // 0 when not given
  bool LanguageGiven = false;
  std::uint16_t LanguageId = 0;
  bool SortGiven = false;
  std::uint16_t SortId = 0;
  bool Encrypted = false;
  std::string Password;
  std::int32_t UserMajorVersion = -1;  // -1 when not given
  std::int32_t UserMinorVersion = -1;
  std::int64_t LastAutoInc = -1;  // -1 when not given
  bool NoBackup = false;
};

enum TAlterActionKind : std::uint8_t {
  aaAddColumn = 1,
  aaRedefineColumn = 2,
  aaAddPrimaryKey = 3,
  aaDropPrimaryKey = 4,
  aaDropColumn = 5,
};

struct TAlterAction {
  std::uint8_t Kind = aaAddColumn;
  TCreateField Field;          // ADD, REDEFINE
  std::int32_t Position = 0;   // AT n, 0 when not given
  TCreateIndex PrimaryKey;     // ADD ... PRIMARY KEY
  std::string ConstraintName;  // DROP CONSTRAINT name PRIMARY KEY
  std::string ColumnName;      // DROP COLUMN
};

// One query of a statement.
class TDataQuery {
 public:
  explicit TDataQuery(TQueryStatement* statement) : FStatement(statement) {}
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // Parses one statement starting at the current token of the statement's parser: a master
  // query (not a sub-query and not a UNION part) also reads the end of the statement.
  void ParseStatement(bool isSubQuery, bool isUnionPart, TDataQuery* unionedTo);

  TQueryStatement* FStatement;
  std::uint8_t FKind = qkNone;
  bool FIsSubQuery = false;
  bool FIsUnionPart = false;
  bool FParenthesized = false;
  bool FRequestLive = true;
  std::int32_t FMaxRowCount = -1;
  bool FDistinct = false;
  std::vector<TResultField> FResultFields;
  std::vector<TSourceTable> FSourceTables;
  std::vector<TJoin> FJoins;
  TExpTokenPtr FWhere;
  TExpTokenPtr FHaving;
  std::vector<TGroupByField> FGroupBy;
  std::vector<TOrderByField> FOrderBy;
  bool FOrderByNoCase = false;
  std::int32_t FTop = -1;
  bool FWithLocks = false;
  std::uint16_t FLanguageId = 0;
  std::uint16_t FSortId = 0;
  bool FLanguageGiven = false;
  bool FSortGiven = false;
  bool FEncrypted = false;
  std::string FPassword;
  bool FNoJoinOptimize = false;
  std::string FIntoTable;
  bool FIntoMemory = false;
  TDataQuery* FUnionNext = nullptr;  // owned by the statement
  bool FUnionAll = false;
  TDataQuery* FUnionedTo = nullptr;  // the query this one follows
  std::vector<TUpdateField> FUpdateFields;
  std::vector<TUpdateValue> FUpdateValues;
  TDataQuery* FInsertSelect = nullptr;  // owned by the statement
  bool FNoAutoInc = false;
  std::int32_t FCommitInterval = 0;  // 0 when not given
  bool FCommitFlush = false;
  bool FHasWhere = false;
  bool FHasGroupBy = false;
  bool FHasHaving = false;
  bool FHasOrderBy = false;
  bool FHasJoin = false;
  bool FHasComputedColumn = false;

  // Decided at preparation for execution (SELECT).
  bool FResultIsLive = false;                // the result is the base table's own cursor
  std::uint8_t FOrderIndex = kNoOrderIndex;  // the index serving ORDER BY in a live result
  bool FOrderByNeedsExpression = false;      // an ORDER BY column is a computed result column
  bool FCountOnly = false;                   // COUNT(*) over one table: the filtered count
  bool FImplicitGroup = false;               // only aggregates and constants, no GROUP BY

  // Execution (SELECT). The result cursor is the base table's own cursor for a live result,
  // else the cursor on the result table, which FResultTable keeps open until the query is
  // freed (or executed again).
  TDataCursor* FResultCursor = nullptr;
  std::unique_ptr<TOpenedSource> FResultTable;
  std::int64_t FRecordCount = 0;
  // The equality filter an IN (SELECT ...) installs on this sub-select's result cursor.
  TFilter* FSubSelectFilter = nullptr;

  // Definition statements. The target table is FSourceTables[0].
  bool FIfExists = false;  // IF EXISTS, or IF NOT EXISTS for CREATE
  std::vector<TCreateField> FCreateFields;
  std::vector<TCreateIndex> FCreateIndexes;  // the primary key, or the CREATE INDEX index
  std::vector<TAlterAction> FAlterActions;
  TTableOptions FTableOptions;
  std::string FIndexName;  // DROP INDEX
};

// The statement name used in "End of ... statement expected" messages.
const char* QueryKindName(std::uint8_t kind);

}  // namespace kura
