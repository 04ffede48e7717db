#include "app/qt/data_edit.h"

#include <QKeyEvent>
#include <exception>

#include "app/collection/field_text.h"
#include "dataset/data_set.h"
#include "dataset/field.h"

namespace goramina {

QtDataEdit::QtDataEdit(std::string fieldName, TErrorHandler onError, QWidget* parent)
    : QLineEdit(parent), fieldName_(std::move(fieldName)), onError_(std::move(onError)) {
  connect(this, &QLineEdit::textEdited, this, [this] { UserTyped(); });
  connect(this, &QLineEdit::editingFinished, this, [this] {
    if (modified_) WriteField();
  });
  Refresh();
}

void QtDataEdit::Bind(kura::TDataSource* source) {
  source_ = source;
  SetDataSource(source);
}

void QtDataEdit::SetAttached(bool attached) {
  SetDataSource(attached ? source_ : nullptr);
}

kura::TField* QtDataEdit::Field() const {
  if (!Active()) return nullptr;
  return DataSet()->FindField(fieldName_);
}

void QtDataEdit::Refresh() {
  if (writing_) return;
  modified_ = false;
  const kura::TField* field = Field();
  const bool hasRow = field != nullptr && DataSet()->DisplayRow() > 0;
  const QString text = hasRow ? QString::fromStdString(FieldText(*field)) : QString();
  if (this->text() != text) setText(text);
  setReadOnly(!hasRow || !DataSet()->CanModify() || field->ReadOnly());
}

void QtDataEdit::RecordChanged(const kura::TField* field) {
  if (field == nullptr || field == Field()) Refresh();
}

void QtDataEdit::StateChanged() {
  // Posting or cancelling ends the edit: show what the row now holds.
  if (Active() && DataSet()->State() == kura::TDataSetState::dsBrowse) Refresh();
}

void QtDataEdit::UpdateData() {
  if (modified_) WriteField();
}

void QtDataEdit::UserTyped() {
  kura::TField* field = Field();
  if (field == nullptr) return;
  try {
    DataSet()->Edit();  // nothing to do while already editing or appending
    modified_ = true;
  } catch (const std::exception& e) {
    Refresh();
    if (onError_) onError_(e.what());
  }
}

bool QtDataEdit::WriteField() {
  kura::TField* field = Field();
  if (field == nullptr) return false;
  writing_ = true;
  try {
    SetFieldText(*field, text().toStdString());
    writing_ = false;
    modified_ = false;
    return true;
  } catch (const std::exception& e) {
    writing_ = false;
    if (onError_) onError_(e.what());
    return false;
  }
}

void QtDataEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && modified_) {
    Refresh();  // drop what was typed
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace goramina
