#include "app/sgf_command.h"

#include <charconv>
#include <exception>

#include "app/data_module.h"
#include "app/sgf_exchange.h"
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

}  // namespace

std::optional<TSgfCommand> ParseSgfCommand(const std::vector<std::string>& arguments,
                                           std::string& error) {
  if (arguments.empty()) return std::nullopt;
  TSgfCommand command;
  if (arguments[0] == "--import-sgf") {
    command.kind = TSgfCommand::TKind::Import;
    for (std::size_t i = 1; i < arguments.size(); ++i) command.paths.emplace_back(arguments[i]);
    if (command.paths.empty()) error = "--import-sgf needs a file or folder";
    return command;
  }
  if (arguments[0] != "--export-sgf") return std::nullopt;
  command.kind = TSgfCommand::TKind::Export;
  if (arguments.size() != 2 && arguments.size() != 4) {
    error = "--export-sgf needs one target and, optionally, --problem N";
    return command;
  }
  command.paths.emplace_back(arguments[1]);
  if (arguments.size() == 4) {
    command.problem = arguments[2] == "--problem" ? ProblemNumber(arguments[3]) : std::nullopt;
    if (!command.problem) error = "--problem needs a problem number above 0";
  }
  return command;
}

int RunSgfCommand(const TSgfCommand& command, const std::filesystem::path& collection,
                  std::ostream& out, std::ostream& err) {
  std::shared_ptr<kura::TMemoryDatabase> database;
  try {
    database = kura::LoadProblemCollection(collection);
  } catch (const std::exception& e) {
    err << "goramina: 問題集「" << collection.string() << "」を開けません。\n" << e.what() << "\n";
    return 1;
  }
  try {
    if (command.kind == TSgfCommand::TKind::Export) {
      TDataModule1 module(database);
      const TExportReport report =
          ExportSgf(module, command.paths.front(), command.problem, ProgressLines(out, "書き出し"));
      out << ExportSummary(report) << "\n";
      return 0;
    }
    TImportReport report;
    {
      TDataModule1 module(database);
      report = ImportSgf(module, command.paths, ProgressLines(out, "読み込み"));
    }
    out << ImportSummary(report) << "\n";
    if (report.Stored() > 0) kura::SaveProblemCollection(*database, collection);
    return report.Refused() == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    err << "goramina: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace goramina
