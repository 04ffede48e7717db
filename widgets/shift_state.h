// The shift state handed to mouse events: which modifier keys and mouse buttons are held.
#pragma once

#include <QFlags>

namespace goramina {

enum class TMouseShiftFlag : unsigned {
  Shift = 0x01,
  Alt = 0x02,
  Ctrl = 0x04,
  Left = 0x08,
  Right = 0x10,
  Middle = 0x20,
};
Q_DECLARE_FLAGS(TMouseShiftState, TMouseShiftFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMouseShiftState)

// The state as the keyboard and mouse are now (not as some queued event saw them).
TMouseShiftState CurrentShiftState();

}  // namespace goramina
