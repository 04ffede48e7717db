// The Qt toolkit of the trainer's main window: every button is a TCuteButton, grids and edits
// are data-aware and follow the data module's datasets, radio buttons report their choice.
#pragma once

#include <map>
#include <string>

#include "app/qt/qt_toolkit.h"

namespace kura {
class TDataSource;
}

namespace goramina {

class TMainWindowToolkit : public TQtToolkit {
 public:
  TMainWindowToolkit() = default;

  // Names the data source that controls with this dataSource name are bound to. Call before
  // CreateForm; an unknown name leaves the control unbound (it shows nothing).
  void BindDataSource(const std::string& name, kura::TDataSource* source);
  // Moves `grid`'s dataset to the model's row and delivers the cell click, as a click on the
  // row does. Answers whether the cell click was delivered.
  bool ClickGridRow(const std::string& grid, int row);

  // Places the window in the middle of its screen.
  void CentreWindow();

  // Unattended (rendering a picture with nobody at the screen), boxes are not shown: their
  // text goes to the standard error and they answer OK, or Yes to a question.
  void SetUnattended(bool unattended) { unattended_ = unattended; }

 protected:
  QWidget* CreateWidget(TControl& control, QWidget* parent) override;
  void ApplyProperty(TControl& control, QWidget* widget, TProperty property) override;
  TModalResult ShowBox(TBoxKind kind, const std::string& text) override;
  void ShowReport(const std::string& summary, const std::string& details) override;

 private:
  void ReportError(const std::string& message);

  std::map<std::string, kura::TDataSource*> sources_;
  bool unattended_ = false;
};

}  // namespace goramina
