// TCuteButton: the push button of the main window, which draws its own face.
//
// The face is a panel with two bevels. The inner bevel is always raised (absent when Flat);
// the outer bevel carries the state:
//
//   none     resting: the mouse is elsewhere and the button is not focused
//   raised   hot (the mouse is over it) or focused (with TabFocusUp)
//   lowered  pressed by the left mouse button, Space or Enter
//
// A click happens when the left button is released over the button, when Space is released
// after a Space press on it, on Enter, and on the accelerator of the caption ("&").
//
// A button may drop a menu below itself, at once or after it has been held for
// DropDownDelay milliseconds; a press that ends in a menu never clicks. With EgnoreContClick
// the click handler cannot be re-entered: clicks made while it runs, and clicks still queued
// when it returns, are swallowed.
//
// The button is a QWidget and not a QAbstractButton on purpose: its press, hot and focus
// states follow rules of their own, and QAbstractButton's click(), animateClick(), auto-repeat
// and checkable machinery would offer ways to emit a click that bypass the menu and
// EgnoreContClick guards. Every click goes through Click().
#pragma once

#include <QBrush>
#include <QColor>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "widgets/shift_state.h"

namespace goramina {

class TCuteButton;

// The delay timer of a drop-down: single-shot, owned by its button, at most one at a time.
class TCuteButtonTimer : public QTimer {
  Q_OBJECT
 public:
  // A stopped single-shot timer of `intervalMs` that reports to `button` when it fires.
  TCuteButtonTimer(TCuteButton* button, int intervalMs);

  TCuteButton* Button() const { return FButton; }

 private:
  TCuteButton* FButton;
};

class TCuteButton : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(QColor FontColor READ FontColor WRITE SetFontColor)
  Q_PROPERTY(QColor BevelHighlightColor READ BevelHighlightColor WRITE SetBevelHighlightColor)
  Q_PROPERTY(QColor BevelShadowColor READ BevelShadowColor WRITE SetBevelShadowColor)
  Q_PROPERTY(QColor DisabledColor READ DisabledColor WRITE SetDisabledColor)
  Q_PROPERTY(bool UseDisabledColor READ UseDisabledColor WRITE SetUseDisabledColor)
  Q_PROPERTY(int DropDownDelay READ DropDownDelay WRITE SetDropDownDelay)
  Q_PROPERTY(bool EgnoreContClick READ EgnoreContClick WRITE SetEgnoreContClick)
  Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
  Q_PROPERTY(int MarginX READ MarginX WRITE SetMarginX)
  Q_PROPERTY(int MarginY READ MarginY WRITE SetMarginY)
  Q_PROPERTY(bool ShowFocusRect READ ShowFocusRect WRITE SetShowFocusRect)
  Q_PROPERTY(bool TabFocusUp READ TabFocusUp WRITE SetTabFocusUp)
  Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
  Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)

 public:
  enum class TBevelCut { None, Raised, Lowered };
  enum class TAlignment { Left, Right, Center };
  enum class TTextLayout { Top, Center, Bottom };
  enum class TBorderStyle { None, Single };
  // What started a drop-down: a held mouse button or a held key.
  enum class TDropDownTrigger { Mouse, Key };

  // Margin value meaning "no margin"; smaller values are stored as this.
  static constexpr int kNoMargin = -1;
  static constexpr int kDefaultWidth = 75;
  static constexpr int kDefaultHeight = 25;
  // Packed 8421504: the grey of a disabled face.
  static constexpr QRgb kDefaultDisabledColor = 0xFF808080;
  // How far the caption moves right and down while the button is pressed.
  static constexpr int kPressedCaptionShift = 2;
  // Distance of the focus rectangle inside the caption rectangle.
  static constexpr int kFocusRectInset = 2;

  // A 75x25 button with an empty caption, resting (outer bevel none, inner bevel raised),
  // centred caption, face and bevel colours from the application palette, black caption.
  explicit TCuteButton(QWidget* parent = nullptr);
  // A button with a caption; "&x" makes Alt+x its accelerator and underlines x, "&&" is "&".
  explicit TCuteButton(const QString& caption, QWidget* parent = nullptr);
  ~TCuteButton() override;

  // --- Appearance. Every setter repaints when the value changes. ---
  QString Caption() const { return FCaption; }
  // Sets the caption and re-registers its accelerator (none when the caption has no "&x").
  void SetCaption(const QString& caption);
  QColor Color() const { return FColor; }
  void SetColor(const QColor& color);
  QColor FontColor() const { return FFontColor; }
  void SetFontColor(const QColor& color);
  QColor BevelHighlightColor() const { return FBevelHighlightColor; }
  void SetBevelHighlightColor(const QColor& color);
  QColor BevelShadowColor() const { return FBevelShadowColor; }
  void SetBevelShadowColor(const QColor& color);
  QColor DisabledColor() const { return FDisabledColor; }
  void SetDisabledColor(const QColor& color);
  bool UseDisabledColor() const { return FUseDisabledColor; }
  void SetUseDisabledColor(bool use);
  // The fill pattern of the face. Its colour is ignored for plain patterns: the face is
  // always filled in Color (or DisabledColor); gradient and texture brushes are used as is.
  QBrush Brush() const { return FBrush; }
  void SetBrush(const QBrush& brush);
  bool Flat() const { return FFlat; }
  void SetFlat(bool flat);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment alignment);
  TTextLayout Layout() const { return FLayout; }
  void SetLayout(TTextLayout layout);
  // Width of each bevel in pixels; at least 1.
  int BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int width);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle style);
  // Caption margin from the aligned side (left/right alignment, top/bottom layout);
  // kNoMargin for none. Values below kNoMargin are stored as kNoMargin.
  int MarginX() const { return FMarginX; }
  void SetMarginX(int margin);
  int MarginY() const { return FMarginY; }
  void SetMarginY(int margin);
  bool ShowFocusRect() const { return FShowFocusRect; }
  void SetShowFocusRect(bool show);

  // --- Behaviour. ---
  // Show the raised bevel while the button has the focus.
  bool TabFocusUp() const { return FTabFocusUp; }
  void SetTabFocusUp(bool up);
  // In the Tab order (true) or focusable by mouse only (false).
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool tabStop);
  bool EgnoreContClick() const { return FEgnoreContClick; }
  void SetEgnoreContClick(bool ignore);
  // The menu dropped below the button, not owned; nullptr for none. Cleared when the menu
  // is destroyed.
  QMenu* DropDownMenu() const { return FDropDownMenu; }
  void SetDropDownMenu(QMenu* menu);
  // Milliseconds the button must be held before the menu drops; 0 or less drops it at once.
  int DropDownDelay() const { return FDropDownDelay; }
  void SetDropDownDelay(int delayMs) { FDropDownDelay = delayMs; }

  // --- State. ---
  TBevelCut BevelOuter() const { return FBevelOuter; }
  // Raised, or None for a Flat button.
  TBevelCut BevelInner() const { return FFlat ? TBevelCut::None : TBevelCut::Raised; }
  // The drop-down delay timer while one runs, else nullptr.
  TCuteButtonTimer* DropDownTimer() const { return FDropDownTimer; }
  // The rectangle the caption is laid out in, for the present state.
  QRect TextRect() const;

  // Clicks the button: emits OnClick unless the button is disabled or, with
  // EgnoreContClick, a click handler of this button is still running. With EgnoreContClick
  // the events queued while the handler ran are processed before the handler is available
  // again, so queued clicks are swallowed too. Safe if a handler deletes the button.
  void Click();

  QSize sizeHint() const override { return QSize(kDefaultWidth, kDefaultHeight); }

 signals:
  void OnClick();
  // The mouse came over / left the button; `position` in client coordinates.
  void OnMouseEnter(goramina::TMouseShiftState shift, QPoint position);
  void OnMouseLeave(goramina::TMouseShiftState shift, QPoint position);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  friend class TCuteButtonTimer;

  void SetBevelOuter(TBevelCut cut);
  // The bevel of a button nobody presses: raised while hot or, with TabFocusUp, while it is
  // its window's focused control; none while disabled or hidden.
  TBevelCut RestingBevel() const;
  QRect ClientRect() const;
  void MouseCameIn(QPoint position);
  void MouseWentOut(QPoint position);
  // Enter and the accelerator: press, click or drop the menu, release.
  void PressAndRelease();
  void CancelSpacePress();
  void StartDropDown(TDropDownTrigger trigger);
  void DropDownTimerFired();
  void DiscardDropDownTimer();
  void OpenDropDown(TDropDownTrigger trigger);
  void PaintBevel(QPainter& painter, QRect& rect, TBevelCut cut) const;
  void PaintCaption(QPainter& painter, const QRect& textRect) const;

  QString FCaption;
  int FShortcutId = 0;
  QColor FColor;
  QColor FFontColor;
  QColor FBevelHighlightColor;
  QColor FBevelShadowColor;
  QColor FDisabledColor;
  bool FUseDisabledColor = false;
  QBrush FBrush;
  bool FFlat = false;
  TAlignment FAlignment = TAlignment::Center;
  TTextLayout FLayout = TTextLayout::Center;
  int FBevelWidth = 1;
  TBorderStyle FBorderStyle = TBorderStyle::None;
  int FMarginX = kNoMargin;
  int FMarginY = kNoMargin;
  bool FShowFocusRect = false;
  bool FTabFocusUp = true;
  bool FTabStop = true;
  bool FEgnoreContClick = false;
  QPointer<QMenu> FDropDownMenu;
  int FDropDownDelay = 0;

  TBevelCut FBevelOuter = TBevelCut::None;
  bool FMouseInside = false;
  bool FMouseDown = false;  // the left button was pressed on us and not yet released
  bool FSpaceDown = false;  // Space was pressed on us and not yet released
  bool FInClickHandler = false;
  TDropDownTrigger FDropDownTrigger = TDropDownTrigger::Mouse;
  TCuteButtonTimer* FDropDownTimer = nullptr;
};

}  // namespace goramina
