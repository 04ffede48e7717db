#include "widgets/shift_state.h"

#include <QGuiApplication>

namespace goramina {

TMouseShiftState CurrentShiftState() {
  TMouseShiftState state;
  const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
  const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
  if (keys & Qt::ShiftModifier) state |= TMouseShiftFlag::Shift;
  if (keys & Qt::AltModifier) state |= TMouseShiftFlag::Alt;
  if (keys & Qt::ControlModifier) state |= TMouseShiftFlag::Ctrl;
  if (buttons & Qt::LeftButton) state |= TMouseShiftFlag::Left;
  if (buttons & Qt::RightButton) state |= TMouseShiftFlag::Right;
  if (buttons & Qt::MiddleButton) state |= TMouseShiftFlag::Middle;
  return state;
}

}  // namespace goramina
