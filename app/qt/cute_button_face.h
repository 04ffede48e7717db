// The window's push buttons reached without the button's header: TCuteButton's shift-state
// type and the toolkit's share a name, so the toolkit's code talks to the buttons through
// these few functions.
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
