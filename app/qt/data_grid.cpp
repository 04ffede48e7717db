#include "app/qt/data_grid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <exception>

#include "app/collection/field_text.h"
#include "app/qt/grid_cell_delegate.h"
#include "dataset/cp932.h"
#include "dataset/data_set.h"
#include "dataset/field.h"

namespace goramina {
namespace {

constexpr int kIndicatorWidth = 12;
constexpr int kRowHeight = 17;

Qt::Alignment CellAlignment(TAlignment a) {
  switch (a) {
    case TAlignment::Center:
      return Qt::AlignCenter;
    case TAlignment::Right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case TAlignment::Left:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

// The text of a stored value: decimal numbers, strings from code page 932.
QString CellText(const kura::TField& field, const kura::TFieldValue& value) {
  if (value.IsNull) return QString();
  if (field.DataType() == kura::TFieldType::ftString) {
    return QString::fromStdString(kura::Cp932ToUtf8(value.Text));
  }
  return QString::fromStdString(kura::ValueAsString(field.DataType(), value));
}

}  // namespace

TDataGridModel::TDataGridModel(std::vector<TGridColumn> columns, TErrorHandler onError,
                               QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)), onError_(std::move(onError)) {}

int TDataGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !Active()) return 0;
  return DataSet()->DisplayRowCount();
}

int TDataGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int TDataGridModel::FieldIndexOf(int column) const {
  if (!Active() || column < 0 || column >= static_cast<int>(columns_.size())) return -1;
  const kura::TField* field = DataSet()->FindField(columns_[static_cast<size_t>(column)].field);
  return field == nullptr ? -1 : field->Index();
}

QVariant TDataGridModel::data(const QModelIndex& index, int role) const {
  const int field = FieldIndexOf(index.column());
  if (field < 0) return QVariant();
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(
        CellAlignment(columns_[static_cast<size_t>(index.column())].alignment));
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  kura::TDataSet& ds = *DataSet();
  return CellText(ds.Fields(field), ds.CellValue(index.row() + 1, field));
}

QVariant TDataGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= static_cast<int>(columns_.size())) return QVariant();
    return QString::fromStdString(columns_[static_cast<size_t>(section)].title);
  }
  if (section != CurrentRow()) return QString();
  switch (DataSet()->State()) {
    case kura::TDataSetState::dsEdit:
      return QStringLiteral("I");
    case kura::TDataSetState::dsInsert:
      return QStringLiteral("*");
    default:
      return QStringLiteral("▶");
  }
}

Qt::ItemFlags TDataGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const int field = FieldIndexOf(index.column());
  if (field >= 0 && DataSet()->CanModify() && !DataSet()->Fields(field).ReadOnly()) {
    f |= Qt::ItemIsEditable;
  }
  return f;
}

bool TDataGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const int field = FieldIndexOf(index.column());
  if (role != Qt::EditRole || field < 0 || index.row() != CurrentRow()) return false;
  try {
    kura::TDataSet& ds = *DataSet();
    ds.Edit();  // nothing to do while already editing or appending
    SetFieldText(ds.Fields(field), value.toString().toStdString());
    return true;
  } catch (const std::exception& e) {
    if (onError_) onError_(e.what());
    return false;
  }
}

int TDataGridModel::CurrentRow() const {
  if (!Active()) return -1;
  return DataSet()->DisplayRow() - 1;
}

void TDataGridModel::Reload() {
  beginResetModel();
  endResetModel();
  marked_row_ = CurrentRow();
  if (onCurrentChanged) onCurrentChanged();
}

void TDataGridModel::RedrawRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  emit headerDataChanged(Qt::Vertical, row, row);
}

void TDataGridModel::ActiveChanged() {
  Reload();
}

void TDataGridModel::DataSetChanged() {
  Reload();
}

void TDataGridModel::DataSetScrolled(int) {
  // Only the row left (it may have shown pending values, and its indicator) and the row
  // reached change; redrawing every row would lay the whole grid out again on every move.
  const int row = CurrentRow();
  if (row != marked_row_) RedrawRow(marked_row_);
  RedrawRow(row);
  marked_row_ = row;
  if (onCurrentChanged) onCurrentChanged();
}

void TDataGridModel::RecordChanged(const kura::TField*) {
  const int row = CurrentRow();
  if (row >= 0 && row < rowCount()) {
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  }
}

void TDataGridModel::StateChanged() {
  // Appending adds a row and cancelling it takes the row away again.
  Reload();
}

QtDataGrid::QtDataGrid(const std::vector<TGridColumn>& columns,
                       TDataGridModel::TErrorHandler onError, QWidget* parent)
    : QTableView(parent), model_(new TDataGridModel(columns, std::move(onError), this)) {
  setModel(model_);
  setItemDelegate(new TGridCellDelegate(this));  // numbers are never cut
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setWordWrap(false);
  // Columns are 28 pixels wide: four digits fit only without the usual cell margins.
  setTextElideMode(Qt::ElideNone);
  setStyleSheet(QStringLiteral("QTableView::item { padding: 0px; }"));
  setCornerButtonEnabled(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setMinimumSectionSize(10);
  horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  horizontalHeader()->setFixedHeight(kRowHeight + 1);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  verticalHeader()->setMinimumSectionSize(kRowHeight);
  verticalHeader()->setFixedWidth(kIndicatorWidth);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
  verticalHeader()->setSectionsClickable(false);
  for (size_t i = 0; i < columns.size(); ++i) {
    setColumnWidth(static_cast<int>(i), columns[i].width);
  }
  model_->onCurrentChanged = [this] { FollowCursor(); };
  connect(this, &QTableView::clicked, this, [this](const QModelIndex& index) {
    if (onCellClick) onCellClick(index.row());
  });
  connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex&) {
    if (onDblClick) onDblClick();
  });
}

void QtDataGrid::Bind(kura::TDataSource* source) {
  source_ = source;
  model_->SetDataSource(source);
}

void QtDataGrid::SetAttached(bool attached) {
  if (attached) {
    model_->SetDataSource(source_);
    setUpdatesEnabled(true);
  } else {
    setUpdatesEnabled(false);
    model_->SetDataSource(nullptr);
  }
}

void QtDataGrid::showEvent(QShowEvent* event) {
  QTableView::showEvent(event);
  if (follow_pending_) FollowCursor();
}

void QtDataGrid::FollowCursor() {
  // A hidden grid catches up when it is shown: moving its selection now would lay it out.
  if (!isVisible()) {
    follow_pending_ = true;
    return;
  }
  follow_pending_ = false;
  const int row = model_->CurrentRow();
  if (row < 0 || row >= model_->rowCount()) {
    clearSelection();
    return;
  }
  const int column = currentIndex().isValid() ? currentIndex().column() : 0;
  // Moving Qt's current index only; the dataset is already there.
  selectionModel()->setCurrentIndex(
      model_->index(row, column), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(model_->index(row, column));
}

}  // namespace goramina
