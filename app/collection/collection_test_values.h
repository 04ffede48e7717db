// Cell values for tests that fill an in-memory collection row by row: integers, and text
// written in UTF-8 and stored as the tables store it (code page 932).
#pragma once

#include <string_view>

#include "dataset/cp932.h"
#include "dataset/field.h"

namespace goramina {

inline kura::TFieldValue Int(int value) {
  return kura::TFieldValue::OfInteger(value);
}

inline kura::TFieldValue Text(std::string_view utf8) {
  return kura::TFieldValue::OfString(kura::Utf8ToCp932(utf8));
}

}  // namespace goramina
