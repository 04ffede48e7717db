// The SQL text of a query as a list of lines. Every change calls the owner's handler, which
// re-reads the parameters and closes the query.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kura {

class TSqlLines {
 public:
  explicit TSqlLines(std::function<void()> onChange) : on_change_(std::move(onChange)) {}

  void Clear();
  void Add(std::string_view line);
  // Replaces the whole text; it is split at line breaks (LF or CR LF).
  void SetText(std::string_view text);
  // The lines joined, each followed by a line feed.
  std::string Text() const;
  int Count() const { return static_cast<int>(lines_.size()); }
  // Line `index`; raises "List index out of bounds (%d)".
  const std::string& operator[](int index) const;

 private:
  std::vector<std::string> lines_;
  std::function<void()> on_change_;
};

}  // namespace kura
