// Draws the cells of the data-aware grids so that no text is ever cut: the columns are as
// narrow as the form made them (28 pixels for four digits), so a text wider than its cell is
// drawn condensed to the room the cell has instead of losing its last characters.
#pragma once

#include <QFont>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>

namespace goramina {

// The font that draws `text` within `width` pixels: `font` itself when the text fits, else
// the same font condensed just enough (never cut, however long the text).
QFont FontFittingWidth(const QFont& font, const QString& text, int width);

// The pixels the style leaves for the text of the cell `option` describes (its rect, widget
// and features set): the text rectangle less the style's text margin at either side.
int CellTextRoom(const QStyleOptionViewItem& option);

// Sets the option's font to one that draws its text within CellTextRoom.
void FitCellText(QStyleOptionViewItem& option);

class TGridCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace goramina
