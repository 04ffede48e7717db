// TQueryParser: the statement grammar on top of the expression parser, filling one
// TDataQuery. Private to the SQL statement library; TDataQuery::ParseStatement is the entry.
//
// Every message is raised as engine error 11949 with the message as error text and nothing
// appended; expressions inside clauses raise the expression parser's own messages with the
// clause as context ("WHERE clause", "value expression", ...).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "sql/expression_parser.h"
#include "sql/query_model.h"

namespace kura {

class TQueryParser {
 public:
  TQueryParser(TDataQuery& query, TExpressionParser& parser);

  void ParseStatement(bool isSubQuery, bool isUnionPart, TDataQuery* unionedTo);

 private:
  // --- Shared helpers (query_parser.cpp) ---------------------------------------------------
  [[noreturn]] void Fail(std::string_view message) const;
  // Raises message + current token text + "'".
  [[noreturn]] void FailFound(std::string_view message) const;
  bool Is(std::string_view word) const { return FParser.IsKeyword(word); }
  // Consumes the keyword when it is current.
  bool Accept(std::string_view word);
  // Consumes the keyword, or raises message + token + "'".
  void Expect(std::string_view word, std::string_view message);
  // True when no expression can start at the current token (end, `;`, `,`, `)`).
  bool AtExpressionEnd() const;
  // AtExpressionEnd, or a word that starts the next clause (GROUP, ORDER, ...).
  bool AtClauseEnd() const;
  // Parses an expression with flags in the context, raising emptyMessage when none starts.
  TExpTokenPtr ParseClause(int flags, std::string_view context, std::string_view emptyMessage);
  // Reads an integer token into a 32-bit value, or raises message + token + "'".
  std::int32_t ReadInteger(std::string_view message);
  std::int64_t ReadInteger64(std::string_view message);
  // Reads item {, item}.
  template <typename TReadItem>
  void ReadCommaList(TReadItem readItem) {
    for (;;) {
      readItem();
      if (!FParser.IsToken(',')) return;
      FParser.NextToken();
    }
  }
  // Consumes `)`, or raises message + token + "'".
  void ExpectRightParen(std::string_view message);
  // Reads an optional ASC, ASCENDING, DESC or DESCENDING; true for a descending one.
  bool ReadDirection();
  // Reads name[\name], cut to 255 characters; raises message + token + "'" without a name.
  std::string ReadNamePath(std::string_view message);
  // Reads [MEMORY] name[\name] into table; raises message + token + "'" without a name.
  void ReadTableName(TSourceTable& table, std::string_view message);
  // A symbol, string or bracketed name; its text cut to 255 characters.
  std::string ReadName();
  void ReadLanguage(bool& languageGiven, std::uint16_t& languageId, bool& sortGiven,
                    std::uint16_t& sortId);
  void ReadEncryption(bool& encrypted, std::string& password);
  void ReadCommitOption();
  void ReadEndOfStatement();

  // --- SELECT (query_parser_select.cpp) ----------------------------------------------------
  void ParseSelect(bool isUnionPart);
  void ParseSelectList();
  void ParseResultField();
  void ReadResultAlias(TResultField& field);
  void ClassifyResultField(TResultField& field);
  void ParseInto();
  void ParseFromList();
  void ParseSource(std::string_view nameMessage, int& nesting);
  bool IsJoinStart() const;
  TJoin ParseJoin(int& nesting);
  void ParseJoinCondition(TJoin& join, int& nesting);
  void CloseJoinParentheses(int& nesting);
  bool IsBareAlias() const;
  void ReadSourceAlias(TSourceTable& table);
  void AddSource(TSourceTable table);
  void ParseWhere();
  void ParseGroupBy();
  void ParseHaving();
  void ParseOrderBy();
  void ReadColumnReference(TGroupByField& field, std::string_view message);
  void ParseSelectOptions(bool readTop);
  void ParseUnions();

  // --- INSERT, UPDATE, DELETE (query_parser_dml.cpp) ----------------------------------------
  void ParseInsert();
  void ParseInsertColumns();
  void ParseInsertValues();
  void ParseUpdate();
  void ParseUpdateAssignment();
  void ParseUpdateFrom();
  void ParseDelete();
  TUpdateField ReadTargetColumn(int flags);
  TUpdateValue ReadValue();

  // --- Definition statements (query_parser_ddl.cpp) ----------------------------------------
  void ParseCreate();
  void ParseCreateTable();
  void ParseCreateIndex();
  void ParseAlterTable();
  void ParseAlterAction();
  void ParseDrop();
  void ReadIfNotExists();
  void ReadIfExists();
  void ParseColumnDefinition(TCreateField& field);
  std::string ReadDefinitionColumnName(std::string_view context, std::string_view emptyMessage,
                                       std::string_view correlationMessage);
  TExpTokenPtr ReadColumnConstraint(std::string_view message);
  bool IsIndexOption() const;
  void ReadIndexOptions(TCreateIndex& index);
  void ParsePrimaryKey(TCreateIndex& index);
  void ReadIndexKey(TCreateIndex& index);
  void ReadCompression(TCreateIndex& index);
  void ParseTableOptions(bool alter);
  void ParseTextIndex(TTableOptions& options);
  std::string ReadOptionText(std::string_view emptyMessage);
  void ParseUserVersions(TTableOptions& options);

  TDataQuery& FQuery;
  TExpressionParser& FParser;
  // Correlation names of the sources so far, lower-cased, to find one used twice.
  std::set<std::string> FCorrelations;
};

}  // namespace kura
