// app/exchange — SGF exchange: the SGF reader and writer, the conversion of one problem to and from
// a game tree (checking every stored line against the rules of app/go), the import into the
// collection and the export from it, and the command-line options that run them without a
// window. It stands on app/go and app/collection only.
//
// SGF import into the collection and export from it, through the data module's queries as the
// editor itself uses them: problems are read from the problem list and the sequence query, and
// stored by appending a problem row and its rows, the number being the smallest free one as
// 問題登録 offers it. No window: the menu and the command line report progress and results.
//
// Import is all or nothing per problem: a game tree is converted and checked whole before a
// row is written, and a failure while writing removes what was written of that problem.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/exchange/sgf_problem.h"

namespace goramina {

class TDataModule1;

// Called before each file (import) or problem (export): the number done so far, the number in
// all, and what comes next. Answering false stops the work there (what is done stays done).
using TSgfProgress = std::function<bool(int done, int total, const std::string& item)>;

// What happened to one game tree, or to a whole file that could not be read.
struct TImportOutcome {
  std::string file;  // the path as given or found
  int tree = 0;      // 1-based game tree in the file; 0 for the file as a whole
  int line = 0;      // the line a refusal names; 0 for none
  bool stored = false;
  int number = 0;       // HNB given to the stored problem
  std::string message;  // why it was refused
  TCorrectnessRule rule = TCorrectnessRule::MainLine;
  bool swapped = false;
  std::vector<std::string> notes;
  std::vector<std::string> warnings;  // what of the file was left out
};

struct TImportReport {
  std::vector<TImportOutcome> outcomes;
  bool stopped = false;  // the progress callback asked to stop
  int Stored() const;
  int Refused() const;
  int Warned() const;  // stored with warnings
  // Numbers of the stored problems, in order.
  std::vector<int> Numbers() const;
};

// The .sgf files named or found (recursively, in name order) in the folders named. A path that
// does not exist is reported as a refused file.
std::vector<std::filesystem::path> FindSgfFiles(const std::vector<std::filesystem::path>& inputs,
                                                TImportReport& report);

// Imports every game tree of every file. The problem list is reopened and renumbered at the end.
TImportReport ImportSgf(TDataModule1& module, const std::vector<std::filesystem::path>& inputs,
                        const TSgfProgress& progress = {});

// Imports the game trees of SGF bytes; `name` names them in the report.
void ImportSgfBytes(TDataModule1& module, std::string_view bytes, const std::string& name,
                    TImportReport& report);

// Stores one problem under the smallest free number and answers the number. All or nothing:
// an error while writing removes the rows written and passes on.
int StoreProblem(TDataModule1& module, const TStoredProblem& problem);

// The problems of the collection in number order (only problem `only` when given), read through
// the problem list and the sequence query. Leaves the sequence query on the last one read.
std::vector<TStoredProblem> ReadProblems(TDataModule1& module, std::optional<int> only = {});

struct TExportReport {
  std::vector<std::filesystem::path> files;
  int problems = 0;
  std::vector<std::string> notes;
  bool stopped = false;
};

// Writes the problems (only `only` when given) as SGF: to one collection file when `target`
// ends in ".sgf", otherwise into the folder `target` (created when missing), one file per
// problem named problem-<number>.sgf. Each file is written beside and renamed into place.
// Raises std::runtime_error with a Japanese message naming the file when writing fails, and
// when `only` names no problem.
TExportReport ExportSgf(TDataModule1& module, const std::filesystem::path& target,
                        std::optional<int> only = {}, const TSgfProgress& progress = {});

// The collection text of the problems as one SGF collection.
std::string ProblemsAsSgf(const std::vector<TStoredProblem>& problems,
                          std::vector<std::string>* notes = nullptr);

// Japanese lines for the user: one per outcome, and the summary line first.
std::string DescribeOutcome(const TImportOutcome& outcome);
std::string ImportSummary(const TImportReport& report);
std::string ExportSummary(const TExportReport& report);

}  // namespace goramina
