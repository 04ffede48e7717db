// The command-line side of SGF import and export, run without a window:
//
//   goramina --import-sgf FILE_OR_FOLDER... [--json]     imports into ./DBgoramina
//   goramina --export-sgf TARGET [--problem N] [--json]  TARGET a folder (one file per
//                                                        problem) or a file ending in .sgf
//   goramina --list-problems [--json]                    lists the problems of ./DBgoramina
//
// Progress goes to `out` one line per file or problem, then the summary; with --json the
// progress goes to `err` and `out` gets one JSON document. The collection is saved when the
// import stored anything. Exit codes: kSgfDone, kSgfRefused, kSgfFailed.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace goramina {

inline constexpr int kSgfDone = 0;     // everything imported, exported or listed
inline constexpr int kSgfRefused = 1;  // a game tree or file refused
inline constexpr int kSgfFailed = 2;   // a usage error, or the collection or a file unusable

struct TSgfCommand {
  enum class TKind { Import, Export, List } kind = TKind::Import;
  std::vector<std::filesystem::path> paths;  // import: the files and folders; export: the target
  std::optional<int> problem;                // export: only this problem
  bool json = false;                         // one JSON document for scripts
};

// Reads the SGF options from the arguments after the program name. Answers nullopt when the
// arguments name no SGF command; sets `error` when they do but are wrong.
std::optional<TSgfCommand> ParseSgfCommand(const std::vector<std::string>& arguments,
                                           std::string& error);

// Runs the command on the collection folder: loads it, imports, exports or lists through a data
// module, writes the collection back after an import that stored something. Answers one of the
// exit codes above.
int RunSgfCommand(const TSgfCommand& command, const std::filesystem::path& collection,
                  std::ostream& out, std::ostream& err);

// The usage lines of the SGF options.
inline constexpr const char* kSgfUsage =
    "       goramina --import-sgf FILE_OR_FOLDER... [--json]\n"
    "       goramina --export-sgf FOLDER_OR_FILE.sgf [--problem N] [--json]\n"
    "       goramina --list-problems [--json]\n";

// The import report, the export report and the problem list as JSON documents.
struct TImportReport;
struct TExportReport;
struct TStoredProblem;
std::string ImportReportJson(const TImportReport& report, int exitCode);
std::string ExportReportJson(const TExportReport& report, int exitCode);
std::string ProblemListJson(const std::vector<TStoredProblem>& problems);
std::string ProblemListText(const std::vector<TStoredProblem>& problems);

}  // namespace goramina
