#include "dataset/sql_lines.h"

#include "base/database_error.h"

namespace kura {

void TSqlLines::Clear() {
  lines_.clear();
  on_change_();
}

void TSqlLines::Add(std::string_view line) {
  lines_.emplace_back(line);
  on_change_();
}

void TSqlLines::SetText(std::string_view text) {
  lines_.clear();
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  on_change_();
}

std::string TSqlLines::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += '\n';
  }
  return text;
}

const std::string& TSqlLines::operator[](int index) const {
  if (index < 0 || index >= Count())
    throw EDatabaseError("List index out of bounds (" + std::to_string(index) + ")");
  return lines_[static_cast<std::size_t>(index)];
}

}  // namespace kura
