// Colours written the way the window's design states them: packed integers with red in the
// low byte and blue in the high byte (8576250 is RGB(250, 220, 130)).
#pragma once

#include <QColor>
#include <cstdint>

namespace goramina {

// The colour of a packed value; only the low 24 bits count.
inline QColor ColorFromPacked(std::uint32_t packed) {
  return QColor(static_cast<int>(packed & 0xFFu), static_cast<int>((packed >> 8) & 0xFFu),
                static_cast<int>((packed >> 16) & 0xFFu));
}

// The packed value of a colour (alpha is dropped).
inline std::uint32_t PackedFromColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<std::uint32_t>(rgb.red()) | (static_cast<std::uint32_t>(rgb.green()) << 8) |
         (static_cast<std::uint32_t>(rgb.blue()) << 16);
}

// The named "money green" of the design, RGB(192, 220, 192).
inline QColor MoneyGreen() {
  return QColor(192, 220, 192);
}

}  // namespace goramina
