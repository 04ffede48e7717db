// The parsed form of an SGF file: a collection of game trees, each a run of nodes followed by
// its variations. Property values are kept as text in UTF-8 with the escapes of the file
// already resolved (a backslash before a character stands for the character itself, a
// backslash before a line break is a soft line break and disappears).
//
// Every node and tree remembers the line of the file where it starts, so that a problem
// refused later can name the line it was refused at.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace goramina {

struct TSgfProperty {
  std::string id;  // upper-case letters only (lower-case letters of old files are dropped)
  std::vector<std::string> values;
};

struct TSgfNode {
  std::vector<TSgfProperty> properties;  // in file order; an id may appear more than once
  int line = 0;

  // Every value of every property with this id, in file order (AW[aa]AW[bb] gives both).
  std::vector<std::string> Values(std::string_view id) const;
  // The first value of the property, or nullptr when the node lacks it.
  const std::string* First(std::string_view id) const;
  bool Has(std::string_view id) const { return First(id) != nullptr; }
  // Adds a property with one value (or several) at the end.
  void Add(std::string_view id, std::string value);
  void Add(std::string_view id, std::vector<std::string> values);
};

struct TSgfTree {
  std::vector<TSgfNode> nodes;                        // at least one in a file that parsed
  std::vector<std::unique_ptr<TSgfTree>> variations;  // main line first
  int line = 0;
};

struct TSgfCollection {
  std::vector<std::unique_ptr<TSgfTree>> trees;
  std::string charset;  // the character set the bytes were read in ("UTF-8", "CP932", ...)
};

// A file that is not SGF, or an SGF problem the trainer cannot hold. `line` is the 1-based
// line of the file the fault was found at (0 when it concerns no line); the message is
// Japanese and says what is wrong, without the file or the line.
class ESgfError : public std::runtime_error {
 public:
  ESgfError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
  int Line() const { return line_; }

 private:
  int line_;
};

}  // namespace goramina
