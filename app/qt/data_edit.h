// The data-aware edit: a one-line edit showing one field of its dataset's current row. Typing
// puts the dataset in edit state; the typed text goes into the field when the edit is left
// (Enter or focus elsewhere) and whenever the dataset is about to post, so moving to another
// row posts it. Text fields hold code page 932 and are shown and typed as Unicode.
#pragma once

#include <QLineEdit>
#include <functional>
#include <string>

#include "dataset/data_source.h"

namespace goramina {

class QtDataEdit : public QLineEdit, public kura::TDataLink {
 public:
  using TErrorHandler = std::function<void(const std::string& message)>;

  QtDataEdit(std::string fieldName, TErrorHandler onError, QWidget* parent);

  // The source the edit is bound to; attached at once.
  void Bind(kura::TDataSource* source);
  // Detached, the edit shows nothing and ignores its dataset.
  void SetAttached(bool attached);
  // True while typed text waits to be written into the field.
  bool Modified() const { return modified_; }

 protected:
  void ActiveChanged() override { Refresh(); }
  void DataSetChanged() override { Refresh(); }
  void DataSetScrolled(int) override { Refresh(); }
  void RecordChanged(const kura::TField* field) override;
  void StateChanged() override;
  void UpdateData() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  kura::TField* Field() const;
  // Shows the field as it stands, dropping typed text that was not written.
  void Refresh();
  void UserTyped();
  // Writes the typed text into the field; false when the dataset refused it.
  bool WriteField();

  std::string fieldName_;
  TErrorHandler onError_;
  kura::TDataSource* source_ = nullptr;
  bool modified_ = false;
  bool writing_ = false;
};

}  // namespace goramina
