// Names of tables, fields, parameters and databases compare without regard to the case of
// ASCII letters; other bytes (code page 932 or UTF-8 text) must match exactly.
#pragma once

#include <cstddef>
#include <string_view>

namespace kura {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// The text without the blanks at either end.
constexpr std::string_view TrimAsciiBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace kura
