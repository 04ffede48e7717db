#include "app/collection/data_module.h"

#include "app/collection/selector_vocabulary.h"
#include "dataset/collection_text.h"
#include "dataset/cp932.h"

namespace goramina {
namespace {

// The property values every query of the module carries. The texts stored with the module
// are replaced before any query opens.
void SetUp(kura::TKuraQuery& query, kura::TDataSource& source, std::string_view storedText,
           const std::shared_ptr<kura::TQueryProvider>& provider) {
  query.SetDatabaseName(kDatabaseName);
  query.SetRequestLive(true);
  query.SetMaxRowCount(-1);
  query.SetAutoDisplayLabels(false);
  query.SetCopyOnAppend(false);
  query.BeginLoading();
  query.SQL().Add(storedText);
  query.EndLoading();
  if (provider) query.SetProvider(provider);
  source.SetDataSet(&query);
}

void ReplaceText(kura::TKuraQuery& query, std::initializer_list<std::string_view> lines) {
  query.Close();
  query.SQL().Clear();
  for (std::string_view line : lines) query.SQL().Add(line);
}

}  // namespace

TDataModule1::TDataModule1(std::shared_ptr<kura::TQueryProvider> provider) {
  SetUp(KuraQuery1, DataSource1, "select * from mondai", provider);
  SetUp(KuraQuery2, DataSource2, "select * from tejun", provider);
  SetUp(KuraQuery3, DataSource3, "select * from tejun ", provider);
  SetUp(KuraQuery4, DataSource4, "select * from temazu", provider);
}

TDataModule1::~TDataModule1() {
  DataModuleDestroy();
}

void TDataModule1::DataModuleDestroy() {
  KuraQuery1.Close();
  KuraQuery2.Close();
  KuraQuery3.Close();
  KuraQuery4.Close();
}

void TDataModule1::OpenProblemList(std::string_view condition) {
  ReplaceText(KuraQuery1, {"Select *", "From mondai", condition, "Order By HNB"});
  KuraQuery1.Open();
}

void TDataModule1::OpenFreeNumberList() {
  ReplaceText(KuraQuery4, {"Select *", "From mondai", kListedProblems, "Order By HNB"});
  KuraQuery4.Open();
}

void TDataModule1::SearchProblems(std::string_view major, std::string_view minor) {
  ReplaceText(KuraQuery1, {"Select *", "From mondai"});
  kura::TSqlLines& sql = KuraQuery1.SQL();
  const bool any_major = major == kAnyCategory;
  const bool any_minor = minor == kAnyCategory;
  if (any_major && any_minor) {
    sql.Add(kListedProblems);
  } else if (any_major) {
    sql.Add("Where KB2 = :KB2");
    KuraQuery1.Params()[0].SetAsString(kura::Utf8ToCp932(minor));
  } else if (any_minor) {
    sql.Add("Where KB1 = :KB1");
    KuraQuery1.Params()[0].SetAsString(kura::Utf8ToCp932(major));
  } else {
    sql.Add("Where (KB1 = :KB1) and (KB2 = :KB2)");
    KuraQuery1.Params()[0].SetAsString(kura::Utf8ToCp932(major));
    KuraQuery1.Params()[1].SetAsString(kura::Utf8ToCp932(minor));
  }
  sql.Add("Order By HNB");
  KuraQuery1.Open();
}

void TDataModule1::OpenSequences(int problem) {
  ReplaceText(KuraQuery2, {"Select *", "From tejun", "Where HNB = :HNB"});
  KuraQuery2.Params()[0].SetAsInteger(problem);
  KuraQuery2.Open();
}

int TDataModule1::SmallestFreeLabel(int problem) {
  ReplaceText(KuraQuery3,
              {"Select *", "From tejun", "Where (HNB = :HNB) and (BFR > 0) order by BFR"});
  KuraQuery3.Params()[0].SetAsInteger(problem);
  KuraQuery3.Open();
  int label = 1;
  for (; !KuraQuery3.Eof(); KuraQuery3.Next()) {
    const int used = KuraQuery3.Fields(tejun::kBFR).AsInteger();
    // A label carried twice must not end the scan early: it would answer a label in use.
    if (used < label) continue;
    if (used != label) return label;  // the query stays open, as the caller expects
    ++label;
  }
  KuraQuery3.Close();
  return label;
}

int TDataModule1::SmallestFreeProblem() {
  OpenFreeNumberList();
  int number = 1;
  // Numbers below the one sought (0, or a number listed twice) are passed over rather than
  // taken for a gap.
  for (; !KuraQuery4.Eof(); KuraQuery4.Next()) {
    const int listed = KuraQuery4.Fields(mondai::kHNB).AsInteger();
    if (listed < number) continue;
    if (listed != number) break;
    ++number;
  }
  return number;
}

bool TDataModule1::ProblemNumberInUse(int problem) {
  ReplaceText(KuraQuery4, {"Select *", "From mondai", "Where HNB = :HNB"});
  KuraQuery4.Params()[0].SetAsInteger(problem);
  KuraQuery4.Open();
  const bool used = !KuraQuery4.IsEmpty();
  KuraQuery4.Close();
  return used;
}

void TDataModule1::RenumberProblems() {
  KuraQuery1.First();
  for (int position = 1; !KuraQuery1.Eof(); ++position) {
    KuraQuery1.Edit();
    KuraQuery1.Fields(mondai::kMNB).SetAsInteger(position);
    KuraQuery1.Next();  // moving on posts the edit
  }
}

void ShowAllProblems(TDataModule1& module) {
  module.OpenProblemList(kListedProblems);
  module.RenumberProblems();
  module.KuraQuery1.First();
}

void SearchBySelectors(TDataModule1& module, int majorIndex, std::string_view majorText,
                       int minorIndex, std::string_view minorText) {
  if (majorIndex < 0) majorText = kMajorCategories[0];
  if (minorIndex < 0) minorText = kMinorCategories[0];
  module.SearchProblems(majorText, minorText);
  module.RenumberProblems();
  module.KuraQuery1.First();
}

void StoreMark(TDataModule1& module, std::string_view markText) {
  module.KuraQuery1.Edit();
  module.KuraQuery1.Fields(mondai::kMRK)
      .SetAsString(markText == kNoMark ? std::string() : kura::Utf8ToCp932(markText));
  // A new row being appended waits for 問題登録; only a stored problem's mark is posted here.
  if (module.KuraQuery1.State() == kura::TDataSetState::dsInsert) return;
  module.KuraQuery1.Post();
}

std::shared_ptr<kura::TMemoryDatabase> InstallCollection(const std::filesystem::path& folder) {
  std::shared_ptr<kura::TMemoryDatabase> database = kura::LoadProblemCollection(folder);
  kura::RegisterDatabase(kDatabaseName, database);
  return database;
}

}  // namespace goramina
