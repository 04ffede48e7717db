// The definition statements.
//
//   CREATE TABLE [IF NOT EXISTS] [MEMORY] name[\name] ( column-definition {, column-definition}
//          [, [CONSTRAINT name] index-options PRIMARY KEY key [COMPRESS ...]] table-options )
//   CREATE index-options INDEX [IF NOT EXISTS] name ON [MEMORY] table[\table] key [COMPRESS ...]
//   ALTER TABLE [MEMORY] name[\name] action {, action} table-options [NOBACKUP]
//   DROP TABLE [IF EXISTS] [MEMORY] name[\name]
//   DROP INDEX [IF EXISTS] [MEMORY] table[\table].index
//
//   column-definition := name datatype [DESCRIPTION text] [NOT NULL] [DEFAULT expr]
//          [MIN|MINIMUM expr] [MAX|MAXIMUM expr] [CHARCASE UPPER|LOWER|NOCHANGE]
//   index-options := { UNIQUE | ASC | ASCENDING | DESC | DESCENDING | NOCASE }
//   key := ( column [ASC|DESC] {, column [ASC|DESC]} )
//   table-options := [TEXT INDEX ( column {, column} ) [STOP WORDS text] [SPACE CHARS text]
//          [INCLUDE CHARS text]] [DESCRIPTION text] [BLOB BLOCK SIZE n]
//          [LANGUAGE name [SORT name]] [ENCRYPTED WITH password]
//          {USER MAJOR VERSION n | USER MINOR VERSION n} [LAST AUTOINC n]
#include <array>

#include "sql/query_parser.h"
#include "sql/query_statement.h"
#include "storage/field_descriptor.h"
#include "storage/field_types.h"

namespace kura {

namespace {

constexpr std::string_view kContext = "SQL statement";

constexpr std::array<std::string_view, 8> kTableOptionWords = {
    "TEXT", "DESCRIPTION", "BLOB", "LANGUAGE", "ENCRYPTED", "USER", "LAST", "NOBACKUP"};

}  // namespace

void TQueryParser::ReadIfNotExists() {
  if (!Accept("IF")) return;
  Expect("NOT", "NOT keyword expected after IF keyword, instead found '");
  Expect("EXISTS", "EXISTS keyword expected after NOT keyword, instead found '");
  FQuery.FIfExists = true;
}

void TQueryParser::ReadIfExists() {
  if (!Accept("IF")) return;
  Expect("EXISTS", "EXISTS keyword expected after IF keyword, instead found '");
  FQuery.FIfExists = true;
}

// --- Columns --------------------------------------------------------------------------------

// A column name of a definition: a plain column, also written as a quoted name.
std::string TQueryParser::ReadDefinitionColumnName(std::string_view context,
                                                   std::string_view emptyMessage,
                                                   std::string_view correlationMessage) {
  if (AtExpressionEnd()) Fail(emptyMessage);
  FParser.SetContextName(context);
  TExpTokenPtr node = FParser.ParsePrimary(0);
  FParser.SetContextName(kContext);
  if (node->FKind == kNodeColumn) {
    if (!node->FTableName.empty()) {
      Fail("Invalid use of table correlation name '" + node->FTableName + "'" +
           std::string(correlationMessage));
    }
    return node->FColumnName;
  }
  if (node->FKind == kNodeConstant && node->FDataType == kFieldTypeString) {
    return node->FText.substr(0, kMaxTokenNameLength);
  }
  Fail("Table column name expected, instead found '" + node->FText + "'");
}

TExpTokenPtr TQueryParser::ReadColumnConstraint(std::string_view message) {
  if (AtExpressionEnd()) FailFound(message);
  // An additive, so that a NOT NULL or a further keyword after it is not taken as a predicate.
  return FParser.ParseAdditive(0);
}

void TQueryParser::ParseColumnDefinition(TCreateField& field) {
  field.Name = ReadDefinitionColumnName("table column", "Table column name is empty",
                                        " specified in table columns");
  field.DataType = NewToken();
  FParser.ParseDataType(*field.DataType, false);
  if (Accept("DESCRIPTION")) {
    if (!FParser.IsSymbolOrString()) {
      FailFound("Description expected after DESCRIPTION keyword, instead found '");
    }
    field.Description = ReadName();
  }
  if (Accept("NOT")) {
    Expect("NULL", "NULL keyword expected after NOT keyword, instead found '");
    field.NotNull = true;
  }
  if (Accept("DEFAULT")) {
    field.Default =
        ReadColumnConstraint("Default expression expected after DEFAULT keyword, instead found '");
  }
  if (Accept("MIN") || Accept("MINIMUM")) {
    field.Minimum = ReadColumnConstraint(
        "Minimum expression expected after MIN or MINIMUM keyword, instead found '");
  }
  if (Accept("MAX") || Accept("MAXIMUM")) {
    field.Maximum = ReadColumnConstraint(
        "Maximum expression expected after MAX or MAXIMUM keyword, instead found '");
  }
  if (Accept("CHARCASE")) {
    field.CharCaseGiven = true;
    if (Accept("UPPER")) {
      field.CharCase = kCharCaseUpper;
    } else if (Accept("LOWER")) {
      field.CharCase = kCharCaseLower;
    } else if (Accept("NOCHANGE")) {
      field.CharCase = kCharCaseNoChange;
    } else {
      FailFound(
          "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
    }
  }
}

// --- Indexes --------------------------------------------------------------------------------

bool TQueryParser::IsIndexOption() const {
  return Is("UNIQUE") || Is("ASC") || Is("ASCENDING") || Is("DESC") || Is("DESCENDING") ||
         Is("NOCASE");
}

void TQueryParser::ReadIndexOptions(TCreateIndex& index) {
  while (IsIndexOption()) {
    if (Is("UNIQUE")) {
      index.Unique = true;
    } else if (Is("NOCASE")) {
      index.NoCase = true;
    } else {
      index.Descending = Is("DESC") || Is("DESCENDING");
    }
    FParser.NextToken();
  }
}

void TQueryParser::ParsePrimaryKey(TCreateIndex& index) {
  if (Accept("CONSTRAINT")) {
    if (!FParser.IsSymbolOrString()) Fail("Index name expression is empty");
    index.Name = ReadName();
  }
  ReadIndexOptions(index);
  Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
  Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  ReadIndexKey(index);
  ReadCompression(index);
}

void TQueryParser::ReadIndexKey(TCreateIndex& index) {
  if (!FParser.IsToken('(')) {
    FailFound("Left parentheses expected before list of table columns, instead found '");
  }
  FParser.NextToken();
  ReadCommaList([this, &index] {
    TIndexColumn column;
    column.Name = ReadDefinitionColumnName("index column", "Index column name is empty",
                                           " specified in indexed columns");
    column.Descending = ReadDirection();
    index.Columns.push_back(std::move(column));
  });
  ExpectRightParen("Right parentheses expected after list of table columns, instead found '");
}

void TQueryParser::ReadCompression(TCreateIndex& index) {
  if (!Accept("COMPRESS")) return;
  index.CompressionGiven = true;
  if (Accept("FULL")) {
    index.Compression = icFull;
  } else if (Accept("DUPBYTE")) {
    index.Compression = icDuplicateBytes;
  } else if (Accept("TRAILBYTE")) {
    index.Compression = icTrailingBytes;
  } else if (Accept("NONE")) {
    index.Compression = icNone;
  } else {
    FailFound(
        "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead "
        "found '");
  }
}

// --- Table options --------------------------------------------------------------------------

std::string TQueryParser::ReadOptionText(std::string_view emptyMessage) {
  if (!FParser.IsSymbolOrString()) Fail(emptyMessage);
  return ReadName();
}

void TQueryParser::ParseTextIndex(TTableOptions& options) {
  options.HasTextIndex = true;
  if (!FParser.IsToken('(')) {
    FailFound("Left parentheses expected before list of table columns, instead found '");
  }
  FParser.NextToken();
  ReadCommaList([this, &options] {
    options.TextIndexColumns.push_back(ReadDefinitionColumnName(
        "table column", "Table column name is empty", " specified in table columns"));
  });
  ExpectRightParen("Right parentheses expected after TEXT INDEX clause, instead found '");
  if (Accept("STOP")) {
    Expect("WORDS", "WORDS keyword expected after STOP keyword, instead found '");
    options.StopWordsGiven = true;
    options.StopWords = ReadOptionText("Stop words are empty");
  }
  if (Accept("SPACE")) {
    Expect("CHARS", "CHARS keyword expected after SPACE keyword, instead found '");
    options.SpaceCharsGiven = true;
    options.SpaceChars = ReadOptionText("Character set is empty");
  }
  if (Accept("INCLUDE")) {
    Expect("CHARS", "CHARS keyword expected after INCLUDE keyword, instead found '");
    options.IncludeCharsGiven = true;
    options.IncludeChars = ReadOptionText("Character set is empty");
  }
}

void TQueryParser::ParseUserVersions(TTableOptions& options) {
  while (Accept("USER")) {
    if (Accept("MAJOR")) {
      Expect("VERSION", "VERSION keyword expected after MAJOR keyword, instead found '");
      options.UserMajorVersion =
          ReadInteger("Integer value expected after VERSION keyword, instead found '");
    } else if (Accept("MINOR")) {
      Expect("VERSION", "VERSION keyword expected after MINOR keyword, instead found '");
      options.UserMinorVersion =
          ReadInteger("Integer value expected after VERSION keyword, instead found '");
    } else {
      FailFound("MAJOR or MINOR keyword expected after USER keyword, instead found '");
    }
  }
}

void TQueryParser::ParseTableOptions(bool alter) {
  TTableOptions& options = FQuery.FTableOptions;
  if (Accept("TEXT")) {
    Expect("INDEX", "INDEX keyword expected after TEXT keyword, instead found '");
    ParseTextIndex(options);
  }
  if (Accept("DESCRIPTION")) {
    if (!FParser.IsSymbolOrString()) {
      FailFound("Description expected after DESCRIPTION keyword, instead found '");
    }
    options.DescriptionGiven = true;
    options.Description = ReadName();
  }
  if (Accept("BLOB")) {
    Expect("BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
    Expect("SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
    options.BlobBlockSize =
        ReadInteger("Integer value expected after SIZE keyword, instead found '");
  }
  if (Accept("LANGUAGE")) {
    ReadLanguage(options.LanguageGiven, options.LanguageId, options.SortGiven, options.SortId);
  }
  if (Accept("ENCRYPTED")) ReadEncryption(options.Encrypted, options.Password);
  ParseUserVersions(options);
  if (Accept("LAST")) {
    Expect("AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
    if (AtExpressionEnd()) Fail("Next auto-increment number is empty");
    options.LastAutoInc =
        ReadInteger64("Integer constant expected after AUTOINC keyword, instead found '");
  }
  if (alter) options.NoBackup = Accept("NOBACKUP");
}

// --- CREATE ---------------------------------------------------------------------------------

void TQueryParser::ParseCreate() {
  if (Accept("TABLE")) {
    ParseCreateTable();
  } else if (Is("INDEX") || IsIndexOption()) {
    ParseCreateIndex();
  } else {
    FailFound(
        "TABLE, INDEX, UNIQUE, ASC, ASCENDING, DESC, DESCENDING, or NOCASE keyword expected, "
        "instead found '");
  }
}

void TQueryParser::ParseCreateTable() {
  FQuery.FKind = qkCreateTable;
  ReadIfNotExists();
  TSourceTable table;
  ReadTableName(table, "Table name expected after CREATE TABLE keywords, instead found '");
  AddSource(std::move(table));
  if (!FParser.IsToken('(')) {
    FailFound("Left parentheses expected before list of table columns, instead found '");
  }
  FParser.NextToken();
  FQuery.FCreateFields.emplace_back();
  ParseColumnDefinition(FQuery.FCreateFields.back());
  while (FParser.IsToken(',')) {
    FParser.NextToken();
    if (Is("CONSTRAINT") || Is("PRIMARY") || IsIndexOption()) {
      FQuery.FCreateIndexes.emplace_back();
      ParsePrimaryKey(FQuery.FCreateIndexes.back());
      break;
    }
    FQuery.FCreateFields.emplace_back();
    ParseColumnDefinition(FQuery.FCreateFields.back());
  }
  ParseTableOptions(false);
  if (!FParser.IsToken(')')) {
    FailFound("Right parentheses expected after CREATE TABLE statement, instead found '");
  }
  FParser.NextToken();
}

void TQueryParser::ParseCreateIndex() {
  FQuery.FKind = qkCreateIndex;
  TCreateIndex index;
  ReadIndexOptions(index);
  Expect("INDEX", "INDEX keyword expected, instead found '");
  ReadIfNotExists();
  if (!FParser.IsSymbolOrString()) {
    FailFound("Index name expected after INDEX keyword, instead found '");
  }
  index.Name = ReadName();
  Expect("ON", "ON keyword expected after index name, instead found '");
  TSourceTable table;
  ReadTableName(table, "Table name expected after ON keyword, instead found '");
  AddSource(std::move(table));
  ReadIndexKey(index);
  ReadCompression(index);
  FQuery.FCreateIndexes.push_back(std::move(index));
}

// --- ALTER ----------------------------------------------------------------------------------

void TQueryParser::ParseAlterTable() {
  TSourceTable table;
  ReadTableName(table, "Table name expected after ALTER TABLE keywords, instead found '");
  AddSource(std::move(table));
  bool hasAction = Is("ADD") || Is("DROP") || Is("REDEFINE");
  bool hasOption = false;
  for (std::string_view word : kTableOptionWords) hasOption = hasOption || Is(word);
  if (!hasAction && !hasOption) {
    FailFound("ADD, DROP, or REDEFINE keyword expected, instead found '");
  }
  while (hasAction) {
    ParseAlterAction();
    if (!FParser.IsToken(',')) break;
    FParser.NextToken();
    if (!Is("ADD") && !Is("DROP") && !Is("REDEFINE")) {
      FailFound("ADD, DROP, or REDEFINE keyword expected, instead found '");
    }
  }
  ParseTableOptions(true);
}

void TQueryParser::ParseAlterAction() {
  TAlterAction action;
  bool column = false;
  if (Accept("ADD")) {
    if (Accept("COLUMN") || !(Is("CONSTRAINT") || Is("PRIMARY") || IsIndexOption())) {
      action.Kind = aaAddColumn;
      column = true;
    } else {
      action.Kind = aaAddPrimaryKey;
      ParsePrimaryKey(action.PrimaryKey);
    }
  } else if (Accept("REDEFINE")) {
    Accept("COLUMN");
    action.Kind = aaRedefineColumn;
    column = true;
  } else {
    FParser.NextToken();  // DROP
    if (Accept("CONSTRAINT")) {
      if (!FParser.IsSymbolOrString()) Fail("Index name expression is empty");
      action.ConstraintName = ReadName();
      Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
    }
    if (!action.ConstraintName.empty() || Accept("PRIMARY")) {
      Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
      action.Kind = aaDropPrimaryKey;
    } else {
      Accept("COLUMN");
      action.Kind = aaDropColumn;
      action.ColumnName = ReadDefinitionColumnName("table column", "Table column name is empty",
                                                   " specified in table columns");
    }
  }
  if (column) {
    ParseColumnDefinition(action.Field);
    if (Accept("AT")) {
      action.Position = ReadInteger("Integer value expected after AT keyword, instead found '");
    }
  }
  FQuery.FAlterActions.push_back(std::move(action));
}

// --- DROP -----------------------------------------------------------------------------------

void TQueryParser::ParseDrop() {
  TSourceTable table;
  if (Accept("TABLE")) {
    FQuery.FKind = qkDropTable;
    ReadIfExists();
    ReadTableName(table, "Table name expected after DROP TABLE keywords, instead found '");
    AddSource(std::move(table));
    return;
  }
  if (!Accept("INDEX")) FailFound("TABLE or INDEX keyword expected, instead found '");
  FQuery.FKind = qkDropIndex;
  ReadIfExists();
  ReadTableName(table, "Table name expected after DROP INDEX keywords, instead found '");
  AddSource(std::move(table));
  if (!FParser.IsToken('.')) Fail("Index name expression is empty");
  FParser.NextToken();
  if (!FParser.IsSymbolOrString()) Fail("Index name expression is empty");
  FQuery.FIndexName = ReadName();
}

}  // namespace kura
