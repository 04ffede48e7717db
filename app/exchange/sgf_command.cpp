#include "app/exchange/sgf_command.h"

#include <charconv>
#include <exception>

#include "app/collection/data_module.h"
#include "app/common/json_text.h"
#include "app/exchange/sgf_exchange.h"
#include "dataset/collection_text.h"
#include "dataset/query_provider.h"

namespace goramina {
namespace {

std::optional<int> ProblemNumber(const std::string& text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

TSgfProgress ProgressLines(std::ostream& out, const char* verb) {
  return [&out, verb](int done, int total, const std::string& item) {
    if (!item.empty())
      out << "[" << done + 1 << "/" << total << "] " << verb << " " << item << "\n";
    out.flush();
    return true;
  };
}

// The export's options after its target: --problem N and --json, in any order.
void ParseExportOptions(const std::vector<std::string>& arguments, TSgfCommand& command,
                        std::string& error) {
  if (arguments.size() < 2 || arguments[1].rfind("--", 0) == 0) {
    error = "--export-sgf needs one target and, optionally, --problem N and --json";
    return;
  }
  command.paths.emplace_back(arguments[1]);
  for (std::size_t i = 2; i < arguments.size(); ++i) {
    if (arguments[i] == "--json" && !command.json) {
      command.json = true;
    } else if (arguments[i] == "--problem" && i + 1 < arguments.size() && !command.problem) {
      command.problem = ProblemNumber(arguments[++i]);
      if (!command.problem) error = "--problem needs a problem number above 0";
    } else {
      error = "--export-sgf needs one target and, optionally, --problem N and --json";
    }
    if (!error.empty()) return;
  }
}

std::string OutcomeJson(const TImportOutcome& o) {
  std::string text = "{\"file\": " + JsonString(o.file) + ", \"tree\": " + std::to_string(o.tree) +
                     ", \"stored\": " + (o.stored ? "true" : "false");
  if (o.stored) {
    text += ", \"problem\": " + std::to_string(o.number) +
            ", \"rule\": " + JsonString(CorrectnessRuleName(o.rule)) +
            ", \"rule_text\": " + JsonString(CorrectnessRuleText(o.rule)) +
            ", \"swapped\": " + (o.swapped ? "true" : "false");
  } else {
    text += ", \"refusal\": {\"line\": " + std::to_string(o.line) +
            ", \"message\": " + JsonString(o.message) + "}";
  }
  return text + ", \"notes\": " + JsonStrings(o.notes) +
         ", \"warnings\": " + JsonStrings(o.warnings) + "}";
}

int RunImport(const TSgfCommand& command, const std::shared_ptr<kura::TMemoryDatabase>& database,
              const std::filesystem::path& collection, std::ostream& out, std::ostream& err) {
  TImportReport report;
  {
    TDataModule1 module(database);
    report = ImportSgf(module, command.paths, ProgressLines(command.json ? err : out, "読み込み"));
  }
  if (report.Stored() > 0) kura::SaveProblemCollection(*database, collection);
  const int code = report.Refused() == 0 ? kSgfDone : kSgfRefused;
  if (command.json)
    out << ImportReportJson(report, code);
  else
    out << ImportSummary(report) << "\n";
  return code;
}

}  // namespace

std::optional<TSgfCommand> ParseSgfCommand(const std::vector<std::string>& arguments,
                                           std::string& error) {
  if (arguments.empty()) return std::nullopt;
  TSgfCommand command;
  if (arguments[0] == "--import-sgf") {
    command.kind = TSgfCommand::TKind::Import;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      if (arguments[i] == "--json")
        command.json = true;
      else
        command.paths.emplace_back(arguments[i]);
    }
    if (command.paths.empty()) error = "--import-sgf needs a file or folder";
    return command;
  }
  if (arguments[0] == "--list-problems") {
    command.kind = TSgfCommand::TKind::List;
    command.json = arguments.size() == 2 && arguments[1] == "--json";
    if (arguments.size() > 2 || (arguments.size() == 2 && !command.json))
      error = "--list-problems takes only --json";
    return command;
  }
  if (arguments[0] != "--export-sgf") return std::nullopt;
  command.kind = TSgfCommand::TKind::Export;
  ParseExportOptions(arguments, command, error);
  return command;
}

std::string ImportReportJson(const TImportReport& report, int exitCode) {
  std::string text = "{\"exit_code\": " + std::to_string(exitCode) +
                     ", \"stored\": " + std::to_string(report.Stored()) +
                     ", \"refused\": " + std::to_string(report.Refused()) +
                     ", \"warned\": " + std::to_string(report.Warned()) +
                     ", \"stopped\": " + (report.stopped ? "true" : "false") +
                     ",\n \"outcomes\": [";
  for (std::size_t i = 0; i < report.outcomes.size(); ++i)
    text += (i == 0 ? "\n  " : ",\n  ") + OutcomeJson(report.outcomes[i]);
  return text + "]}\n";
}

std::string ExportReportJson(const TExportReport& report, int exitCode) {
  std::vector<std::string> files;
  for (const std::filesystem::path& f : report.files) files.push_back(f.string());
  return "{\"exit_code\": " + std::to_string(exitCode) +
         ", \"problems\": " + std::to_string(report.problems) +
         ", \"files\": " + JsonStrings(files) + ", \"notes\": " + JsonStrings(report.notes) + "}\n";
}

std::string ProblemListJson(const std::vector<TStoredProblem>& problems) {
  std::string text = "{\"problems\": [";
  for (std::size_t i = 0; i < problems.size(); ++i) {
    const TStoredProblem& p = problems[i];
    text += (i == 0 ? "\n  " : ",\n  ");
    text += "{\"problem\": " + std::to_string(p.HNB) + ", \"major\": " + JsonString(p.KB1) +
            ", \"minor\": " + JsonString(p.KB2) + ", \"mark\": " + JsonString(p.MRK) +
            ", \"comment\": " + JsonString(p.CMT) + "}";
  }
  return text + "]}\n";
}

std::string ProblemListText(const std::vector<TStoredProblem>& problems) {
  std::string text = "番号\t大分類\t小分類\t印\tコメント\n";
  for (const TStoredProblem& p : problems)
    text +=
        std::to_string(p.HNB) + "\t" + p.KB1 + "\t" + p.KB2 + "\t" + p.MRK + "\t" + p.CMT + "\n";
  return text;
}

int RunSgfCommand(const TSgfCommand& command, const std::filesystem::path& collection,
                  std::ostream& out, std::ostream& err) {
  std::shared_ptr<kura::TMemoryDatabase> database;
  try {
    database = kura::LoadProblemCollection(collection);
  } catch (const std::exception& e) {
    err << "goramina: 問題集「" << collection.string() << "」を開けません。\n" << e.what() << "\n";
    return kSgfFailed;
  }
  try {
    switch (command.kind) {
      case TSgfCommand::TKind::Import:
        return RunImport(command, database, collection, out, err);
      case TSgfCommand::TKind::Export: {
        TDataModule1 module(database);
        const TExportReport report = ExportSgf(module, command.paths.front(), command.problem,
                                               ProgressLines(command.json ? err : out, "書き出し"));
        if (command.json)
          out << ExportReportJson(report, kSgfDone);
        else
          out << ExportSummary(report) << "\n";
        return kSgfDone;
      }
      case TSgfCommand::TKind::List: {
        TDataModule1 module(database);
        const std::vector<TStoredProblem> problems = ReadProblems(module);
        out << (command.json ? ProblemListJson(problems) : ProblemListText(problems));
        return kSgfDone;
      }
    }
  } catch (const std::exception& e) {
    err << "goramina: " << e.what() << "\n";
  }
  return kSgfFailed;
}

}  // namespace goramina
