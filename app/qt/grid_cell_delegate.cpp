#include "app/qt/grid_cell_delegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace goramina {
namespace {

// QFont's narrowest stretch factor.
constexpr int kNarrowestStretch = 1;
// Tries at condensing: glyph widths round, so the first estimate may miss by a pixel.
constexpr int kFitAttempts = 4;

}  // namespace

QFont FontFittingWidth(const QFont& font, const QString& text, int width) {
  const qreal room = std::max(1, width);
  QFont fitted = font;
  for (int attempt = 0; attempt < kFitAttempts; ++attempt) {
    const qreal advance = QFontMetricsF(fitted).horizontalAdvance(text);
    if (advance <= room) return fitted;
    const int stretch =
        fitted.stretch() == QFont::AnyStretch ? int{QFont::Unstretched} : fitted.stretch();
    const int narrower = static_cast<int>(std::floor(stretch * room / advance));
    fitted.setStretch(std::max(kNarrowestStretch, std::min(narrower, stretch - 1)));
  }
  return fitted;
}

int CellTextRoom(const QStyleOptionViewItem& option) {
  const QWidget* widget = option.widget;
  const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
  // The common style keeps this margin inside the text rectangle on both sides.
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  return text.width() - 2 * margin;
}

void FitCellText(QStyleOptionViewItem& option) {
  if (option.text.isEmpty() || option.rect.width() <= 0) return;
  option.font = FontFittingWidth(option.font, option.text, CellTextRoom(option));
  option.fontMetrics = QFontMetrics(option.font);
}

void TGridCellDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  FitCellText(*option);
}

}  // namespace goramina
