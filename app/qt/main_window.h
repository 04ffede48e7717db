// app/qt — the Qt side: the toolkit on a real Qt 6 window, the data-aware grid and edits, the
// push-button faces, the main window assembled from app/window, the program's entry point and
// the board demo. The only folder of the application that includes Qt.
//
// The trainer's main window assembled on Qt: the toolkit with its data-aware controls bound to
// the data module, the board view, the unit's environment, the form and its handlers. The
// program and its window tests both start the window through this.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <memory>
#include <string>

#include "app/board/board_view.h"
#include "app/qt/main_window_toolkit.h"

namespace goramina {

class TDataModule1;

class TMainWindow {
 public:
  // Builds the window on `module` (which must outlive it). `programDir`, ending with a path
  // separator, is where the stone pictures, sounds and help page lie; empty means the
  // executable's directory. The unit's environment points at this window until it is destroyed.
  explicit TMainWindow(TDataModule1& module, std::string programDir = {});
  ~TMainWindow();
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  TMainWindowToolkit& Toolkit() { return toolkit_; }

  // Shows the window, runs the first-show start-up (the first problem is drawn) and lets Qt
  // paint, without entering the event loop.
  void ShowAndStart();
  // Shows the window and runs the event loop until the program ends; answers the exit code.
  int Run();
  // The whole window as drawn now: menu bar, client area and status bar.
  QImage Grab() const;

 private:
  TMainWindowToolkit toolkit_;
  std::unique_ptr<TBoardView> view_;
};

}  // namespace goramina
