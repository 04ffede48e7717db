// The toolkit on a real Qt 6 window: every control of the form description becomes a widget at
// its exact place; property changes made by the logic are shown at once; user input is taken
// over into the controls' state and delivered to the logic's handlers.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <map>
#include <memory>
#include <string>

#include "app/toolkit/toolkit.h"

class QMainWindow;
class QWidget;
class QLabel;
class QTimer;
class QSoundEffect;
class QTextBrowser;
class QAction;
class QEvent;
class QObject;

class QProgressDialog;

namespace goramina {

// The installed face that stands in for a font family of the form ("ＭＳ Ｐゴシック" is drawn
// with the metric-compatible "IPAPGothic").
QString QtFontFamily(const std::string& family);

class TQtToolkit : public TToolkit {
 public:
  // A QApplication must exist.
  TQtToolkit();
  ~TQtToolkit() override;

  // The main window, and the widget realising a control (nullptr for an unknown name).
  QMainWindow* Window() const { return window_; }
  QWidget* Widget(const std::string& name) const;
  // The client area (controls only, no menu or status bar) as it is drawn now.
  QImage GrabClient() const;

  int HorizontalScrollPosition() const override { return 0; }  // the client area never scrolls
  int VerticalScrollPosition() const override { return 0; }
  TDateTime Now() const override { return LocalNow(); }
  void ShowHelpContents() override;
  std::string ProgramDir() const override;
  int Run() override;
  void Terminate() override;
  void PropertyChanged(TControl& control, TProperty property) override;
  bool OpenSound(TMediaPlayer& player) override;
  void PlaySound(TMediaPlayer& player) override;
  // Settings are kept with QSettings (organisation "Goramina", application "goramina").
  std::string ReadSetting(const std::string& key, const std::string& fallback) const override;
  void WriteSetting(const std::string& key, const std::string& value) override;

  std::vector<std::string> ChooseFilesToOpen(const std::string& title,
                                             const std::string& filter) override;
  std::string ChooseFolder(const std::string& title) override;
  std::string ChooseFileToSave(const std::string& title, const std::string& filter,
                               const std::string& suggested) override;
  bool ShowProgress(const std::string& title, int done, int total,
                    const std::string& text) override;
  void CloseProgress() override;

 protected:
  void MenuCheckedChanged(const std::string& name) override;
  bool TextFieldHasFocus() const override;
  void RealiseForm() override;
  void StatusChanged(int panel) override;
  void TimerChanged(const std::string& name, bool enabled, int intervalMs) override;
  TModalResult ShowBox(TBoxKind kind, const std::string& text) override;
  void ShowReport(const std::string& summary, const std::string& details) override;

  // Creates the widget of one control; a toolkit of our own buttons overrides it for buttons.
  virtual QWidget* CreateWidget(TControl& control, QWidget* parent);
  // Shows one property of a control on its widget.
  virtual void ApplyProperty(TControl& control, QWidget* widget, TProperty property);

 private:
  QFont FontOf(const TControlSpec& spec) const;
  void ApplyAll(TControl& control, QWidget* widget);
  void BuildMenu();
  void BuildStatusBar();
  bool AudioAvailable();
  // Key presses anywhere in the window go to the logic first (unless a field keeps them).
  bool eventFilterKey(QObject* watched, QEvent* event);
  class TKeyFilter : public QObject {
   public:
    explicit TKeyFilter(TQtToolkit& toolkit) : toolkit_(toolkit) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
      return toolkit_.eventFilterKey(watched, event);
    }

   private:
    TQtToolkit& toolkit_;
  };

  QPointer<QMainWindow> window_;
  QWidget* client_ = nullptr;
  std::map<std::string, QWidget*> widgets_;
  std::map<std::string, QAction*> actions_;  // command menu items
  std::unique_ptr<TKeyFilter> keyFilter_;
  std::vector<QLabel*> panels_;
  std::map<std::string, QTimer*> timers_;
  std::unique_ptr<QSoundEffect> sound_;
  int audioState_ = -1;  // -1 not asked yet, 0 no output device, 1 available
  QPointer<QTextBrowser> help_;
  QPointer<QProgressDialog> progress_;
  bool applying_ = false;  // set while the logic's change is shown, so no event echoes back
};

}  // namespace goramina
