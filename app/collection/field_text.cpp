#include "app/collection/field_text.h"

#include "dataset/cp932.h"

namespace goramina {

std::string FieldText(const kura::TField& field) {
  if (field.DataType() == kura::TFieldType::ftString) return kura::Cp932ToUtf8(field.AsString());
  return field.AsString();
}

void SetFieldText(kura::TField& field, std::string_view utf8) {
  if (field.DataType() == kura::TFieldType::ftString)
    field.SetAsString(kura::Utf8ToCp932(utf8));
  else
    field.SetAsString(utf8);
}

}  // namespace goramina
