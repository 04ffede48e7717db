#include "app/qt/cute_button_face.h"

#include <QFontMetrics>

#include "widgets/cute_button.h"

namespace goramina {
namespace {

constexpr int kWindowPixelHeight = 12;
constexpr int kSmallestPixelHeight = 9;
constexpr int kCaptionClearance = 4;  // two bevels on each side

}  // namespace

QWidget* NewCuteButton(QWidget* parent, std::function<void()> onClick) {
  auto* button = new TCuteButton(parent);
  button->SetEgnoreContClick(true);
  QObject::connect(button, &TCuteButton::OnClick, button, std::move(onClick));
  return button;
}

bool IsCuteButton(const QWidget* widget) {
  return qobject_cast<const TCuteButton*>(widget) != nullptr;
}

void SetCuteButtonCaption(QWidget* button, const QString& caption) {
  auto* b = qobject_cast<TCuteButton*>(button);
  if (b == nullptr) return;
  b->SetCaption(caption);
  FitCuteButtonCaption(b);
}

void FitCuteButtonCaption(QWidget* button) {
  auto* b = qobject_cast<TCuteButton*>(button);
  if (b == nullptr || b->width() <= 0) return;
  // A five-character caption is as wide as the 60-pixel button at the window's font: it is
  // drawn a pixel or two smaller so that it fits between the bevels.
  QFont font = b->font();
  int size = kWindowPixelHeight;
  QString text = b->Caption();
  text.remove('&');
  for (font.setPixelSize(size); size > kSmallestPixelHeight; font.setPixelSize(--size)) {
    if (QFontMetrics(font).horizontalAdvance(text) <= b->width() - kCaptionClearance) break;
  }
  if (font.pixelSize() != b->font().pixelSize()) b->setFont(font);
}

void SetCuteButtonFace(QWidget* button, const QColor& face) {
  if (auto* b = qobject_cast<TCuteButton*>(button)) b->SetColor(face);
}

void SetCuteButtonCaptionColour(QWidget* button, const QColor& colour) {
  if (auto* b = qobject_cast<TCuteButton*>(button)) b->SetFontColor(colour);
}

}  // namespace goramina
