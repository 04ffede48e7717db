#include "widgets/cute_button.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QShortcutEvent>
#include <algorithm>

namespace goramina {

namespace {

// The caption without accelerator marks, for assistive technology.
QString PlainCaption(const QString& caption) {
  QString plain;
  plain.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
    plain += caption[i];
  }
  return plain;
}

bool IsEnterKey(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

TCuteButtonTimer::TCuteButtonTimer(TCuteButton* button, int intervalMs)
    : QTimer(button), FButton(button) {
  setSingleShot(true);
  setInterval(intervalMs);
  connect(this, &QTimer::timeout, button, [button] { button->DropDownTimerFired(); });
}

TCuteButton::TCuteButton(QWidget* parent) : QWidget(parent) {
  const QPalette palette = QApplication::palette();
  FColor = palette.color(QPalette::Button);
  FFontColor = QColor(Qt::black);
  FBevelHighlightColor = palette.color(QPalette::Light);
  FBevelShadowColor = palette.color(QPalette::Dark);
  FDisabledColor = QColor::fromRgb(kDefaultDisabledColor);
  FBrush = QBrush(Qt::SolidPattern);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  resize(kDefaultWidth, kDefaultHeight);
}

TCuteButton::TCuteButton(const QString& caption, QWidget* parent) : TCuteButton(parent) {
  SetCaption(caption);
}

TCuteButton::~TCuteButton() {
  if (FDropDownMenu) FDropDownMenu->removeEventFilter(this);
}

// ---------------------------------------------------------------------------------------
// Properties

void TCuteButton::SetCaption(const QString& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  if (FShortcutId != 0) releaseShortcut(FShortcutId);
  FShortcutId = 0;
  const QKeySequence accelerator = QKeySequence::mnemonic(caption);
  if (!accelerator.isEmpty()) FShortcutId = grabShortcut(accelerator);
  setAccessibleName(PlainCaption(caption));
  update();
}

void TCuteButton::SetColor(const QColor& color) {
  if (color == FColor) return;
  FColor = color;
  update();
}

void TCuteButton::SetFontColor(const QColor& color) {
  if (color == FFontColor) return;
  FFontColor = color;
  update();
}

void TCuteButton::SetBevelHighlightColor(const QColor& color) {
  if (color == FBevelHighlightColor) return;
  FBevelHighlightColor = color;
  update();
}

void TCuteButton::SetBevelShadowColor(const QColor& color) {
  if (color == FBevelShadowColor) return;
  FBevelShadowColor = color;
  update();
}

void TCuteButton::SetDisabledColor(const QColor& color) {
  if (color == FDisabledColor) return;
  FDisabledColor = color;
  update();
}

void TCuteButton::SetUseDisabledColor(bool use) {
  if (use == FUseDisabledColor) return;
  FUseDisabledColor = use;
  update();
}

void TCuteButton::SetBrush(const QBrush& brush) {
  FBrush = brush;
  update();
}

void TCuteButton::SetFlat(bool flat) {
  if (flat == FFlat) return;
  FFlat = flat;
  update();
}

void TCuteButton::SetAlignment(TAlignment alignment) {
  if (alignment == FAlignment) return;
  FAlignment = alignment;
  update();
}

void TCuteButton::SetLayout(TTextLayout layout) {
  if (layout == FLayout) return;
  FLayout = layout;
  update();
}

void TCuteButton::SetBevelWidth(int width) {
  width = std::max(width, 1);
  if (width == FBevelWidth) return;
  FBevelWidth = width;
  update();
}

void TCuteButton::SetBorderStyle(TBorderStyle style) {
  if (style == FBorderStyle) return;
  FBorderStyle = style;
  update();
}

void TCuteButton::SetMarginX(int margin) {
  margin = std::max(margin, kNoMargin);
  if (margin == FMarginX) return;
  FMarginX = margin;
  update();
}

void TCuteButton::SetMarginY(int margin) {
  margin = std::max(margin, kNoMargin);
  if (margin == FMarginY) return;
  FMarginY = margin;
  update();
}

void TCuteButton::SetShowFocusRect(bool show) {
  if (show == FShowFocusRect) return;
  FShowFocusRect = show;
  update();
}

void TCuteButton::SetTabFocusUp(bool up) {
  if (up == FTabFocusUp) return;
  FTabFocusUp = up;
  if (FBevelOuter != TBevelCut::Lowered) SetBevelOuter(RestingBevel());
}

void TCuteButton::SetTabStop(bool tabStop) {
  FTabStop = tabStop;
  setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

void TCuteButton::SetEgnoreContClick(bool ignore) {
  FEgnoreContClick = ignore;
}

void TCuteButton::SetDropDownMenu(QMenu* menu) {
  FDropDownMenu = menu;
  if (!menu) DiscardDropDownTimer();
}

// ---------------------------------------------------------------------------------------
// State

void TCuteButton::SetBevelOuter(TBevelCut cut) {
  if (cut == FBevelOuter) return;
  FBevelOuter = cut;
  update();
}

TCuteButton::TBevelCut TCuteButton::RestingBevel() const {
  // A disabled button never lights up: it cannot be pressed, so a hot face would mislead.
  if (!isEnabled() || !isVisible()) return TBevelCut::None;
  if (FMouseInside) return TBevelCut::Raised;
  // The form's active control counts as focused even while another window (our own menu,
  // another program) is active: the focus comes back to it.
  if (FTabFocusUp && window()->focusWidget() == this) return TBevelCut::Raised;
  return TBevelCut::None;
}

void TCuteButton::Click() {
  if (!isEnabled()) return;
  if (!FEgnoreContClick) {
    emit OnClick();
    return;
  }
  // The handler is out of reach while it runs and while the events queued during it are
  // delivered, so an impatient second click cannot start the same work again.
  if (FInClickHandler) return;
  QPointer<TCuteButton> self(this);
  FInClickHandler = true;
  emit OnClick();
  if (!self) return;
  QCoreApplication::processEvents();
  if (!self) return;
  FInClickHandler = false;
}

// ---------------------------------------------------------------------------------------
// Painting

QRect TCuteButton::ClientRect() const {
  QRect client = rect();
  if (FBorderStyle == TBorderStyle::Single) client.adjust(1, 1, -1, -1);
  return client;
}

QRect TCuteButton::TextRect() const {
  const int inset = FFlat ? FBevelWidth : 2 * FBevelWidth;
  QRect text = ClientRect().adjusted(inset, inset, -inset, -inset);
  if (FMarginX != kNoMargin) {
    if (FAlignment == TAlignment::Left) text.setLeft(text.left() + FMarginX);
    if (FAlignment == TAlignment::Right) text.setRight(text.right() - FMarginX);
  }
  if (FMarginY != kNoMargin) {
    if (FLayout == TTextLayout::Top) text.setTop(text.top() + FMarginY);
    if (FLayout == TTextLayout::Bottom) text.setBottom(text.bottom() - FMarginY);
  }
  if (FBevelOuter == TBevelCut::Lowered) {
    text.setLeft(text.left() + kPressedCaptionShift);
    text.setTop(text.top() + kPressedCaptionShift);
  }
  return text;
}

// Draws `cut` as a frame of BevelWidth pixels along the inside of `rect` and shrinks `rect`
// by that width. The light edge takes the top row and the left column, the dark edge the
// right column and the bottom row (corners included), as a lit-from-the-top-left frame does.
void TCuteButton::PaintBevel(QPainter& painter, QRect& rect, TBevelCut cut) const {
  for (int i = 0; i < FBevelWidth && rect.width() > 0 && rect.height() > 0; ++i) {
    if (cut != TBevelCut::None) {
      const bool raised = cut == TBevelCut::Raised;
      const QColor topLeft = raised ? FBevelHighlightColor : FBevelShadowColor;
      const QColor bottomRight = raised ? FBevelShadowColor : FBevelHighlightColor;
      painter.fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), topLeft);
      painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), topLeft);
      painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottomRight);
      painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottomRight);
    }
    rect.adjust(1, 1, -1, -1);
  }
}

void TCuteButton::PaintCaption(QPainter& painter, const QRect& textRect) const {
  if (FCaption.isEmpty() || textRect.isEmpty()) return;
  int flags = Qt::TextSingleLine | Qt::TextShowMnemonic;
  switch (FAlignment) {
    case TAlignment::Left:
      flags |= Qt::AlignLeft;
      break;
    case TAlignment::Right:
      flags |= Qt::AlignRight;
      break;
    case TAlignment::Center:
      flags |= Qt::AlignHCenter;
      break;
  }
  switch (FLayout) {
    case TTextLayout::Top:
      flags |= Qt::AlignTop;
      break;
    case TTextLayout::Bottom:
      flags |= Qt::AlignBottom;
      break;
    case TTextLayout::Center:
      flags |= Qt::AlignVCenter;
      break;
  }
  painter.setFont(font());
  if (isEnabled()) {
    painter.setPen(FFontColor);
    painter.drawText(textRect, flags, FCaption);
    return;
  }
  // Engraved: a light copy one pixel down and right, the dark caption on top of it.
  painter.setPen(FBevelHighlightColor);
  painter.drawText(textRect.translated(1, 1), flags, FCaption);
  painter.setPen(FBevelShadowColor);
  painter.drawText(textRect, flags, FCaption);
}

void TCuteButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect client = ClientRect();
  if (FBorderStyle == TBorderStyle::Single) {
    painter.setPen(QColor(Qt::black));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  const QColor face = (FUseDisabledColor && !isEnabled()) ? FDisabledColor : FColor;
  QBrush fill = FBrush;
  if (fill.style() != Qt::NoBrush && !fill.gradient() && fill.texture().isNull()) {
    fill.setColor(face);
  }
  painter.fillRect(client, fill);

  QRect frame = client;
  PaintBevel(painter, frame, FBevelOuter);
  if (!FFlat) PaintBevel(painter, frame, TBevelCut::Raised);

  // The caption stays inside the bevels however large the margins are.
  const QRect text = TextRect();
  painter.save();
  painter.setClipRect(client.adjusted(FBevelWidth, FBevelWidth, -FBevelWidth, -FBevelWidth));
  PaintCaption(painter, text);
  painter.restore();

  if (FShowFocusRect && hasFocus()) {
    const QRect focus =
        text.adjusted(kFocusRectInset, kFocusRectInset, -kFocusRectInset, -kFocusRectInset);
    if (focus.width() > 1 && focus.height() > 1) {
      QPen pen(isEnabled() ? FFontColor : FBevelShadowColor, 1, Qt::DotLine);
      painter.setPen(pen);
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(focus.adjusted(0, 0, -1, -1));
    }
  }
}

// ---------------------------------------------------------------------------------------
// Mouse

void TCuteButton::MouseCameIn(QPoint position) {
  if (FMouseInside) return;
  FMouseInside = true;
  emit OnMouseEnter(CurrentShiftState(), position);
  if (!isEnabled()) return;
  SetBevelOuter(FMouseDown ? TBevelCut::Lowered : TBevelCut::Raised);
}

void TCuteButton::MouseWentOut(QPoint position) {
  if (!FMouseInside) return;
  FMouseInside = false;
  emit OnMouseLeave(CurrentShiftState(), position);
  // A button held and dragged off no longer looks pressed: releasing out there will not click.
  SetBevelOuter(RestingBevel());
}

void TCuteButton::enterEvent(QEnterEvent* event) {
  MouseCameIn(event->position().toPoint());
  QWidget::enterEvent(event);
}

void TCuteButton::leaveEvent(QEvent* event) {
  // Qt holds back the leave of a widget that has the mouse grabbed; the move handler has
  // reported it already in that case.
  MouseWentOut(mapFromGlobal(QCursor::pos()));
  QWidget::leaveEvent(event);
}

void TCuteButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  CancelSpacePress();
  setFocus(Qt::MouseFocusReason);
  FMouseDown = true;
  MouseCameIn(event->position().toPoint());
  SetBevelOuter(TBevelCut::Lowered);
  if (FDropDownMenu) StartDropDown(TDropDownTrigger::Mouse);
}

void TCuteButton::mouseMoveEvent(QMouseEvent* event) {
  if (!FMouseDown) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  // While held the button owns the mouse and Qt reports no enter or leave: follow it here.
  const QPoint position = event->position().toPoint();
  if (rect().contains(position)) {
    MouseCameIn(position);
  } else {
    MouseWentOut(position);
  }
}

void TCuteButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !FMouseDown) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  const QPoint position = event->position().toPoint();
  const bool inside = rect().contains(position);
  FMouseDown = false;
  DiscardDropDownTimer();
  if (!inside) MouseWentOut(position);
  SetBevelOuter(RestingBevel());
  if (inside) Click();
}

// ---------------------------------------------------------------------------------------
// Keyboard and focus

void TCuteButton::CancelSpacePress() {
  if (!FSpaceDown) return;
  FSpaceDown = false;
  if (FDropDownTrigger == TDropDownTrigger::Key) DiscardDropDownTimer();
  SetBevelOuter(RestingBevel());
}

void TCuteButton::PressAndRelease() {
  QPointer<TCuteButton> self(this);
  SetBevelOuter(TBevelCut::Lowered);
  if (FDropDownMenu && FDropDownDelay <= 0) {
    OpenDropDown(TDropDownTrigger::Key);
  } else {
    Click();
  }
  if (self) SetBevelOuter(RestingBevel());
}

void TCuteButton::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Space) {
    event->accept();
    if (event->isAutoRepeat() || FSpaceDown || FMouseDown) return;
    FSpaceDown = true;
    SetBevelOuter(TBevelCut::Lowered);
    if (FDropDownMenu) StartDropDown(TDropDownTrigger::Key);
    return;
  }
  CancelSpacePress();
  if (IsEnterKey(key) && !FMouseDown) {
    event->accept();
    PressAndRelease();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TCuteButton::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space) {
    QWidget::keyReleaseEvent(event);
    return;
  }
  event->accept();
  if (event->isAutoRepeat() || !FSpaceDown) return;
  FSpaceDown = false;
  // Released before the delay ran out: a click, and no menu afterwards.
  DiscardDropDownTimer();
  SetBevelOuter(RestingBevel());
  Click();
}

void TCuteButton::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  if (event->reason() == Qt::PopupFocusReason) return;  // back from our own menu
  if (FTabFocusUp && FBevelOuter == TBevelCut::None) SetBevelOuter(TBevelCut::Raised);
  update();
}

void TCuteButton::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  // A popup (our own drop-down) takes the focus only for a while; the press goes on.
  if (event->reason() == Qt::PopupFocusReason) return;
  // Any other loss ends a Space press: its release will go elsewhere.
  CancelSpacePress();
  if (FBevelOuter != TBevelCut::Lowered) SetBevelOuter(RestingBevel());
  update();
}

bool TCuteButton::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    auto* shortcut = static_cast<QShortcutEvent*>(event);
    if (FShortcutId == 0 || shortcut->shortcutId() != FShortcutId) return QWidget::event(event);
    if (!isEnabled() || !isVisible()) return true;
    if (shortcut->isAmbiguous()) {
      // Several controls share the letter: step the focus to this one instead of guessing.
      setFocus(Qt::ShortcutFocusReason);
      return true;
    }
    PressAndRelease();
    return true;
  }
  return QWidget::event(event);
}

void TCuteButton::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::EnabledChange) return;
  if (!isEnabled()) {
    FMouseDown = false;
    FSpaceDown = false;
    DiscardDropDownTimer();
  }
  SetBevelOuter(RestingBevel());
  update();
}

void TCuteButton::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  FMouseDown = false;
  FSpaceDown = false;
  FMouseInside = false;
  DiscardDropDownTimer();
  SetBevelOuter(TBevelCut::None);
}

// ---------------------------------------------------------------------------------------
// Drop-down menu

void TCuteButton::StartDropDown(TDropDownTrigger trigger) {
  if (!FDropDownMenu) return;
  if (FDropDownDelay <= 0) {
    OpenDropDown(trigger);
    return;
  }
  if (FDropDownTimer) return;
  FDropDownTrigger = trigger;
  FDropDownTimer = new TCuteButtonTimer(this, FDropDownDelay);
  FDropDownTimer->start();
}

void TCuteButton::DiscardDropDownTimer() {
  if (!FDropDownTimer) return;
  FDropDownTimer->stop();
  FDropDownTimer->deleteLater();
  FDropDownTimer = nullptr;
}

void TCuteButton::DropDownTimerFired() {
  const TDropDownTrigger trigger = FDropDownTrigger;
  DiscardDropDownTimer();
  // The menu drops only for a press still going on.
  const bool held = trigger == TDropDownTrigger::Key ? FSpaceDown : FMouseDown;
  if (held && isEnabled()) OpenDropDown(trigger);
}

void TCuteButton::OpenDropDown(TDropDownTrigger trigger) {
  QPointer<QMenu> menu = FDropDownMenu;
  if (!menu) return;
  QPointer<TCuteButton> self(this);
  // A click on the button that closes the menu must not reach the button again and drop
  // the menu anew: the filter keeps Qt from replaying that press.
  menu->installEventFilter(this);
  menu->exec(mapToGlobal(QPoint(0, height())));
  if (menu) menu->removeEventFilter(this);
  if (!self) return;
  // The press that dropped the menu ends here, without a click.
  if (trigger == TDropDownTrigger::Mouse) {
    FMouseDown = false;
    FMouseInside = rect().contains(mapFromGlobal(QCursor::pos()));
  } else {
    FSpaceDown = false;
  }
  DiscardDropDownTimer();
  SetBevelOuter(RestingBevel());
}

bool TCuteButton::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FDropDownMenu && event->type() == QEvent::MouseButtonPress) {
    const auto* press = static_cast<QMouseEvent*>(event);
    const QPoint local = mapFromGlobal(press->globalPosition().toPoint());
    if (rect().contains(local)) FDropDownMenu->setAttribute(Qt::WA_NoMouseReplay);
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace goramina
