// The application's edge between the tables' code page 932 and the UTF-8 the window shows.
#pragma once

#include <string>
#include <string_view>

#include "dataset/field.h"

namespace goramina {

// The field's value as UTF-8 (numbers in decimal; bytes that are not CP932 show as U+FFFD).
std::string FieldText(const kura::TField& field);

// Writes UTF-8 text into the field, converted to CP932 for string fields; characters CP932
// lacks become '?'. Same state rules as TField::SetAsString.
void SetFieldText(kura::TField& field, std::string_view utf8);

}  // namespace goramina
