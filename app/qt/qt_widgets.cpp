#include "app/qt/qt_widgets.h"

#include <QMouseEvent>
#include <QPainter>

namespace goramina {

QColor ToQColor(TColor colour) {
  if (colour == clDefault) return QColor();
  return QColor(RedOf(colour), GreenOf(colour), BlueOf(colour));
}

QtShape::QtShape(TShapeKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void QtShape::SetColours(QColor fill, QColor pen) {
  fill_ = fill.isValid() ? fill : QColor(Qt::white);
  pen_ = pen.isValid() ? pen : fill_;
  update();
}

void QtShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (kind_ == TShapeKind::Rectangle) {
    painter.fillRect(rect(), fill_);
    if (pen_ != fill_) {
      painter.setPen(pen_);
      painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  if (kind_ == TShapeKind::Ring) {
    constexpr qreal kPenWidth = 2;
    painter.setPen(QPen(pen_, kPenWidth));
    painter.setBrush(Qt::NoBrush);
    const qreal inset = kPenWidth / 2;
    painter.drawEllipse(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
    return;
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill_);
  painter.drawEllipse(QRectF(rect()));
}

QtImage::QtImage(bool stretch, QWidget* parent) : QWidget(parent), stretch_(stretch) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void QtImage::SetPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void QtImage::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.setRenderHint(QPainter::Antialiasing);
  if (stretch_) {
    painter.drawImage(QRectF(rect()), picture_);
  } else {
    painter.drawImage(QPointF(0, 0), picture_);
  }
}

QtTextLabel::QtTextLabel(TAlignment alignment, QWidget* parent, TPressHandler onPress)
    : QWidget(parent), alignment_(alignment), onPress_(std::move(onPress)) {}

void QtTextLabel::SetText(const QString& text) {
  text_ = text;
  update();
}

void QtTextLabel::SetTextColour(QColor colour) {
  colour_ = colour.isValid() ? colour : QColor(Qt::black);
  update();
}

void QtTextLabel::paintEvent(QPaintEvent*) {
  if (text_.isEmpty()) return;
  QPainter painter(this);
  painter.setPen(colour_);
  painter.setFont(font());
  int flags = Qt::AlignVCenter | Qt::TextSingleLine;
  flags |= alignment_ == TAlignment::Center  ? Qt::AlignHCenter
           : alignment_ == TAlignment::Right ? Qt::AlignRight
                                             : Qt::AlignLeft;
  painter.drawText(rect(), flags, text_);
}

void QtTextLabel::mousePressEvent(QMouseEvent* event) {
  TMouseButton button = TMouseButton::Left;
  if (event->button() == Qt::RightButton) button = TMouseButton::Right;
  if (event->button() == Qt::MiddleButton) button = TMouseButton::Middle;
  TShiftState shift = 0;
  const auto mods = event->modifiers();
  if (mods & Qt::ShiftModifier) shift |= ssShift;
  if (mods & Qt::AltModifier) shift |= ssAlt;
  if (mods & Qt::ControlModifier) shift |= ssCtrl;
  const auto buttons = event->buttons();
  if (buttons & Qt::LeftButton) shift |= ssLeft;
  if (buttons & Qt::RightButton) shift |= ssRight;
  if (buttons & Qt::MiddleButton) shift |= ssMiddle;
  const QPoint at = event->position().toPoint();
  if (onPress_) onPress_(button, shift, at.x(), at.y());
  event->accept();
}

QImage ToQImage(const TBitmap& bitmap) {
  QImage image(bitmap.width, bitmap.height, QImage::Format_ARGB32);
  for (int y = 0; y < bitmap.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bitmap.width; ++x) line[x] = bitmap.At(x, y);
  }
  return image;
}

}  // namespace goramina
