#include "app/qt/main_window.h"

#include <QApplication>
#include <QMainWindow>

#include "app/collection/data_module.h"
#include "app/trainer/main_unit.h"
#include "app/window/main_form.h"

namespace goramina {

TMainWindow::TMainWindow(TDataModule1& module, std::string programDir) {
  toolkit_.BindDataSource("DataSource1", &module.DataSource1);
  toolkit_.BindDataSource("DataSource2", &module.DataSource2);
  toolkit_.BindDataSource("DataSource3", &module.DataSource3);
  toolkit_.BindDataSource("DataSource4", &module.DataSource4);
  if (programDir.empty()) programDir = toolkit_.ProgramDir();
  view_ = std::make_unique<TBoardView>(toolkit_, programDir);
  SetMainUnit(&toolkit_, &module, view_.get());
  CreateMainForm(toolkit_);
  toolkit_.SetHelpFile(programDir + std::string(kHelpFileName));
  toolkit_.CentreWindow();
}

TMainWindow::~TMainWindow() {
  SetMainUnit(nullptr, nullptr, nullptr);
}

void TMainWindow::ShowAndStart() {
  toolkit_.Window()->show();
  toolkit_.DeliverShow();
  QApplication::processEvents();
}

int TMainWindow::Run() {
  return toolkit_.Run();
}

QImage TMainWindow::Grab() const {
  return toolkit_.Window()->grab().toImage();
}

}  // namespace goramina
