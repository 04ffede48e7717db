#include "widgets/shift_state.h"

#include <QGuiApplication>

namespace goramina {

TShiftState CurrentShiftState() {
  TShiftState state;
  const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
  const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
  if (keys & Qt::ShiftModifier) state |= TShiftFlag::Shift;
  if (keys & Qt::AltModifier) state |= TShiftFlag::Alt;
  if (keys & Qt::ControlModifier) state |= TShiftFlag::Ctrl;
  if (buttons & Qt::LeftButton) state |= TShiftFlag::Left;
  if (buttons & Qt::RightButton) state |= TShiftFlag::Right;
  if (buttons & Qt::MiddleButton) state |= TShiftFlag::Middle;
  return state;
}

}  // namespace goramina
