#include "app/qt/main_window_toolkit.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QMainWindow>
#include <QRadioButton>
#include <QScreen>
#include <cstdio>
#include <exception>

#include "app/qt/cute_button_face.h"
#include "app/qt/data_edit.h"
#include "app/qt/data_grid.h"
#include "app/qt/qt_widgets.h"
#include "dataset/data_set.h"
#include "dataset/data_source.h"

namespace goramina {

void TMainWindowToolkit::BindDataSource(const std::string& name, kura::TDataSource* source) {
  sources_[name] = source;
}

void TMainWindowToolkit::ReportError(const std::string& message) {
  ShowBox(TBoxKind::Error, message);
}

bool TMainWindowToolkit::ClickGridRow(const std::string& grid, int row) {
  auto* view = dynamic_cast<QtDataGrid*>(Widget(grid));
  if (view == nullptr || !ControlAcceptsInput(grid)) return false;
  try {
    if (kura::TDataSet* ds = view->Model().DataSet(); ds != nullptr && ds->Active()) {
      // The row being appended is the one past the result; clicking it stays there.
      if (row + 1 != ds->DisplayRow() && row + 1 <= ds->RecordCount()) ds->SetRecNo(row + 1);
    }
  } catch (const std::exception& e) {
    ReportError(e.what());
    return false;
  }
  return DeliverCellClick(grid);
}

TModalResult TMainWindowToolkit::ShowBox(TBoxKind kind, const std::string& text) {
  if (!unattended_) return TQtToolkit::ShowBox(kind, text);
  std::fprintf(stderr, "goramina: %s\n", text.c_str());
  return kind == TBoxKind::Confirmation ? TModalResult::Yes : TModalResult::Ok;
}

void TMainWindowToolkit::ShowReport(const std::string& summary, const std::string& details) {
  if (!unattended_) {
    TQtToolkit::ShowReport(summary, details);
    return;
  }
  std::fprintf(stderr, "goramina: %s\n%s\n", summary.c_str(), details.c_str());
}

void TMainWindowToolkit::CentreWindow() {
  QMainWindow* window = Window();
  if (window == nullptr) return;
  QScreen* screen =
      window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

QWidget* TMainWindowToolkit::CreateWidget(TControl& control, QWidget* parent) {
  const TControlSpec& spec = control.Spec();
  const std::string name = control.Name();
  const auto source = [this, &spec]() -> kura::TDataSource* {
    const auto it = sources_.find(spec.dataSource);
    return it == sources_.end() ? nullptr : it->second;
  };
  const auto onError = [this](const std::string& message) { ReportError(message); };
  switch (spec.kind) {
    case TControlKind::Button:
      return NewCuteButton(parent, [this, name] { DeliverClick(name); });
    case TControlKind::Grid: {
      auto* grid = new QtDataGrid(spec.columns, onError, parent);
      grid->onCellClick = [this, name](int row) { ClickGridRow(name, row); };
      grid->onDblClick = [this, name] { DeliverDblClick(name); };
      grid->Bind(source());
      return grid;
    }
    case TControlKind::Edit: {
      auto* edit = new QtDataEdit(spec.dataField, onError, parent);
      edit->Bind(source());
      return edit;
    }
    case TControlKind::RadioButton: {
      auto* radio = new QRadioButton(parent);
      QObject::connect(radio, &QRadioButton::clicked, [this, name] {
        if (TControl* c = FindControl(name)) c->TakeUserChecked();
        DeliverClick(name);
      });
      return radio;
    }
    default:
      return TQtToolkit::CreateWidget(control, parent);
  }
}

void TMainWindowToolkit::ApplyProperty(TControl& control, QWidget* widget, TProperty property) {
  if (IsCuteButton(widget)) {
    switch (property) {
      case TProperty::Text:
        SetCuteButtonCaption(widget, QString::fromStdString(control.Text()));
        return;
      case TProperty::Color:
        if (control.Color() != clDefault) SetCuteButtonFace(widget, ToQColor(control.Color()));
        return;
      case TProperty::FontColor:
        SetCuteButtonCaptionColour(widget, ToQColor(control.FontColor()));
        return;
      default:
        break;
    }
  }
  if (auto* combo = dynamic_cast<QComboBox*>(widget); combo != nullptr && !combo->isEditable()) {
    // A list without free text shows its text only while no item is chosen.
    if (property == TProperty::Text || property == TProperty::Items) {
      combo->setPlaceholderText(QString::fromStdString(control.Text()));
    }
  }
  if (auto* grid = dynamic_cast<QtDataGrid*>(widget)) {
    if (property == TProperty::DataSource) {
      grid->SetAttached(control.DataSourceAttached());
      return;
    }
    if (property == TProperty::Text || property == TProperty::Color) return;
  }
  if (auto* edit = dynamic_cast<QtDataEdit*>(widget)) {
    if (property == TProperty::DataSource) {
      edit->SetAttached(control.DataSourceAttached());
      return;
    }
    if (property == TProperty::Text) return;  // the field decides what the edit shows
  }
  TQtToolkit::ApplyProperty(control, widget, property);
}

}  // namespace goramina
