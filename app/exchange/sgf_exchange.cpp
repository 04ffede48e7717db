#include "app/exchange/sgf_exchange.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "app/collection/data_module.h"
#include "app/exchange/sgf_reader.h"
#include "app/exchange/sgf_writer.h"
#include "dataset/cp932.h"

namespace goramina {
namespace fs = std::filesystem;
namespace {

constexpr int kSetUpLabel = 1;
constexpr const char* kUnmappableNote = "コード932で表せない文字を「?」に置き換えました";

// UTF-8 text as the tables keep it; `lossy` is set when a character had to become "?".
std::string TableText(const std::string& utf8, bool& lossy) {
  if (std::optional<std::string> exact = kura::TryUtf8ToCp932(utf8)) return *exact;
  lossy = true;
  return kura::Utf8ToCp932(utf8);
}

bool IsSgfFile(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".sgf";
}

std::string ReadBytes(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) throw ESgfError(0, "ファイルを読めません（" + error.message() + "）");
  if (size > kMaxSgfFileBytes) throw ESgfError(0, "ファイルが大きすぎます");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ESgfError(0, "ファイルを開けません");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw ESgfError(0, "ファイルを読めません");
  return bytes.str();
}

// The smallest number free both in the problem list and among the stored moves.
int FreeNumber(TDataModule1& module) {
  int number = module.SmallestFreeProblem();
  while (module.ProblemNumberInUse(number) || module.SmallestFreeLabel(number) != kSetUpLabel)
    ++number;
  return number;
}

void SetText(kura::TKuraQuery& query, int field, const std::string& utf8, bool& lossy) {
  query.Fields(field).SetAsString(TableText(utf8, lossy));
}

// Removes what StoreProblem wrote of problem `number` after a failure. Each step is tried on
// its own: the failure that brought us here may stop one of them too.
void RemoveProblem(TDataModule1& module, int number) {
  try {
    module.KuraQuery2.Cancel();
    module.OpenSequences(number);
    module.KuraQuery2.First();
    while (!module.KuraQuery2.IsEmpty()) module.KuraQuery2.Delete();
  } catch (...) {
  }
  try {
    module.KuraQuery1.Cancel();
    module.OpenProblemList(kRegisteredProblems);
    if (module.KuraQuery1.Locate("HNB", static_cast<std::int64_t>(number)))
      module.KuraQuery1.Delete();
  } catch (...) {
  }
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw std::runtime_error("「" + path.string() + "」に書き込めません");
    }
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    throw std::runtime_error("「" + path.string() + "」に書き込めません");
  }
}

std::string FileName(int number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return "problem-" + digits + ".sgf";
}

TImportOutcome Refusal(const std::string& file, int tree, int line, const std::string& message) {
  TImportOutcome outcome;
  outcome.file = file;
  outcome.tree = tree;
  outcome.line = line;
  outcome.message = message;
  return outcome;
}

bool Continue(const TSgfProgress& progress, int done, int total, const std::string& item) {
  return !progress || progress(done, total, item);
}

}  // namespace

int TImportReport::Stored() const {
  return static_cast<int>(std::count_if(outcomes.begin(), outcomes.end(),
                                        [](const TImportOutcome& o) { return o.stored; }));
}

int TImportReport::Warned() const {
  return static_cast<int>(
      std::count_if(outcomes.begin(), outcomes.end(),
                    [](const TImportOutcome& o) { return o.stored && !o.warnings.empty(); }));
}

int TImportReport::Refused() const {
  return static_cast<int>(outcomes.size()) - Stored();
}

std::vector<int> TImportReport::Numbers() const {
  std::vector<int> numbers;
  for (const TImportOutcome& o : outcomes)
    if (o.stored) numbers.push_back(o.number);
  return numbers;
}

std::vector<fs::path> FindSgfFiles(const std::vector<fs::path>& inputs, TImportReport& report) {
  std::vector<fs::path> files;
  for (const fs::path& input : inputs) {
    std::error_code error;
    if (fs::is_directory(input, error)) {
      std::vector<fs::path> found;
      for (fs::recursive_directory_iterator it(input, error), end; !error && it != end;
           it.increment(error)) {
        if (it->is_regular_file(error) && IsSgfFile(it->path())) found.push_back(it->path());
      }
      if (error)
        report.outcomes.push_back(
            Refusal(input.string(), 0, 0, "フォルダを読めません（" + error.message() + "）"));
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else if (fs::exists(input, error)) {
      files.push_back(input);
    } else {
      report.outcomes.push_back(Refusal(input.string(), 0, 0, "ファイルがありません"));
    }
  }
  return files;
}

int StoreProblem(TDataModule1& module, const TStoredProblem& problem) {
  const int number = FreeNumber(module);
  bool lossy = false;
  kura::TKuraQuery& problems = module.KuraQuery1;
  kura::TKuraQuery& moves = module.KuraQuery2;
  module.OpenProblemList(kRegisteredProblems);
  problems.Append();
  problems.Fields(mondai::kMNB).SetAsInteger(number);  // renumbered when the list reopens
  problems.Fields(mondai::kHNB).SetAsInteger(number);
  try {
    SetText(problems, mondai::kKB1, problem.KB1, lossy);
    SetText(problems, mondai::kKB2, problem.KB2, lossy);
    SetText(problems, mondai::kMRK, problem.MRK, lossy);
    SetText(problems, mondai::kCMT, problem.CMT, lossy);
    SetText(problems, mondai::kHNT, problem.HNT, lossy);
    problems.Post();
    module.OpenSequences(number);
    int tnb = 0;
    for (const TStoredRow& row : problem.rows) {
      moves.Append();
      moves.Fields(tejun::kTNB).SetAsInteger(++tnb);
      moves.Fields(tejun::kHNB).SetAsInteger(number);
      moves.Fields(tejun::kTES).SetAsInteger(row.TES);
      moves.Fields(tejun::kCOL).SetAsInteger(row.COL);
      moves.Fields(tejun::kPST).SetAsInteger(row.PST);
      moves.Fields(tejun::kBFR).SetAsInteger(row.BFR);
      moves.Fields(tejun::kBTO).SetAsInteger(row.BTO);
      SetText(moves, tejun::kCMT, row.CMT, lossy);
    }
    moves.CheckBrowseMode();
  } catch (...) {
    RemoveProblem(module, number);
    throw;
  }
  (void)lossy;
  return number;
}

void ImportSgfBytes(TDataModule1& module, std::string_view bytes, const std::string& name,
                    TImportReport& report) {
  TSgfCollection collection;
  try {
    collection = ReadSgf(bytes);
  } catch (const ESgfError& e) {
    report.outcomes.push_back(Refusal(name, 0, e.Line(), e.what()));
    return;
  }
  int index = 0;
  const std::string stem = fs::path(name).stem().string();
  const bool several = collection.trees.size() > 1;
  for (const auto& tree : collection.trees) {
    TImportOutcome outcome = Refusal(name, ++index, tree->line, "");
    const std::string title = several ? stem + "（" + std::to_string(index) + "）" : stem;
    try {
      TImportedProblem imported = ProblemFromSgf(*tree, title);
      bool lossy = false;
      TableText(imported.problem.CMT, lossy);
      for (const TStoredRow& row : imported.problem.rows) TableText(row.CMT, lossy);
      outcome.number = StoreProblem(module, imported.problem);
      outcome.stored = true;
      outcome.line = 0;
      outcome.rule = imported.rule;
      outcome.swapped = imported.swapped;
      outcome.notes = std::move(imported.notes);
      outcome.warnings = std::move(imported.warnings);
      if (lossy) outcome.notes.push_back(kUnmappableNote);
    } catch (const ESgfError& e) {
      outcome.line = e.Line();
      outcome.message = e.what();
    } catch (const std::exception& e) {
      outcome.message = std::string("保存できません：") + e.what();
    }
    report.outcomes.push_back(std::move(outcome));
  }
}

TImportReport ImportSgf(TDataModule1& module, const std::vector<fs::path>& inputs,
                        const TSgfProgress& progress) {
  TImportReport report;
  const std::vector<fs::path> files = FindSgfFiles(inputs, report);
  const int total = static_cast<int>(files.size());
  for (int done = 0; done < total; ++done) {
    const fs::path& file = files[static_cast<std::size_t>(done)];
    if (!Continue(progress, done, total, file.string())) {
      report.stopped = true;
      break;
    }
    std::string bytes;
    try {
      bytes = ReadBytes(file);
    } catch (const ESgfError& e) {
      report.outcomes.push_back(Refusal(file.string(), 0, 0, e.what()));
      continue;
    }
    ImportSgfBytes(module, bytes, file.string(), report);
  }
  if (!report.stopped) Continue(progress, total, total, "");
  module.OpenProblemList(kRegisteredProblems);
  module.RenumberProblems();
  module.KuraQuery1.First();
  return report;
}

std::vector<TStoredProblem> ReadProblems(TDataModule1& module, std::optional<int> only) {
  std::vector<TStoredProblem> problems;
  kura::TKuraQuery& list = module.KuraQuery1;
  module.OpenProblemList(kRegisteredProblems);
  for (list.First(); !list.Eof(); list.Next()) {
    TStoredProblem p;
    p.HNB = static_cast<int>(list.Fields(mondai::kHNB).AsInteger());
    if (only && p.HNB != *only) continue;
    p.KB1 = kura::Cp932ToUtf8(list.Fields(mondai::kKB1).AsString());
    p.KB2 = kura::Cp932ToUtf8(list.Fields(mondai::kKB2).AsString());
    p.MRK = kura::Cp932ToUtf8(list.Fields(mondai::kMRK).AsString());
    p.CMT = kura::Cp932ToUtf8(list.Fields(mondai::kCMT).AsString());
    p.HNT = kura::Cp932ToUtf8(list.Fields(mondai::kHNT).AsString());
    problems.push_back(std::move(p));
  }
  kura::TKuraQuery& moves = module.KuraQuery2;
  for (TStoredProblem& p : problems) {
    module.OpenSequences(p.HNB);
    for (moves.First(); !moves.Eof(); moves.Next()) {
      TStoredRow row;
      row.TES = static_cast<int>(moves.Fields(tejun::kTES).AsInteger());
      row.COL = static_cast<int>(moves.Fields(tejun::kCOL).AsInteger());
      row.PST = static_cast<int>(moves.Fields(tejun::kPST).AsInteger());
      row.BFR = static_cast<int>(moves.Fields(tejun::kBFR).AsInteger());
      row.BTO = static_cast<int>(moves.Fields(tejun::kBTO).AsInteger());
      row.CMT = kura::Cp932ToUtf8(moves.Fields(tejun::kCMT).AsString());
      p.rows.push_back(std::move(row));
    }
  }
  return problems;
}

std::string ProblemsAsSgf(const std::vector<TStoredProblem>& problems,
                          std::vector<std::string>* notes) {
  TSgfCollection collection;
  for (const TStoredProblem& p : problems) {
    std::vector<std::string> own;
    collection.trees.push_back(SgfFromProblem(p, &own));
    if (notes != nullptr)
      for (const std::string& note : own)
        notes->push_back("問題 " + std::to_string(p.HNB) + "：" + note);
  }
  return WriteSgf(collection);
}

TExportReport ExportSgf(TDataModule1& module, const fs::path& target, std::optional<int> only,
                        const TSgfProgress& progress) {
  TExportReport report;
  const std::vector<TStoredProblem> problems = ReadProblems(module, only);
  if (only && problems.empty())
    throw std::runtime_error("問題 " + std::to_string(*only) + " はありません");
  const int total = static_cast<int>(problems.size());
  if (IsSgfFile(target)) {
    if (!Continue(progress, 0, 1, target.string())) {
      report.stopped = true;
      return report;
    }
    WriteFile(target, ProblemsAsSgf(problems, &report.notes));
    report.files.push_back(target);
    report.problems = total;
    Continue(progress, 1, 1, "");
    return report;
  }
  std::error_code error;
  fs::create_directories(target, error);
  if (error) throw std::runtime_error("フォルダ「" + target.string() + "」を作れません");
  for (int done = 0; done < total; ++done) {
    const TStoredProblem& p = problems[static_cast<std::size_t>(done)];
    const fs::path file = target / FileName(p.HNB);
    if (!Continue(progress, done, total, file.string())) {
      report.stopped = true;
      return report;
    }
    WriteFile(file, ProblemsAsSgf({p}, &report.notes));
    report.files.push_back(file);
    ++report.problems;
  }
  Continue(progress, total, total, "");
  return report;
}

std::string DescribeOutcome(const TImportOutcome& o) {
  std::string where = o.file;
  if (o.tree > 0) where += "（" + std::to_string(o.tree) + " 問目）";
  if (!o.stored) {
    std::string text = "取り込まず：" + where;
    if (o.line > 0) text += " " + std::to_string(o.line) + " 行目";
    return text + "：" + o.message;
  }
  std::string text = "取り込み：" + where + " → 問題 " + std::to_string(o.number) + "（" +
                     CorrectnessRuleText(o.rule) + "）";
  if (o.swapped) text += std::string("（") + kSwappedNote + "）";
  for (const std::string& note : o.notes) text += "（" + note + "）";
  for (const std::string& warning : o.warnings) text += "（注意：" + warning + "）";
  return text;
}

std::string ImportSummary(const TImportReport& report) {
  std::string text = "SGF読み込み：" + std::to_string(report.Stored()) + " 問を取り込みました。";
  if (report.Refused() > 0)
    text += "取り込めなかったもの " + std::to_string(report.Refused()) + " 件。";
  if (report.Warned() > 0) text += "注意のあるもの " + std::to_string(report.Warned()) + " 問。";
  if (report.stopped) text += "途中で中止しました。";
  for (const TImportOutcome& o : report.outcomes) {
    text += '\n';
    text += DescribeOutcome(o);
  }
  return text;
}

std::string ExportSummary(const TExportReport& report) {
  std::string text = "SGF書き出し：" + std::to_string(report.problems) + " 問を " +
                     std::to_string(report.files.size()) + " 個のファイルに書き出しました。";
  if (report.stopped) text += "途中で中止しました。";
  for (const fs::path& file : report.files) {
    text += '\n';
    text += file.string();
  }
  for (const std::string& note : report.notes) {
    text += "\n注意：";
    text += note;
  }
  return text;
}

}  // namespace goramina
