#include "app/qt/cute_button_face.h"

#include "widgets/cute_button.h"

namespace goramina {

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
  if (auto* b = qobject_cast<TCuteButton*>(button)) b->SetCaption(caption);
}

void SetCuteButtonFace(QWidget* button, const QColor& face) {
  if (auto* b = qobject_cast<TCuteButton*>(button)) b->SetColor(face);
}

void SetCuteButtonCaptionColour(QWidget* button, const QColor& colour) {
  if (auto* b = qobject_cast<TCuteButton*>(button)) b->SetFontColor(colour);
}

}  // namespace goramina
