#include "app/qt/qt_toolkit.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QAudioDevice>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMediaDevices>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSoundEffect>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include "app/qt/japanese_ui.h"
#include "app/qt/qt_widgets.h"

namespace goramina {
namespace {

constexpr const char* kJapaneseFace = "IPAPGothic";
constexpr int kDefaultPixelHeight = 12;

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// The box keeps the width the form gave it; its list opens wide enough for the longest item
// (and the list's scroll bar) so that no entry is cut.
void FitListToItems(QComboBox& combo) {
  QAbstractItemView* list = combo.view();
  const int frame = 2 * list->frameWidth();
  const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
  list->setMinimumWidth(combo.count() == 0 ? 0 : list->sizeHintForColumn(0) + frame + scrollBar);
}

// Box texts carry Windows line breaks.
QString BoxText(const std::string& s) {
  return Q(s).replace("\r\n", "\n");
}

Qt::Alignment ToQtAlignment(TAlignment a) {
  switch (a) {
    case TAlignment::Center:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case TAlignment::Right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case TAlignment::Left:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

void SetBackground(QWidget* w, QColor colour) {
  if (!colour.isValid()) return;
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  p.setColor(QPalette::Base, colour);
  p.setColor(QPalette::Button, colour);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

void SetTextColour(QWidget* w, QColor colour) {
  if (!colour.isValid()) return;
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, colour);
  p.setColor(QPalette::ButtonText, colour);
  p.setColor(QPalette::Text, colour);
  w->setPalette(p);
}

}  // namespace

QString QtFontFamily(const std::string& family) {
  if (family.empty() || family == kMsPGothic) return kJapaneseFace;
  return Q(family);
}

TQtToolkit::TQtToolkit() {
  // Whatever asks for the form's font by its Windows name gets the installed counterpart.
  QFont::insertSubstitution(Q(kMsPGothic), kJapaneseFace);
  // Qt's own dialogs and the edit menus of text boxes speak Japanese like the rest.
  InstallJapaneseTranslations();
}

TQtToolkit::~TQtToolkit() {
  for (auto& [name, timer] : timers_) timer->stop();
  sound_.reset();
  delete help_.data();
  delete window_.data();
}

QWidget* TQtToolkit::Widget(const std::string& name) const {
  const auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

QImage TQtToolkit::GrabClient() const {
  return client_ == nullptr ? QImage() : client_->grab().toImage();
}

QFont TQtToolkit::FontOf(const TControlSpec& spec) const {
  const TFont& form = FormSpec().font;
  QFont font(QtFontFamily(spec.font.family.empty() ? form.family : spec.font.family));
  int pixels = spec.font.pixelHeight > 0 ? spec.font.pixelHeight : form.pixelHeight;
  font.setPixelSize(pixels > 0 ? pixels : kDefaultPixelHeight);
  font.setBold(spec.font.bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

void TQtToolkit::RealiseForm() {
  const TFormSpec& form = FormSpec();
  window_ = new QMainWindow();
  window_->setObjectName(Q(form.name));
  window_->setWindowTitle(Q(form.caption));
  QFont formFont(QtFontFamily(form.font.family));
  formFont.setPixelSize(form.font.pixelHeight > 0 ? form.font.pixelHeight : kDefaultPixelHeight);
  window_->setFont(formFont);
  client_ = new QWidget(window_);
  client_->setObjectName("client");
  client_->setFixedSize(form.clientWidth, form.clientHeight);
  SetBackground(client_, ToQColor(form.color));
  window_->setCentralWidget(client_);
  for (const auto& control : Controls()) {
    QWidget* parent = control->Spec().parent.empty() ? client_ : Widget(control->Spec().parent);
    QWidget* w = CreateWidget(*control, parent);
    w->setObjectName(Q(control->Name()));
    widgets_[control->Name()] = w;
    ApplyAll(*control, w);
  }
  BuildMenu();
  BuildStatusBar();
  // The board itself holds the keyboard focus until a field is clicked, so the keys act at once.
  client_->setFocusPolicy(Qt::ClickFocus);
  client_->setFocus(Qt::OtherFocusReason);
  keyFilter_ = std::make_unique<TKeyFilter>(*this);
  qApp->installEventFilter(keyFilter_.get());
  window_->adjustSize();
  window_->setFixedSize(window_->sizeHint());
}

void TQtToolkit::BuildMenu() {
  const std::function<void(QMenu*, const std::vector<TMenuItemSpec>&)> addItems =
      [&](QMenu* menu, const std::vector<TMenuItemSpec>& items) {
        for (const auto& item : items) {
          if (item.items.empty()) {
            // The key is shown beside the caption; the window's key filter acts on it.
            const QString text = item.keyText.empty()
                                     ? Q(item.caption)
                                     : Q(item.caption) + QLatin1Char('\t') + Q(item.keyText);
            QAction* action = menu->addAction(text);
            action->setObjectName(Q(item.name));
            action->setCheckable(item.checkable);
            if (item.checkable) action->setChecked(MenuChecked(item.name));
            actions_[item.name] = action;
            QObject::connect(action, &QAction::triggered,
                             [this, name = item.name] { DeliverClick(name); });
          } else {
            addItems(menu->addMenu(Q(item.caption)), item.items);
          }
        }
      };
  for (const auto& top : FormSpec().menu) {
    if (top.items.empty()) {
      QAction* action = window_->menuBar()->addAction(Q(top.caption));
      action->setObjectName(Q(top.name));
      QObject::connect(action, &QAction::triggered,
                       [this, name = top.name] { DeliverClick(name); });
    } else {
      QMenu* menu = window_->menuBar()->addMenu(Q(top.caption));
      menu->setObjectName(Q(top.name));
      addItems(menu, top.items);
    }
  }
}

void TQtToolkit::MenuCheckedChanged(const std::string& name) {
  const auto it = actions_.find(name);
  if (it != actions_.end() && it->second->isChecked() != MenuChecked(name)) {
    it->second->setChecked(MenuChecked(name));
  }
}

std::string TQtToolkit::ReadSetting(const std::string& key, const std::string& fallback) const {
  const QSettings settings(QStringLiteral("Goramina"), QStringLiteral("goramina"));
  const QVariant value = settings.value(Q(key));
  return value.isValid() ? value.toString().toStdString() : fallback;
}

void TQtToolkit::WriteSetting(const std::string& key, const std::string& value) {
  QSettings settings(QStringLiteral("Goramina"), QStringLiteral("goramina"));
  settings.setValue(Q(key), Q(value));
}

namespace {

// Whether typed keys belong to this widget: edits (also those of combo boxes and the editor of
// a grid cell being edited) and combo boxes. A grid at rest leaves the window's keys to the
// window and takes those the window does not use.
bool TakesTypedKeys(const QWidget* widget) {
  if (widget == nullptr) return false;
  return qobject_cast<const QLineEdit*>(widget) != nullptr ||
         qobject_cast<const QComboBox*>(widget) != nullptr;
}

}  // namespace

bool TQtToolkit::TextFieldHasFocus() const {
  // The window's own focus child: also right while the window is not the active one.
  return window_ != nullptr && TakesTypedKeys(window_->focusWidget());
}

namespace {

TKey KeyOf(const QKeyEvent& event) {
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
    return TKey::Other;
  }
  switch (event.key()) {
    case Qt::Key_Left:
      return TKey::Left;
    case Qt::Key_Right:
      return TKey::Right;
    case Qt::Key_Up:
      return TKey::Up;
    case Qt::Key_Down:
      return TKey::Down;
    case Qt::Key_PageUp:
      return TKey::PageUp;
    case Qt::Key_PageDown:
      return TKey::PageDown;
    case Qt::Key_Backspace:
      return TKey::Backspace;
    case Qt::Key_H:
      return TKey::H;
    case Qt::Key_A:
      return TKey::A;
    default:
      return TKey::Other;
  }
}

}  // namespace

bool TQtToolkit::eventFilterKey(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || window_ == nullptr) return false;
  const auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != window_ || TakesTypedKeys(widget)) return false;
  return DeliverKeyDown(KeyOf(*static_cast<QKeyEvent*>(event)));
}

void TQtToolkit::BuildStatusBar() {
  const auto& panels = FormSpec().statusPanels;
  if (panels.empty()) return;
  QStatusBar* bar = window_->statusBar();
  bar->setSizeGripEnabled(false);
  QFont font = window_->font();
  font.setBold(FormSpec().statusBold);
  for (size_t i = 0; i < panels.size(); ++i) {
    auto* label = new QLabel(bar);
    label->setObjectName(QString("StatusPanel%1").arg(i));
    label->setFont(font);
    label->setAlignment(ToQtAlignment(panels[i].alignment));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    // The last panel reaches to the window's right edge, as a status bar's last panel does.
    const bool last = i + 1 == panels.size();
    if (last) {
      label->setMinimumWidth(panels[i].width);
    } else {
      label->setFixedWidth(panels[i].width);
    }
    bar->addWidget(label, last ? 1 : 0);
    panels_.push_back(label);
  }
}

QWidget* TQtToolkit::CreateWidget(TControl& control, QWidget* parent) {
  const TControlSpec& spec = control.Spec();
  const std::string name = control.Name();
  switch (spec.kind) {
    case TControlKind::Shape:
      return new QtShape(spec.shape, parent);
    case TControlKind::Image:
      return new QtImage(spec.stretch, parent);
    case TControlKind::Label:
      return new QtTextLabel(spec.alignment, parent,
                             [this, name](TMouseButton b, TShiftState s, int x, int y) {
                               // A click on the board takes the focus from any field.
                               if (client_ != nullptr) client_->setFocus(Qt::MouseFocusReason);
                               DeliverMouseDown(name, b, s, x, y);
                             });
    case TControlKind::Button: {
      auto* button = new QPushButton(parent);
      button->setFocusPolicy(Qt::StrongFocus);
      QObject::connect(button, &QPushButton::clicked, [this, name] { DeliverClick(name); });
      return button;
    }
    case TControlKind::Grid: {
      auto* grid = new QTableWidget(0, static_cast<int>(spec.columns.size()), parent);
      for (size_t i = 0; i < spec.columns.size(); ++i) {
        auto* header = new QTableWidgetItem(Q(spec.columns[i].title));
        grid->setHorizontalHeaderItem(static_cast<int>(i), header);
        grid->setColumnWidth(static_cast<int>(i), spec.columns[i].width);
      }
      grid->verticalHeader()->setDefaultSectionSize(18);
      grid->setSelectionBehavior(QAbstractItemView::SelectRows);
      grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
      QObject::connect(grid, &QTableWidget::cellClicked,
                       [this, name](int, int) { DeliverCellClick(name); });
      QObject::connect(grid, &QTableWidget::cellDoubleClicked,
                       [this, name](int, int) { DeliverDblClick(name); });
      return grid;
    }
    case TControlKind::Edit: {
      auto* edit = new QLineEdit(parent);
      QObject::connect(edit, &QLineEdit::textEdited, [this, name](const QString& text) {
        if (TControl* c = FindControl(name)) c->TakeUserText(text.toStdString());
        DeliverChange(name);
      });
      return edit;
    }
    case TControlKind::ComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(spec.comboStyle == TComboStyle::DropDown);
      // Typed text is the combo's text only; the list keeps the items the logic gave it.
      combo->setInsertPolicy(QComboBox::NoInsert);
      // What is typed is what is shown and searched for: no item is completed behind the
      // typing (typing 活 must not turn into 活きる).
      if (combo->isEditable()) combo->setCompleter(nullptr);
      QObject::connect(combo, &QComboBox::activated, [this, name](int index) {
        if (TControl* c = FindControl(name)) c->TakeUserItemIndex(index);
        DeliverChange(name);
      });
      if (combo->lineEdit() != nullptr) {
        QObject::connect(combo->lineEdit(), &QLineEdit::textEdited,
                         [this, name](const QString& text) {
                           if (TControl* c = FindControl(name)) c->TakeUserText(text.toStdString());
                           DeliverChange(name);
                         });
      }
      return combo;
    }
    case TControlKind::RadioButton: {
      auto* radio = new QRadioButton(parent);
      QObject::connect(radio, &QRadioButton::clicked, [this, name] { DeliverClick(name); });
      return radio;
    }
    case TControlKind::GroupBox:
      return new QGroupBox(parent);
  }
  return new QWidget(parent);
}

void TQtToolkit::ApplyAll(TControl& control, QWidget* widget) {
  if (control.Kind() == TControlKind::Label || control.Kind() == TControlKind::Button ||
      !control.Spec().font.family.empty() || control.Spec().font.bold) {
    widget->setFont(FontOf(control.Spec()));
  }
  for (TProperty p : {TProperty::Geometry, TProperty::Text, TProperty::Color, TProperty::FontColor,
                      TProperty::Items, TProperty::ItemIndex, TProperty::Checked,
                      TProperty::Picture, TProperty::Enabled, TProperty::Visible}) {
    ApplyProperty(control, widget, p);
  }
}

void TQtToolkit::PropertyChanged(TControl& control, TProperty property) {
  if (QWidget* w = Widget(control.Name())) ApplyProperty(control, w, property);
}

void TQtToolkit::ApplyProperty(TControl& control, QWidget* w, TProperty property) {
  applying_ = true;
  const TControlSpec& spec = control.Spec();
  switch (property) {
    case TProperty::Visible:
      w->setVisible(control.Visible());
      break;
    case TProperty::Enabled:
      w->setEnabled(control.Enabled());
      break;
    case TProperty::Geometry:
      w->setGeometry(control.Left(), control.Top(), control.Width(), control.Height());
      break;
    case TProperty::Text:
      if (auto* l = dynamic_cast<QtTextLabel*>(w)) l->SetText(Q(control.Text()));
      if (auto* b = dynamic_cast<QPushButton*>(w)) b->setText(Q(control.Text()));
      if (auto* r = dynamic_cast<QRadioButton*>(w)) r->setText(Q(control.Text()));
      if (auto* g = dynamic_cast<QGroupBox*>(w)) g->setTitle(Q(control.Text()));
      if (auto* e = dynamic_cast<QLineEdit*>(w)) e->setText(Q(control.Text()));
      if (auto* c = dynamic_cast<QComboBox*>(w); c != nullptr && c->isEditable()) {
        c->setEditText(Q(control.Text()));
      }
      break;
    case TProperty::Color:
      if (auto* s = dynamic_cast<QtShape*>(w)) {
        s->SetColours(ToQColor(control.Color()), ToQColor(spec.penColor));
      } else if (control.Color() != clDefault) {
        SetBackground(w, ToQColor(control.Color()));
      }
      break;
    case TProperty::FontColor:
      if (auto* l = dynamic_cast<QtTextLabel*>(w)) {
        l->SetTextColour(ToQColor(control.FontColor()));
      } else {
        SetTextColour(w, ToQColor(control.FontColor()));
      }
      break;
    case TProperty::Picture:
      if (auto* image = dynamic_cast<QtImage*>(w)) {
        image->SetPicture(control.Picture() ? ToQImage(*control.Picture()) : QImage());
      }
      break;
    case TProperty::Checked:
      if (auto* r = dynamic_cast<QRadioButton*>(w)) r->setChecked(control.Checked());
      break;
    case TProperty::Items:
      if (auto* c = dynamic_cast<QComboBox*>(w)) {
        c->clear();
        for (const auto& item : control.Items()) c->addItem(Q(item));
        FitListToItems(*c);
        c->setCurrentIndex(-1);
        if (c->isEditable()) c->setEditText(Q(control.Text()));
      }
      break;
    case TProperty::ItemIndex:
      if (auto* c = dynamic_cast<QComboBox*>(w)) {
        c->setCurrentIndex(control.ItemIndex());
        if (c->isEditable()) c->setEditText(Q(control.Text()));
      }
      break;
    case TProperty::DataSource:
      w->setUpdatesEnabled(control.DataSourceAttached());
      break;
  }
  applying_ = false;
}

void TQtToolkit::StatusChanged(int panel) {
  if (panel >= 0 && panel < static_cast<int>(panels_.size())) {
    panels_[panel]->setText(Q(StatusText(panel)));
  }
}

void TQtToolkit::TimerChanged(const std::string& name, bool enabled, int intervalMs) {
  QTimer*& timer = timers_[name];
  if (timer == nullptr) {
    timer = new QTimer(window_);
    QObject::connect(timer, &QTimer::timeout, [this, name] { DeliverTimer(name); });
  }
  timer->setInterval(intervalMs);
  if (enabled) {
    timer->start();  // restarting counts the interval anew, as enabling a timer does
  } else {
    timer->stop();
  }
}

// The report's lines scroll in a field this many lines high; the box never grows past it.
constexpr int kReportLines = 16;
constexpr int kReportWidth = 640;

void TQtToolkit::ShowReport(const std::string& summary, const std::string& details) {
  QMessageBox box(window_);
  box.setWindowTitle(Q(Title()));
  box.setIcon(QMessageBox::Information);
  box.setText(BoxText(summary));
  box.setStandardButtons(QMessageBox::Ok);
  if (!details.empty()) {
    auto* field = new QPlainTextEdit(BoxText(details), &box);
    field->setObjectName("ReportDetails");
    field->setReadOnly(true);
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    const int lineHeight = field->fontMetrics().lineSpacing();
    field->setFixedHeight(lineHeight * kReportLines + 2 * field->frameWidth() + 8);
    field->setMinimumWidth(kReportWidth);
    // Below the text, above the buttons, across the box.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
      const int buttonRow = grid->rowCount() - 1;
      QLayoutItem* buttons = grid->itemAtPosition(buttonRow, 0);
      if (buttons != nullptr) grid->removeItem(buttons);
      grid->addWidget(field, buttonRow, 0, 1, grid->columnCount());
      if (buttons != nullptr) grid->addItem(buttons, buttonRow + 1, 0, 1, grid->columnCount());
    }
  }
  ApplyJapaneseButtonTexts(box);
  box.exec();
}

TModalResult TQtToolkit::ShowBox(TBoxKind kind, const std::string& text) {
  const QString title = Q(Title());
  QMessageBox box(window_);
  box.setWindowTitle(title);
  box.setText(BoxText(text));
  switch (kind) {
    case TBoxKind::Message:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case TBoxKind::Information:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case TBoxKind::Confirmation:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case TBoxKind::Error:
      box.setIcon(QMessageBox::Critical);
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  ApplyJapaneseButtonTexts(box);
  const int answer = box.exec();
  if (kind != TBoxKind::Confirmation) return TModalResult::Ok;
  if (answer == QMessageBox::Yes) return TModalResult::Yes;
  if (answer == QMessageBox::No) return TModalResult::No;
  return TModalResult::Cancel;
}

void TQtToolkit::ShowHelpContents() {
  const QString path = Q(HelpFile());
  if (path.isEmpty() || !QFileInfo(path).isFile()) {
    ShowBox(TBoxKind::Error, "ヘルプファイル「" + HelpFile() + "」を開けません。");
    return;
  }
  if (help_ == nullptr) {
    help_ = new QTextBrowser();
    help_->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while the help is open.
    help_->setAttribute(Qt::WA_QuitOnClose, false);
    help_->setOpenExternalLinks(true);
    help_->resize(640, 560);
  }
  help_->setWindowTitle(Q(Title()));
  help_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
  help_->show();
  help_->raise();
}

std::vector<std::string> TQtToolkit::ChooseFilesToOpen(const std::string& title,
                                                       const std::string& filter) {
  std::vector<std::string> files;
  for (const QString& file : QFileDialog::getOpenFileNames(window_, Q(title), QString(), Q(filter)))
    files.push_back(file.toStdString());
  return files;
}

std::string TQtToolkit::ChooseFolder(const std::string& title) {
  return QFileDialog::getExistingDirectory(window_, Q(title)).toStdString();
}

std::string TQtToolkit::ChooseFileToSave(const std::string& title, const std::string& filter,
                                         const std::string& suggested) {
  return QFileDialog::getSaveFileName(window_, Q(title), Q(suggested), Q(filter)).toStdString();
}

bool TQtToolkit::ShowProgress(const std::string& title, int done, int total,
                              const std::string& text) {
  if (progress_ == nullptr) {
    progress_ = new QProgressDialog(window_);
    progress_->setWindowTitle(Q(title));
    progress_->setCancelButtonText(QStringLiteral("中止"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(0);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
  }
  progress_->setMaximum(std::max(total, 1));
  progress_->setValue(std::min(done, std::max(total, 1)));
  progress_->setLabelText(Q(text));
  QApplication::processEvents();
  return !progress_->wasCanceled();
}

void TQtToolkit::CloseProgress() {
  if (progress_ == nullptr) return;
  progress_->close();
  delete progress_;
}

std::string TQtToolkit::ProgramDir() const {
  return QCoreApplication::applicationDirPath().toStdString() + "/";
}

int TQtToolkit::Run() {
  if (window_ == nullptr) return 1;
  window_->show();
  client_->setFocus(Qt::ActiveWindowFocusReason);
  DeliverShow();
  return QApplication::exec();
}

void TQtToolkit::Terminate() {
  // Queued, so it also ends a loop that has not started yet when asked from the first show.
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  if (window_ != nullptr) window_->hide();
}

bool TQtToolkit::AudioAvailable() {
  if (audioState_ < 0) audioState_ = QMediaDevices::audioOutputs().isEmpty() ? 0 : 1;
  return audioState_ == 1;
}

bool TQtToolkit::OpenSound(TMediaPlayer& player) {
  const QString path = Q(player.FileName());
  if (!QFileInfo(path).isFile()) return false;
  // Without an output device no audio object is made at all: the machine stays silent.
  if (!AudioAvailable()) return true;
  if (!sound_) sound_ = std::make_unique<QSoundEffect>();
  const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
  if (sound_->source() != url) sound_->setSource(url);
  return true;
}

void TQtToolkit::PlaySound(TMediaPlayer&) {
  // Returns at once; the effect plays on (or starts once loaded) while the program goes on.
  if (sound_) sound_->play();
}

}  // namespace goramina
