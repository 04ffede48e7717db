// The window's push buttons as the toolkit drives them: a new button wired to the click
// delivery, and the caption, face and caption colour the logic sets, with captions fitted
// to the button's width.
#pragma once

#include <QColor>
#include <QString>
#include <functional>

class QWidget;

namespace goramina {

// A new TCuteButton that ignores clicks made while its handler runs; `onClick` runs on every
// click.
QWidget* NewCuteButton(QWidget* parent, std::function<void()> onClick);
// True when `widget` is a TCuteButton; the setters below do nothing for other widgets.
bool IsCuteButton(const QWidget* widget);
// Sets the caption and fits it (FitCuteButtonCaption).
void SetCuteButtonCaption(QWidget* button, const QString& caption);
// Draws the caption a little smaller when it is wider than the button.
void FitCuteButtonCaption(QWidget* button);
void SetCuteButtonFace(QWidget* button, const QColor& face);
void SetCuteButtonCaptionColour(QWidget* button, const QColor& colour);

}  // namespace goramina
