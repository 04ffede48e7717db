#include "sql/statement_case_runner.h"

#include <gtest/gtest.h>

#include <map>

#include "base/engine_error.h"
#include "sql/expression_values.h"

namespace kura::testing {

namespace {

const char* AggregateName(std::uint8_t kind) {
  static const char* const kNames[] = {"", "SUM", "RUNSUM", "MIN", "MAX", "AVG", "COUNT"};
  return kind <= akCount ? kNames[kind] : "?";
}

const char* JoinName(std::uint8_t kind) {
  return kind == jkLeft ? "left" : kind == jkRight ? "right" : "inner";
}

const char* CompressionName(std::uint8_t code) {
  static const char* const kNames[] = {"none", "dupbyte", "trailbyte", "full"};
  return code <= icFull ? kNames[code] : "?";
}

std::string Qualified(const std::string& correlation, const std::string& name) {
  return correlation.empty() ? name : correlation + "." + name;
}

std::string ColumnReference(const TGroupByField& field) {
  return field.IsNumber ? std::string("#").append(std::to_string(field.ColumnNumber))
                        : Qualified(field.CorrelationName, field.ColumnName);
}

// Writes one query; queries refer to each other by their 1-based number in the statement.
class TQueryWriter {
 public:
  TQueryWriter(const TQueryStatement& statement, std::string& out) : FOut(out) {
    for (std::size_t i = 0; i < statement.FQueries.size(); ++i) {
      FNumbers[statement.FQueries[i].get()] = static_cast<int>(i) + 1;
    }
  }

  void Write(const TDataQuery& query) {
    Header(query);
    for (const TResultField& field : query.FResultFields) ResultField(field);
    if (query.FIntoMemory || !query.FIntoTable.empty()) {
      Line("into" + std::string(query.FIntoMemory ? " memory" : "") +
           (query.FIntoTable.empty() ? "" : " " + query.FIntoTable));
    }
    for (const TSourceTable& table : query.FSourceTables) Source(table);
    for (const TJoin& join : query.FJoins) {
      Line(std::string("join ") + JoinName(join.Kind) + " " + std::to_string(join.SourcePosition) +
           " on " + DumpTree(join.Condition.get()));
    }
    Assignments(query);
    if (query.FWhere) Line("where " + DumpTree(query.FWhere.get()));
    Columns("group by", query.FGroupBy, false);
    if (query.FHaving) Line("having " + DumpTree(query.FHaving.get()));
    Columns("order by", query.FOrderBy, query.FOrderByNoCase);
    Options(query);
    DataOptions(query);
    Definitions(query);
    Flags(query);
  }

 private:
  void Line(const std::string& text) { FOut += "  " + text + "\n"; }

  std::string Number(const TDataQuery* query) const {
    auto found = FNumbers.find(query);
    return found == FNumbers.end() ? "?" : std::to_string(found->second);
  }

  void Header(const TDataQuery& query) {
    std::string text = "query " + Number(&query) + " " + QueryKindName(query.FKind);
    if (query.FIsSubQuery) text += " subquery";
    if (query.FIsUnionPart) text += " union-part of " + Number(query.FUnionedTo);
    if (query.FParenthesized) text += " parenthesized";
    if (query.FDistinct) text += " distinct";
    FOut += text + "\n";
  }

  void ResultField(const TResultField& field) {
    std::string text = "column " + field.Text + " -> " + DumpTree(field.Expression.get());
    if (!field.Alias.empty()) text += " as " + field.Alias;
    if (field.Aggregate != akNone) {
      text += std::string(" ") + AggregateName(field.Aggregate) + " of " +
              (field.Computed ? "expression" : Qualified(field.CorrelationName, field.ColumnName));
    }
    if (field.Computed) text += " computed";
    Line(text);
  }

  void Source(const TSourceTable& table) {
    std::string text = "from " + table.Name + " as " + table.CorrelationName;
    if (table.TableName != table.Name) text += " table " + table.TableName;
    if (table.InMemory) text += " memory";
    if (!table.DatabaseName.empty()) text += " database " + table.DatabaseName;
    if (table.Nesting > 0) text += " nesting " + std::to_string(table.Nesting);
    Line(text);
  }

  template <typename TField>
  void Columns(const char* clause, const std::vector<TField>& fields, bool noCase) {
    if (fields.empty()) return;
    std::string text = clause;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      text += (i == 0 ? " " : ", ") + ColumnReference(fields[i]);
      if constexpr (std::is_same_v<TField, TOrderByField>) {
        if (fields[i].Descending) text += " desc";
      }
    }
    if (noCase) text += " nocase";
    Line(text);
  }

  void Language(bool languageGiven, std::uint16_t languageId, bool sortGiven,
                std::uint16_t sortId) {
    if (!languageGiven) return;
    Line("language " + std::to_string(languageId) +
         (sortGiven ? " sort " + std::to_string(sortId) : ""));
  }

  void Options(const TDataQuery& query) {
    if (query.FTop >= 0) Line("top " + std::to_string(query.FTop));
    if (query.FWithLocks) Line("with locks");
    Language(query.FLanguageGiven, query.FLanguageId, query.FSortGiven, query.FSortId);
    if (query.FEncrypted) Line("encrypted with " + query.FPassword);
    if (query.FNoJoinOptimize) Line("nojoinoptimize");
    if (query.FUnionNext != nullptr) {
      Line(std::string(query.FUnionAll ? "union all" : "union") + " query " +
           Number(query.FUnionNext));
    }
  }

  void Assignments(const TDataQuery& query) {
    bool assignments = query.FKind == qkUpdate;
    if (!assignments && !query.FUpdateFields.empty()) {
      std::string text = "columns";
      for (const TUpdateField& field : query.FUpdateFields) {
        text += (text.size() > 7 ? ", " : " ") + Qualified(field.CorrelationName, field.ColumnName);
      }
      Line(text);
    }
    for (std::size_t i = 0; i < query.FUpdateValues.size(); ++i) {
      const TUpdateValue& value = query.FUpdateValues[i];
      std::string target;
      if (assignments && i < query.FUpdateFields.size()) {
        const TUpdateField& field = query.FUpdateFields[i];
        target = Qualified(field.CorrelationName, field.ColumnName) + " = ";
      }
      Line((assignments ? "set " : "value ") + target + value.Text + " -> " +
           DumpTree(value.Expression.get()));
    }
  }

  void DataOptions(const TDataQuery& query) {
    if (query.FInsertSelect != nullptr) Line("select query " + Number(query.FInsertSelect));
    if (query.FNoAutoInc) Line("noautoinc");
    if (query.FCommitInterval != 0 || query.FCommitFlush) {
      std::string text = "commit";
      if (query.FCommitInterval != 0) text += " interval " + std::to_string(query.FCommitInterval);
      if (query.FCommitFlush) text += " flush";
      Line(text);
    }
  }

  static std::string DataType(const TExpToken& type) {
    std::string text(TypeName(type.FDataType, type.FSubType));
    std::string arguments;
    for (std::size_t i = 1; i < type.FArgs.size(); ++i) {
      arguments += (i == 1 ? "" : ", ") + DumpTree(type.FArgs[i]);
    }
    return arguments.empty() ? text : text + "(" + arguments + ")";
  }

  static std::string Field(const TCreateField& field) {
    std::string text = field.Name + " " + DataType(*field.DataType);
    if (!field.Description.empty()) text += " description '" + field.Description + "'";
    if (field.NotNull) text += " not null";
    if (field.Default) text += " default " + DumpTree(field.Default.get());
    if (field.Minimum) text += " min " + DumpTree(field.Minimum.get());
    if (field.Maximum) text += " max " + DumpTree(field.Maximum.get());
    if (field.CharCaseGiven) {
      static const char* const kCases[] = {"nochange", "lower", "upper"};
      text += std::string(" charcase ") + kCases[field.CharCase % 3];
    }
    return text;
  }

  static std::string Index(const TCreateIndex& index) {
    std::string text = index.Name.empty() ? "" : index.Name + " ";
    if (index.Unique) text += "unique ";
    if (index.NoCase) text += "nocase ";
    if (index.Descending) text += "desc ";
    text += "(";
    for (std::size_t i = 0; i < index.Columns.size(); ++i) {
      text += (i == 0 ? "" : ", ") + index.Columns[i].Name;
      if (index.Columns[i].Descending) text += " desc";
    }
    text += ")";
    if (index.CompressionGiven)
      text += std::string(" compress ") + CompressionName(index.Compression);
    return text;
  }

  void Definitions(const TDataQuery& query) {
    if (query.FIfExists)
      Line(query.FKind == qkCreateTable || query.FKind == qkCreateIndex ? "if not exists"
                                                                        : "if exists");
    for (const TCreateField& field : query.FCreateFields) Line("field " + Field(field));
    for (const TCreateIndex& index : query.FCreateIndexes) {
      Line((query.FKind == qkCreateIndex ? "index " : "primary key ") + Index(index));
    }
    for (const TAlterAction& action : query.FAlterActions) AlterAction(action);
    if (!query.FIndexName.empty()) Line("index name " + query.FIndexName);
    TableOptions(query.FTableOptions);
  }

  void AlterAction(const TAlterAction& action) {
    std::string at = action.Position != 0 ? " at " + std::to_string(action.Position) : "";
    switch (action.Kind) {
      case aaAddColumn:
        Line("add column " + Field(action.Field) + at);
        break;
      case aaRedefineColumn:
        Line("redefine column " + Field(action.Field) + at);
        break;
      case aaAddPrimaryKey:
        Line("add primary key " + Index(action.PrimaryKey));
        break;
      case aaDropPrimaryKey:
        Line("drop primary key" +
             (action.ConstraintName.empty() ? "" : " constraint " + action.ConstraintName));
        break;
      default:
        Line("drop column " + action.ColumnName);
    }
  }

  void TableOptions(const TTableOptions& options) {
    if (options.HasTextIndex) {
      std::string text = "text index (";
      for (std::size_t i = 0; i < options.TextIndexColumns.size(); ++i) {
        text += (i == 0 ? "" : ", ") + options.TextIndexColumns[i];
      }
      text += ")";
      if (options.StopWordsGiven) text += " stop words '" + options.StopWords + "'";
      if (options.SpaceCharsGiven) text += " space chars '" + options.SpaceChars + "'";
      if (options.IncludeCharsGiven) text += " include chars '" + options.IncludeChars + "'";
      Line(text);
    }
    if (options.DescriptionGiven) Line("description '" + options.Description + "'");
    if (options.BlobBlockSize != 0)
      Line("blob block size " + std::to_string(options.BlobBlockSize));
    Language(options.LanguageGiven, options.LanguageId, options.SortGiven, options.SortId);
    if (options.Encrypted) Line("encrypted with " + options.Password);
    if (options.UserMajorVersion >= 0) {
      Line("user major version " + std::to_string(options.UserMajorVersion));
    }
    if (options.UserMinorVersion >= 0) {
      Line("user minor version " + std::to_string(options.UserMinorVersion));
    }
    if (options.LastAutoInc >= 0) Line("last autoinc " + std::to_string(options.LastAutoInc));
    if (options.NoBackup) Line("nobackup");
  }

  void Flags(const TDataQuery& query) {
    std::string text;
    auto flag = [&text](bool set, const char* name) {
      if (set) text += std::string(" ") + name;
    };
    flag(query.FHasWhere, "where");
    flag(query.FHasGroupBy, "group-by");
    flag(query.FHasHaving, "having");
    flag(query.FHasOrderBy, "order-by");
    flag(query.FHasJoin, "join");
    flag(query.FHasComputedColumn, "computed");
    if (!text.empty()) Line("has" + text);
  }

  std::string& FOut;
  std::map<const TDataQuery*, int> FNumbers;
};

// Parses every statement of the text and describes each.
std::string DescribeAll(const std::string& text) {
  TQueryStatement statement(nullptr);
  statement.Prepare(text);
  std::string out = DescribeStatement(statement);
  while (statement.HasMoreStatements()) {
    statement.PrepareNext();
    out += DescribeStatement(statement);
  }
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

void RunStatement(const TCaseBlock& block) {
  std::string sql = JoinLines(block.Input);
  try {
    EXPECT_EQ(JoinLines(block.Expected), DescribeAll(sql)) << sql;
  } catch (const EKuraEngineError& e) {
    ADD_FAILURE() << sql << "\nraised " << e.ErrorCode << " " << e.ErrorText;
  }
}

void RunStatementError(const TCaseBlock& block) {
  std::string sql = JoinLines(block.Input);
  try {
    std::string model = DescribeAll(sql);
    ADD_FAILURE() << sql << "\ngave " << model;
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ(JoinLines(block.Expected), std::to_string(e.ErrorCode) + " " + e.ErrorText) << sql;
  }
}

}  // namespace

std::string StatementHeader(TQueryStatement& statement) {
  // Parameters print with their number in text order.
  for (std::size_t i = 0; i < statement.FParams.size(); ++i) {
    statement.FParams[i]->FText = std::string("?").append(std::to_string(i + 1));
  }
  return std::string("statement ") + QueryKindName(statement.FStatementKind) + " params " +
         std::to_string(statement.FParamCount) + (statement.FSelectStar ? " star" : "") + "\n";
}

std::string DescribeStatement(TQueryStatement& statement) {
  std::string out = StatementHeader(statement);
  TQueryWriter writer(statement, out);
  for (const auto& query : statement.FQueries) writer.Write(*query);
  return out;
}

void AddStatementCases(TExpressionCaseRunner& runner) {
  runner.AddCaseKind("statement",
                     [](TExpressionCaseRunner&, const TCaseBlock& block) { RunStatement(block); });
  runner.AddCaseKind("statement_error", [](TExpressionCaseRunner&, const TCaseBlock& block) {
    RunStatementError(block);
  });
}

}  // namespace kura::testing
