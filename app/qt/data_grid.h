// The data-aware grid: a table view over a model that follows a dataset through a data link.
// The rows are the dataset's rows (plus the row being appended); the current row follows the
// dataset's cursor and is marked in the indicator column (▶ browsing, I editing, * appending).
// Following the cursor is cheap: a move redraws the row left and the row reached, never the
// whole grid, and a hidden grid only notes that it must catch up when it is shown again.
// Text fields hold code page 932 and are shown and typed as Unicode.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <functional>
#include <string>
#include <vector>

#include "app/toolkit/form_spec.h"
#include "dataset/data_source.h"

namespace goramina {

class TDataGridModel : public QAbstractTableModel, public kura::TDataLink {
 public:
  // Reports an error raised by the dataset while a typed cell is written.
  using TErrorHandler = std::function<void(const std::string& message)>;

  TDataGridModel(std::vector<TGridColumn> columns, TErrorHandler onError, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Typed text goes into the field of the current row; the dataset enters edit state first.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // The row of the model that is the dataset's current row; -1 when there is none.
  int CurrentRow() const;
  // Called after the rows or the current row changed, to move the view's selection.
  std::function<void()> onCurrentChanged;

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void RecordChanged(const kura::TField* field) override;
  void StateChanged() override;

 private:
  // The dataset's field shown in column `column`, or -1 when the result has no such field.
  int FieldIndexOf(int column) const;
  void Reload();
  void RedrawRow(int row);

  std::vector<TGridColumn> columns_;
  TErrorHandler onError_;
  int marked_row_ = -1;  // the row last drawn as current
};

class QtDataGrid : public QTableView {
 public:
  // `onCellClick(row)`: a cell of the model's row was clicked; `onDblClick`: double-clicked.
  QtDataGrid(const std::vector<TGridColumn>& columns, TDataGridModel::TErrorHandler onError,
             QWidget* parent);

  TDataGridModel& Model() { return *model_; }
  // The source the grid is bound to; attached at once.
  void Bind(kura::TDataSource* source);
  // Detached, the grid ignores its dataset and is not redrawn; attaching again redraws it from
  // the dataset as it then stands.
  void SetAttached(bool attached);

  std::function<void(int row)> onCellClick;
  std::function<void()> onDblClick;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FollowCursor();

  TDataGridModel* model_;
  kura::TDataSource* source_ = nullptr;
  bool follow_pending_ = false;  // the cursor moved while the grid was hidden
};

}  // namespace goramina
