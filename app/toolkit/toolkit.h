// app/toolkit — the windowing toolkit the application drives: controls described by TFormSpec
// and found by name, events, boxes, timers, the media player, bitmaps, and the headless toolkit
// that runs every flow without a window (tests, unattended runs). The Qt realisation lives in
// app/qt; nothing here or below includes Qt.
//
// The windowing toolkit as the application uses it. The application describes its window with
// a TFormSpec, finds controls by name, drives them through TControl, and registers handlers
// for the events the window delivers. Two toolkits realise it: the Qt window (app/qt) and a
// headless one for tests (app/headless_toolkit.h); both share everything here, so they agree.
//
// Events arrive one at a time: a handler runs to its end before the next event. A timer tick
// that falls while a handler runs (for example behind a modal box) is held and delivered right
// after that handler returns. An exception that leaves a handler ends the user's action; the
// toolkit shows its message in an error box and goes on.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/common/date_time.h"
#include "app/toolkit/control.h"
#include "app/toolkit/form_spec.h"
#include "app/toolkit/media_player.h"

namespace goramina {

enum class TMouseButton { Left, Right, Middle };

// The shift state of a mouse event: keys and the mouse buttons held, as a set of flags.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1u << 0;
constexpr TShiftState ssAlt = 1u << 1;
constexpr TShiftState ssCtrl = 1u << 2;
constexpr TShiftState ssLeft = 1u << 3;
constexpr TShiftState ssRight = 1u << 4;
constexpr TShiftState ssMiddle = 1u << 5;

enum class TModalResult { Ok, Yes, No, Cancel };

// The keys the window's own shortcuts use; every other key is Other.
enum class TKey { Left, Right, Up, Down, PageUp, PageDown, Backspace, H, A, Other };

enum class TBoxKind {
  Message,       // plain message box, OK
  Information,   // information box, OK
  Confirmation,  // Yes / No
  Error,         // the message of an exception that ended a user action
};

// Handlers receive the name of the control, menu item or timer that raised the event.
using TNotifyHandler = std::function<void(const std::string& sender)>;
using TMouseHandler = std::function<void(const std::string& sender, TMouseButton button,
                                         TShiftState shift, int x, int y)>;
// Answers whether the key did something; a key that did nothing goes on to the focused control.
using TKeyHandler = std::function<bool(TKey key)>;

class TToolkit {
 public:
  TToolkit();
  virtual ~TToolkit();
  TToolkit(const TToolkit&) = delete;
  TToolkit& operator=(const TToolkit&) = delete;

  // --- The window -------------------------------------------------------------------------
  // Creates every control, menu item, status panel, timer and media player of the form and
  // realises the window. Duplicate names are refused with EComponentError. Called once.
  void CreateForm(const TFormSpec& spec);
  const TFormSpec& FormSpec() const { return form_; }

  // The control with this name; EComponentError when there is none.
  TControl& Control(const std::string& name);
  const TControl& Control(const std::string& name) const;
  // The control with this name, or nullptr.
  TControl* FindControl(const std::string& name);
  const TControl* FindControl(const std::string& name) const;
  // Every control in creation order.
  const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }

  // --- Status bar ---------------------------------------------------------------------------
  // Panel 0..(panel count - 1); EComponentError otherwise.
  void SetStatusText(int panel, const std::string& text);
  const std::string& StatusText(int panel) const;

  // --- Modal boxes: each blocks the handler until the user closes it ------------------------
  void ShowMessage(const std::string& text);
  void ShowInformation(const std::string& text);
  // An information box for a report of any length: `summary` (the totals) stands on top and
  // `details` below it in a scrolling field, so that the box keeps its size however long the
  // report. A toolkit without one shows both as one information box.
  virtual void ShowReport(const std::string& summary, const std::string& details);
  // Yes / No box; answers TModalResult::Yes or No (or Cancel when closed otherwise).
  TModalResult Confirm(const std::string& text);

  // --- Checkable menu items ---------------------------------------------------------------------
  // The check mark of a checkable menu item; a click on the item toggles it before the click
  // handler runs. EComponentError for an unknown or uncheckable item.
  void SetMenuChecked(const std::string& name, bool checked);
  bool MenuChecked(const std::string& name) const;

  // --- Settings kept between runs (a key-value store; the headless toolkit keeps it in memory) -
  virtual std::string ReadSetting(const std::string& key, const std::string& fallback) const;
  virtual void WriteSetting(const std::string& key, const std::string& value);

  // --- File dialogs and the progress box (a toolkit without them chooses nothing) -------------
  // Asks for existing files to read; `filter` like "SGF (*.sgf)". Empty when cancelled.
  virtual std::vector<std::string> ChooseFilesToOpen(const std::string& title,
                                                     const std::string& filter);
  // Asks for an existing folder. Empty when cancelled.
  virtual std::string ChooseFolder(const std::string& title);
  // Asks for a file to write, starting at `suggested`. Empty when cancelled.
  virtual std::string ChooseFileToSave(const std::string& title, const std::string& filter,
                                       const std::string& suggested);
  // Shows (the first call opens it) a modal progress box with a cancel button: `done` of
  // `total` with a line of text. Answers false once the user has asked to cancel.
  virtual bool ShowProgress(const std::string& title, int done, int total, const std::string& text);
  // Closes the progress box, if open.
  virtual void CloseProgress();

  // --- Timers: while enabled each ticks every interval through the event queue ---------------
  void SetTimerEnabled(const std::string& name, bool enabled);
  bool TimerEnabled(const std::string& name) const;

  // --- Media player ---------------------------------------------------------------------------
  TMediaPlayer& MediaPlayer(const std::string& name);

  // --- Window metrics, clock, help, application ----------------------------------------------
  // Scroll positions of the window's client area in pixels. Control positions are relative to
  // the visible client area, so a point on the board is position + scroll position.
  virtual int HorizontalScrollPosition() const = 0;
  virtual int VerticalScrollPosition() const = 0;
  // The local time (tests set it on the headless toolkit).
  virtual TDateTime Now() const = 0;
  // The help file opened by ShowHelpContents.
  void SetHelpFile(const std::string& path) { helpFile_ = path; }
  const std::string& HelpFile() const { return helpFile_; }
  // Opens the help file at its contents page, in a window of its own.
  virtual void ShowHelpContents() = 0;
  void SetTitle(const std::string& title);
  const std::string& Title() const { return title_; }
  // The directory of the executable, ending with a path separator.
  virtual std::string ProgramDir() const;
  // Shows the window (delivering the first-show event) and runs the event loop until
  // Terminate; returns the exit code.
  virtual int Run() = 0;
  // Ends the event loop (and so the program) once the current handler returns.
  virtual void Terminate() = 0;

  // --- Handlers the logic registers (one per event and sender; a new one replaces it) --------
  void OnClick(const std::string& sender, TNotifyHandler handler);  // buttons, menu, radio
  void OnDblClick(const std::string& sender, TNotifyHandler handler);
  void OnCellClick(const std::string& sender, TNotifyHandler handler);  // grids
  void OnChange(const std::string& sender, TNotifyHandler handler);     // combos, edits
  void OnMouseDown(const std::string& sender, TMouseHandler handler);   // labels
  void OnTimer(const std::string& timer, TNotifyHandler handler);
  void OnShow(TNotifyHandler handler);  // the form's first show
  // A key pressed while no text field has the focus.
  void OnKeyDown(TKeyHandler handler);
  // Runs after every delivered event has been handled (also after one that ended in an error),
  // so that what the window derives from the logic's state is drawn in one place.
  void OnAfterEvent(std::function<void()> handler);

  // --- Delivery: what the window calls when the user acts --------------------------------------
  // Each returns whether an event was delivered: a hidden or disabled control, an unknown
  // name or a missing handler delivers nothing. A disabled timer does not tick.
  bool DeliverClick(const std::string& sender);
  bool DeliverDblClick(const std::string& sender);
  bool DeliverCellClick(const std::string& sender);
  bool DeliverChange(const std::string& sender);
  bool DeliverMouseDown(const std::string& sender, TMouseButton button, TShiftState shift, int x,
                        int y);
  bool DeliverTimer(const std::string& timer);
  bool DeliverShow();
  // Delivers nothing while a text field (an edit, a combo box, a grid cell being edited) has
  // the focus: the key is the field's. Answers whether the key was used.
  bool DeliverKeyDown(TKey key);
  // True while a handler runs.
  bool InHandler() const { return depth_ > 0; }

  // --- Called by TControl and TMediaPlayer ---------------------------------------------------
  virtual void PropertyChanged(TControl& control, TProperty property) = 0;
  // Prepares playback of player.FileName(); false when it cannot be played.
  virtual bool OpenSound(TMediaPlayer& player) = 0;
  // Starts playback of the opened file without waiting for it.
  virtual void PlaySound(TMediaPlayer& player) = 0;

 protected:
  // Shows the form once every control exists.
  virtual void RealiseForm() = 0;
  virtual void StatusChanged(int panel) = 0;
  virtual void TimerChanged(const std::string& name, bool enabled, int intervalMs) = 0;
  virtual void TitleChanged() {}
  virtual void MenuCheckedChanged(const std::string& name) { (void)name; }
  // Whether the control holding the keyboard focus takes typed text.
  virtual bool TextFieldHasFocus() const { return false; }
  // Shows a modal box and returns the answer (Ok for boxes without a choice).
  virtual TModalResult ShowBox(TBoxKind kind, const std::string& text) = 0;
  bool ControlAcceptsInput(const std::string& name) const;

 private:
  struct TTimerState {
    int intervalMs = 1000;
    bool enabled = false;
    bool pendingTick = false;
  };
  bool Dispatch(const std::string& sender, const std::function<void()>& call);
  void RunGuarded(const std::function<void()>& call);
  void DeliverHeldTicks();

  TFormSpec form_;
  bool formCreated_ = false;
  std::vector<std::unique_ptr<TControl>> controls_;
  std::map<std::string, TControl*> byName_;
  std::set<std::string> menuCommands_;
  std::vector<std::string> statusTexts_;
  std::map<std::string, TTimerState> timers_;
  std::map<std::string, std::unique_ptr<TMediaPlayer>> players_;
  std::map<std::string, TNotifyHandler> clickHandlers_, dblClickHandlers_, cellClickHandlers_,
      changeHandlers_, timerHandlers_;
  std::map<std::string, TMouseHandler> mouseHandlers_;
  TNotifyHandler showHandler_;
  TKeyHandler keyHandler_;
  std::function<void()> afterEvent_;
  std::map<std::string, bool> menuChecks_;  // the checkable items and their marks
  std::map<std::string, std::string> settings_;
  bool shown_ = false;
  int depth_ = 0;
  std::string helpFile_;
  std::string title_;
};

}  // namespace goramina
