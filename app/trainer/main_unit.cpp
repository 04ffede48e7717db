#include "app/trainer/main_unit.h"

#include <stdexcept>

#include "app/board/board.h"
#include "app/collection/data_module.h"
#include "app/trainer/trainer_rows.h"

namespace goramina {

std::int32_t ScreenKind = 1;
std::int32_t PlayMode = 1;
std::int32_t CurrentProblem = 0;
std::int32_t HintShown = 0;
std::array<TContinuation, kMaxContinuations + 1> Continuations{};

namespace {

TToolkit* toolkit = nullptr;
TDataModule1* dataModule = nullptr;

}  // namespace

void SetMainUnit(TToolkit* newToolkit, TDataModule1* newDataModule, TBoardView* view) {
  if (dataModule != nullptr) {
    dataModule->KuraQuery1.BeforeScroll = nullptr;
    dataModule->KuraQuery1.BeforePost = nullptr;
  }
  toolkit = newToolkit;
  dataModule = newDataModule;
  SetBoardView(view);
  if (dataModule != nullptr) {
    // The hint stands in the problem row as an unposted edit: it is dropped before the row
    // changes or the list closes, and kept out of any post of that row. A half-typed new row
    // of 登録要求 is dropped too: moving off it must not store it.
    dataModule->KuraQuery1.BeforeScroll = [] {
      CancelHint();
      AbandonNewProblemRow();
    };
    dataModule->KuraQuery1.BeforePost = [] { ForgetHintBeforePost(); };
  }
}

TToolkit& Toolkit() {
  if (toolkit == nullptr) throw std::logic_error("The main unit has no toolkit");
  return *toolkit;
}

TToolkit* ToolkitOrNull() {
  return toolkit;
}

TDataModule1& DataModule1() {
  if (dataModule == nullptr) throw std::logic_error("The main unit has no data module");
  return *dataModule;
}

}  // namespace goramina
