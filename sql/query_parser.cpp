// The statement dispatch, the end of a statement, transactions and the helpers every
// statement's grammar shares.
#include "sql/query_parser.h"

#include <charconv>
#include <limits>

#include "sql/query_statement.h"
#include "storage/collation.h"

namespace kura {

namespace {

constexpr std::string_view kContext = "SQL statement";

std::string Cut(std::string text) {
  if (text.size() > kMaxQueryNameLength) text.resize(kMaxQueryNameLength);
  return text;
}

}  // namespace

const char* QueryKindName(std::uint8_t kind) {
  switch (kind) {
    case qkSelect:
      return "SELECT";
    case qkInsert:
      return "INSERT";
    case qkUpdate:
      return "UPDATE";
    case qkDelete:
      return "DELETE";
    case qkCreateTable:
      return "CREATE TABLE";
    case qkAlterTable:
      return "ALTER TABLE";
    case qkDropTable:
      return "DROP TABLE";
    case qkCreateIndex:
      return "CREATE INDEX";
    case qkDropIndex:
      return "DROP INDEX";
    case qkStartTransaction:
      return "START TRANSACTION";
    case qkRollback:
      return "ROLLBACK";
    case qkCommit:
      return "COMMIT";
    default:
      return "SQL";
  }
}

void TDataQuery::ParseStatement(bool isSubQuery, bool isUnionPart, TDataQuery* unionedTo) {
  TQueryParser(*this, FStatement->Parser()).ParseStatement(isSubQuery, isUnionPart, unionedTo);
}

TQueryParser::TQueryParser(TDataQuery& query, TExpressionParser& parser)
    : FQuery(query), FParser(parser) {}

// --- Helpers --------------------------------------------------------------------------------

void TQueryParser::Fail(std::string_view message) const {
  FParser.Fail(message);
}

void TQueryParser::FailFound(std::string_view message) const {
  Fail(std::string(message) + FParser.TokenText() + "'");
}

bool TQueryParser::Accept(std::string_view word) {
  if (!Is(word)) return false;
  FParser.NextToken();
  return true;
}

void TQueryParser::Expect(std::string_view word, std::string_view message) {
  if (!Accept(word)) FailFound(message);
}

bool TQueryParser::AtExpressionEnd() const {
  return FParser.IsToken(kTokenEnd) || FParser.IsToken(';') || FParser.IsToken(',') ||
         FParser.IsToken(')');
}

TExpTokenPtr TQueryParser::ParseClause(int flags, std::string_view context,
                                       std::string_view emptyMessage) {
  if (AtExpressionEnd()) Fail(emptyMessage);
  FParser.SetContextName(context);
  TExpTokenPtr tree = FParser.ParseExpression(flags);
  FParser.SetContextName(kContext);
  return tree;
}

std::int64_t TQueryParser::ReadInteger64(std::string_view message) {
  if (!FParser.IsToken(kTokenInteger)) FailFound(message);
  std::string text = FParser.TokenText();
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) FailFound(message);
  FParser.NextToken();
  return value;
}

std::int32_t TQueryParser::ReadInteger(std::string_view message) {
  std::string text = FParser.TokenText();
  std::int64_t value = ReadInteger64(message);
  if (value > std::numeric_limits<std::int32_t>::max()) Fail(std::string(message) + text + "'");
  return static_cast<std::int32_t>(value);
}

void TQueryParser::ExpectRightParen(std::string_view message) {
  if (!FParser.IsToken(')')) FailFound(message);
  FParser.NextToken();
}

bool TQueryParser::ReadDirection() {
  if (Accept("DESC") || Accept("DESCENDING")) return true;
  if (!Accept("ASC")) Accept("ASCENDING");
  return false;
}

std::string TQueryParser::ReadName() {
  std::string name = Cut(FParser.TokenText());
  FParser.NextToken();
  return name;
}

std::string TQueryParser::ReadNamePath(std::string_view message) {
  if (!FParser.IsSymbolOrString()) FailFound(message);
  std::string name = ReadName();
  if (FParser.IsToken('\\')) {
    FParser.NextToken();
    if (!FParser.IsSymbolOrString()) FailFound(message);
    name += '\\';
    name += ReadName();
  }
  return Cut(name);
}

void TQueryParser::ReadTableName(TSourceTable& table, std::string_view message) {
  table.InMemory = Accept("MEMORY");
  table.Name = ReadNamePath(message);
  table.TableName = TableNameOfPath(table.Name);
  std::size_t slash = table.Name.find_last_of('\\');
  if (table.InMemory) {
    table.DatabaseName = kMemoryDatabaseName;
  } else if (slash != std::string::npos) {
    table.DatabaseName = table.Name.substr(0, slash);
  }
  table.CorrelationName = table.TableName;
}

void TQueryParser::ReadLanguage(bool& languageGiven, std::uint16_t& languageId, bool& sortGiven,
                                std::uint16_t& sortId) {
  std::string name = FParser.IsSymbolOrString() ? FParser.TokenText() : std::string();
  if (!FParser.IsSymbolOrString() || !LocaleNameExists(name)) {
    Fail("Invalid language constant '" + FParser.TokenText() +
         "' specified after LANGUAGE keyword");
  }
  FParser.NextToken();
  languageGiven = true;
  languageId = LanguageIdOfName(name);
  if (!Accept("SORT")) return;
  int sort = FParser.IsSymbolOrString() ? SortIdOfName(languageId, FParser.TokenText()) : -1;
  if (sort < 0) {
    Fail("Invalid sort constant '" + FParser.TokenText() + "' specified after SORT keyword");
  }
  FParser.NextToken();
  sortGiven = true;
  sortId = static_cast<std::uint16_t>(sort);
}

void TQueryParser::ReadEncryption(bool& encrypted, std::string& password) {
  Expect("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
  // The password may be any name or string; an empty one means no encryption.
  if (!FParser.IsSymbolOrString()) {
    FailFound("Password expected after ENCRYPTED WITH keywords, instead found '");
  }
  password = ReadName();
  encrypted = !password.empty();
}

void TQueryParser::ReadCommitOption() {
  if (!Accept("COMMIT")) return;
  if (Accept("INTERVAL")) {
    FQuery.FCommitInterval =
        ReadInteger("Integer value expected after INTERVAL keyword, instead found '");
    FQuery.FCommitFlush = Accept("FLUSH");
    return;
  }
  if (!Accept("FLUSH")) {
    FailFound("INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found '");
  }
  FQuery.FCommitFlush = true;
}

void TQueryParser::ReadEndOfStatement() {
  if (FParser.IsToken(';')) {
    FParser.NextToken();
    return;
  }
  if (!FParser.IsToken(kTokenEnd)) {
    Fail(std::string("End of ") + QueryKindName(FQuery.FKind) +
         " statement expected, instead found '" + FParser.TokenText() + "'");
  }
}

// --- Dispatch -------------------------------------------------------------------------------

void TQueryParser::ParseStatement(bool isSubQuery, bool isUnionPart, TDataQuery* unionedTo) {
  FQuery.FIsSubQuery = isSubQuery;
  FQuery.FIsUnionPart = isUnionPart;
  FQuery.FUnionedTo = unionedTo;
  FParser.SetContextName(kContext);
  if (FParser.IsToken('(') || Is("SELECT")) {
    ParseSelect(isUnionPart);
  } else if (Accept("INSERT")) {
    ParseInsert();
  } else if (Accept("UPDATE")) {
    ParseUpdate();
  } else if (Accept("DELETE")) {
    ParseDelete();
  } else if (Accept("CREATE")) {
    ParseCreate();
  } else if (Accept("ALTER")) {
    FQuery.FKind = qkAlterTable;
    Expect("TABLE", "TABLE keyword expected, instead found '");
    ParseAlterTable();
  } else if (Accept("DROP")) {
    ParseDrop();
  } else if (Accept("START")) {
    FQuery.FKind = qkStartTransaction;
    Expect("TRANSACTION", "TRANSACTION keyword expected, instead found '");
  } else if (Accept("ROLLBACK")) {
    FQuery.FKind = qkRollback;
    Accept("WORK");
  } else if (Accept("COMMIT")) {
    FQuery.FKind = qkCommit;
    Accept("WORK");
    FQuery.FCommitFlush = Accept("FLUSH");
  } else {
    FailFound(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead "
        "found '");
  }
  if (!isSubQuery && !isUnionPart) ReadEndOfStatement();
}

}  // namespace kura
