#include "sql/prepare_case_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "sql/query_binder.h"
#include "sql/query_database.h"
#include "sql/select_test_support.h"
#include "sql/statement_case_runner.h"
#include "storage/ascii_case.h"

namespace kura::testing {

namespace {

// The in-memory database the cases of one file prepare against.
struct TPrepareState {
  TEngineSandbox Sandbox{""};
  TSqlDatabase Database{Sandbox.Directory()};
  bool RequestLive = true;
};

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) items.push_back(item);
  return items;
}

std::uint16_t FieldNumber(const TTableDefinition& definition, const std::string& name) {
  for (std::size_t i = 0; i < definition.Fields.size(); ++i) {
    if (EqualsIgnoringAsciiCase(definition.Fields[i].FieldName, name)) {
      return static_cast<std::uint16_t>(i + 1);
    }
  }
  ADD_FAILURE() << "no field " << name;
  return 1;
}

TIndexDefinition IndexLine(const TTableDefinition& definition, std::istringstream& in) {
  TIndexDefinition index;
  for (std::string word; in >> word;) {
    if (word == "unique") {
      index.Unique = true;
    } else if (word == "nocase") {
      index.CaseInsensitive = true;
    } else if (word == "desc") {
      index.Descending = true;
    } else {
      for (const std::string& name : SplitList(word)) {
        index.Fields.push_back(FieldNumber(definition, name));
      }
    }
  }
  return index;
}

void CreateTable(TPrepareState& state, const TCaseBlock& block) {
  TTableDefinition definition;
  std::vector<std::string> indexLines;
  for (const std::string& line : block.Input) {
    std::istringstream in(line);
    std::string first, rest;
    in >> first >> rest;
    if (first == "primary" || first == "index") {
      indexLines.push_back(line);
    } else if (first == "language") {
      definition.Settings.LanguageId = static_cast<std::int16_t>(std::stoi(rest));
      std::string sort;
      if (in >> sort) definition.Settings.SortId = static_cast<std::int16_t>(std::stoi(sort));
    } else {
      definition.Fields.push_back(ParseFieldDeclaration(first, rest));
    }
  }
  for (const std::string& line : indexLines) {
    std::istringstream in(line);
    std::string kind, name;
    in >> kind;
    if (kind == "index") in >> name;
    TIndexDefinition index = IndexLine(definition, in);
    index.Name = name;
    if (kind == "primary") {
      index.Unique = true;
      definition.PrimaryIndex = index;
    } else {
      definition.SecondaryIndexes.push_back(index);
    }
  }
  TDataDirectory& directory = state.Sandbox.Directory();
  TDataTable& table = directory.CreateTable(block.Arguments, true, definition, true);
  directory.CloseTable(table);
}

std::string TypeText(std::uint8_t type, std::uint8_t subType, std::int32_t size,
                     std::uint8_t scale) {
  std::string text(TypeName(type, subType));
  if (size != 0) text += " size " + std::to_string(size);
  if (scale != 0) text += " scale " + std::to_string(scale);
  return text;
}

class TPreparedWriter {
 public:
  TPreparedWriter(const TQueryStatement& statement, std::string& out) : FOut(out) {
    for (std::size_t i = 0; i < statement.FQueries.size(); ++i) {
      FNumbers[statement.FQueries[i].get()] = static_cast<int>(i) + 1;
    }
  }

  void Write(const TDataQuery& query) {
    FQuery = &query;
    FOut += "query " + std::to_string(FNumbers[&query]) + " " + QueryKindName(query.FKind) + "\n";
    for (const TSourceTable& table : query.FSourceTables) Source(table);
    if (!query.FSourceTables.empty() && query.FSourceTables.front().Cursor != nullptr) {
      Line("locale " + std::to_string(query.FLanguageId) + " " + std::to_string(query.FSortId));
    }
    for (const TResultField& field : query.FResultFields) ResultField(field);
    for (const TJoin& join : query.FJoins) {
      Line("join " + std::to_string(join.SourcePosition) + " on " + Tree(join.Condition.get()));
    }
    for (const TUpdateField& field : query.FUpdateFields) {
      Line("target " + field.ColumnName + " " +
           TypeText(field.DataType, field.SubType, field.Size, field.Scale) + " field " +
           std::to_string(field.FieldNo));
    }
    for (const TUpdateValue& value : query.FUpdateValues) {
      Line("value " + Tree(value.Expression.get()));
    }
    if (query.FWhere) Line("where " + Tree(query.FWhere.get()));
    List("group by", query.FGroupBy);
    if (query.FHaving) Line("having " + Tree(query.FHaving.get()));
    List("order by", query.FOrderBy);
    if (query.FKind == qkSelect) Shape(query);
  }

 private:
  void Line(const std::string& text) { FOut += "  " + text + "\n"; }

  void Shape(const TDataQuery& query) {
    std::string text = query.FResultIsLive ? "result live" : "result canned";
    if (query.FOrderIndex != kNoOrderIndex) text += " index " + std::to_string(query.FOrderIndex);
    if (query.FOrderByNeedsExpression) text += " order-by-expression";
    if (query.FCountOnly) text += " count-only";
    if (query.FImplicitGroup) text += " implicit-group";
    Line(text);
  }

  void Source(const TSourceTable& table) {
    std::string text = "source " + table.TableName + " as " + table.CorrelationName;
    if (table.Cursor != nullptr) {
      text += " fields " + std::to_string(table.Cursor->Table()->Data().Descriptors().size());
      text += table.Cursor->ReadOnly() ? " read-only" : " writable";
      if (table.Cursor->InMemory()) text += " memory";
    }
    Line(text);
  }

  void ResultField(const TResultField& field) {
    std::string text = "column " + ResultColumnName(field) + " " +
                       TypeText(field.DataType, field.SubType, field.Size, field.Scale);
    if (field.SourceFieldNo != 0) text += " field " + std::to_string(field.SourceFieldNo);
    Line(text + " = " + Tree(field.Expression.get()));
  }

  template <typename TItem>
  void List(const char* clause, const std::vector<TItem>& items) {
    if (items.empty()) return;
    std::string text = clause;
    for (std::size_t i = 0; i < items.size(); ++i) {
      text += (i == 0 ? " #" : ", #") + std::to_string(items[i].ResultColumn);
      if constexpr (std::is_same_v<TItem, TOrderByField>) {
        if (items[i].Descending) text += " desc";
      }
    }
    Line(text);
  }

  std::string Tree(const TExpToken* tree) const {
    return DumpTree(tree, [this](const TExpToken& column) { return ColumnText(column); });
  }

  std::string ColumnText(const TExpToken& column) const {
    if (column.FSourceTable == FQuery)
      return std::string("#").append(std::to_string(column.FFieldNo));
    if (column.FColumnName == "*") return "*";
    for (const TSourceTable& table : FQuery->FSourceTables) {
      if (column.FSourceTable != &table || table.Cursor == nullptr) continue;
      // The table's own fields: a live result's cursor shows the result columns instead.
      return table.TableName + "." +
             table.Cursor->Table()->Data().Descriptors()[column.FFieldNo - 1u].FieldName;
    }
    return "unbound:" + column.FColumnName;
  }

  std::string& FOut;
  const TDataQuery* FQuery = nullptr;
  std::map<const TDataQuery*, int> FNumbers;
};

// Prepares the statement; answers the bound model, or "<code> <message>" after an error.
std::string PrepareText(TPrepareState& state, const std::string& sql, bool& failed) {
  std::string out;
  failed = false;
  {
    TQueryStatement statement(&state.Database);
    statement.FRequestLive = state.RequestLive;
    try {
      statement.Prepare(sql);
      out = DescribePrepared(statement);
      if (!out.empty() && out.back() == '\n') out.pop_back();
    } catch (const EKuraEngineError& e) {
      failed = true;
      out = std::to_string(e.ErrorCode) + " " + (e.ErrorText.empty() ? e.what() : e.ErrorText);
    }
  }
  // No cursor outlives its statement: every table is closed again.
  EXPECT_TRUE(state.Sandbox.Directory().Tables().empty()) << sql;
  EXPECT_TRUE(state.Database.Statements().empty()) << sql;
  return out;
}

// Prepares and executes the statement; answers its result rows (sorted when asked), or
// "<code> <message>" after an error.
std::vector<std::string> QueryRows(TPrepareState& state, const std::string& sql, bool sorted,
                                   bool& failed) {
  std::vector<std::string> rows;
  failed = false;
  {
    TQueryStatement statement(&state.Database);
    statement.FRequestLive = state.RequestLive;
    try {
      statement.Prepare(sql);
      TDataCursor* cursor = statement.Execute();
      if (cursor != nullptr) rows = ReadRows(*cursor);
      if (sorted) std::sort(rows.begin(), rows.end());
    } catch (const EKuraEngineError& e) {
      failed = true;
      rows = {std::to_string(e.ErrorCode) + " " + (e.ErrorText.empty() ? e.what() : e.ErrorText)};
    }
  }
  EXPECT_TRUE(state.Sandbox.Directory().Tables().empty()) << sql;
  return rows;
}

}  // namespace

std::string DescribePrepared(TQueryStatement& statement) {
  std::string out = StatementHeader(statement);
  TPreparedWriter writer(statement, out);
  for (const auto& query : statement.FQueries) writer.Write(*query);
  return out;
}

void AddPrepareCases(TExpressionCaseRunner& runner) {
  auto state = std::make_shared<TPrepareState>();
  runner.AddDirective("table", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    try {
      CreateTable(*state, block);
    } catch (const EKuraEngineError& e) {
      ADD_FAILURE() << "table " << block.Arguments << ": " << e.ErrorCode << " " << e.what();
    }
  });
  runner.AddDirective("request_live", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    state->RequestLive = block.Arguments == "on";
  });
  runner.AddCaseKind("prepare", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    std::string sql = JoinLines(block.Input);
    bool failed = false;
    std::string actual = PrepareText(*state, sql, failed);
    EXPECT_FALSE(failed) << sql << "\nraised " << actual;
    if (!failed) {
      EXPECT_EQ(JoinLines(block.Expected), actual) << sql;
    }
  });
  runner.AddDirective("rows", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    try {
      InsertRows(state->Sandbox.Directory(), block.Arguments, block.Input);
    } catch (const EKuraEngineError& e) {
      ADD_FAILURE() << "rows " << block.Arguments << ": " << e.ErrorCode << " " << e.what();
    }
  });
  runner.AddCaseKind("query", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    std::string sql = JoinLines(block.Input);
    bool sorted = block.Arguments == "sorted";
    bool failed = false;
    std::vector<std::string> rows = QueryRows(*state, sql, sorted, failed);
    std::vector<std::string> expected = block.Expected;
    if (sorted) std::sort(expected.begin(), expected.end());
    EXPECT_FALSE(failed) << sql << "\nraised " << JoinLines(rows);
    if (!failed) {
      EXPECT_EQ(JoinLines(expected), JoinLines(rows)) << sql << "\n(line " << block.Line << ")";
    }
  });
  runner.AddCaseKind("query_error", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    std::string sql = JoinLines(block.Input);
    bool failed = false;
    std::vector<std::string> rows = QueryRows(*state, sql, false, failed);
    EXPECT_TRUE(failed) << sql << "\ngave " << JoinLines(rows);
    if (failed) {
      EXPECT_EQ(JoinLines(block.Expected), JoinLines(rows)) << sql;
    }
  });
  runner.AddCaseKind("prepare_error", [state](TExpressionCaseRunner&, const TCaseBlock& block) {
    std::string sql = JoinLines(block.Input);
    bool failed = false;
    std::string actual = PrepareText(*state, sql, failed);
    EXPECT_TRUE(failed) << sql << "\ngave " << actual;
    if (failed) {
      EXPECT_EQ(JoinLines(block.Expected), actual) << sql;
    }
  });
}

}  // namespace kura::testing
