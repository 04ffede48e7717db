// app/collection — the problem collection as the application reaches it: the data module's
// query datasets on the mondai and tejun tables, the texts of the selectors and the edge between
// the tables' code page 932 and the UTF-8 the window shows. Every folder that reads or stores
// problems goes through here.
//
// The data module: the four query datasets through which the application reads and changes
// its two tables, the routines that issue their queries, and the data work of the list
// buttons and the mark selector.
//
//   KuraQuery1 / DataSource1: the problem list (mondai); its current row is the selected problem
//   KuraQuery2 / DataSource2: the rows of the loaded problem (tejun); its cursor is the
//                             position in the sequence tree
//   KuraQuery3 / DataSource3: finding the smallest free sequence label
//   KuraQuery4 / DataSource4: finding the smallest free problem number
//
// Fields are addressed by position in the result of "Select *":
//   mondai: 0 MNB, 1 HNB, 2 KB1, 3 KB2, 4 MRK, 5 CMT, 6 HNT
//   tejun:  0 TNB, 1 HNB, 2 TES, 3 COL, 4 PST, 5 BFR, 6 BTO, 7 CMT
// Texts passed in and out of the routines here are UTF-8; the tables hold code page 932.
// Errors raised by a query (a missing table, say) pass through uncaught.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "dataset/data_source.h"
#include "dataset/kura_query.h"
#include "dataset/memory_database.h"

namespace goramina {

// Field positions of the two tables.
namespace mondai {
inline constexpr int kMNB = 0, kHNB = 1, kKB1 = 2, kKB2 = 3, kMRK = 4, kCMT = 5, kHNT = 6;
}
namespace tejun {
inline constexpr int kTNB = 0, kHNB = 1, kTES = 2, kCOL = 3, kPST = 4, kBFR = 5, kBTO = 6, kCMT = 7;
}

// The database the queries name.
inline constexpr std::string_view kDatabaseName = "DBgoramina";
// List conditions: at start-up and after registering, and for 全問表示.
inline constexpr std::string_view kRegisteredProblems = "Where HNB > 0";
inline constexpr std::string_view kListedProblems = "Where MNB > 0";

class TDataModule1 {
 public:
  // With a provider, every query runs on it; without, they resolve "DBgoramina" among the
  // registered databases when they open.
  explicit TDataModule1(std::shared_ptr<kura::TQueryProvider> provider = nullptr);
  // Closes the four queries.
  ~TDataModule1();
  TDataModule1(const TDataModule1&) = delete;
  TDataModule1& operator=(const TDataModule1&) = delete;

  // Closes the four queries (at shutdown).
  void DataModuleDestroy();

  // KuraQuery1: Select * From mondai <condition> Order By HNB; cursor on the first row.
  void OpenProblemList(std::string_view condition);
  // KuraQuery4: the problems listed by 全問表示, in HNB order.
  void OpenFreeNumberList();
  // KuraQuery1: problems whose categories match; 全て in a selector matches anything.
  void SearchProblems(std::string_view major, std::string_view minor);
  // KuraQuery2: every tejun row of the problem, in the order they were appended.
  void OpenSequences(int problem);
  // The smallest sequence label 1, 2, 3, ... the problem does not use yet.
  int SmallestFreeLabel(int problem);
  // The smallest problem number 1, 2, 3, ... not in the full list.
  int SmallestFreeProblem();
  // Whether a stored problem row already carries this number (a row still being appended
  // does not count). Uses KuraQuery4 and leaves it closed.
  bool ProblemNumberInUse(int problem);
  // Rewrites MNB of the problem list as 1..n down the list.
  void RenumberProblems();

  kura::TKuraQuery KuraQuery1;
  kura::TKuraQuery KuraQuery2;
  kura::TKuraQuery KuraQuery3;
  kura::TKuraQuery KuraQuery4;
  kura::TDataSource DataSource1;
  kura::TDataSource DataSource2;
  kura::TDataSource DataSource3;
  kura::TDataSource DataSource4;
};

// 全問表示: list every problem and number the list. The window selects item 0 (全て) of both
// category selectors itself.
void ShowAllProblems(TDataModule1& module);

// 問題検索: search by the two category selectors and number the list. A selector with no
// selected item (index -1) counts as item 0 (全て), as the window selects it.
void SearchBySelectors(TDataModule1& module, int majorIndex, std::string_view majorText,
                       int minorIndex, std::string_view minorText);

// Mark selector changed: store its text as the current problem's mark (なし as empty). The new
// row of a problem being registered only takes the mark; 問題登録 stores it.
void StoreMark(TDataModule1& module, std::string_view markText);

// Loads the collection's text form from `folder` and registers it as "DBgoramina".
std::shared_ptr<kura::TMemoryDatabase> InstallCollection(const std::filesystem::path& folder);

}  // namespace goramina
