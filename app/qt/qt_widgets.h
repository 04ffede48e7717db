// The small widgets the board is made of: shapes, stretched transparent images and
// transparent labels that report mouse presses.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>

#include "app/toolkit/form_spec.h"
#include "app/toolkit/toolkit.h"

namespace goramina {

QColor ToQColor(TColor colour);

// A filled rectangle or circle; lets the mouse through to what lies below.
class QtShape : public QWidget {
 public:
  QtShape(TShapeKind kind, QWidget* parent);
  void SetColours(QColor fill, QColor pen);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  TShapeKind kind_;
  QColor fill_, pen_;
};

// A picture drawn smoothly scaled to the widget (or at its own size when not stretched), with
// the picture's transparency; lets the mouse through.
class QtImage : public QWidget {
 public:
  QtImage(bool stretch, QWidget* parent);
  void SetPicture(const QImage& picture);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  bool stretch_;
  QImage picture_;
};

// Text on a transparent background that reports mouse presses with button and shift state.
class QtTextLabel : public QWidget {
 public:
  using TPressHandler = std::function<void(TMouseButton, TShiftState, int x, int y)>;
  QtTextLabel(TAlignment alignment, QWidget* parent, TPressHandler onPress);
  void SetText(const QString& text);
  void SetTextColour(QColor colour);
  const QString& Text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  TAlignment alignment_;
  TPressHandler onPress_;
  QString text_;
  QColor colour_ = Qt::black;
};

// Converts a picture to a QImage with its alpha channel.
QImage ToQImage(const TBitmap& bitmap);

}  // namespace goramina
