#include "app/exchange/sgf_writer.h"

namespace goramina {
namespace {

void WriteNode(const TSgfNode& node, std::string& out) {
  out += ';';
  for (const TSgfProperty& property : node.properties) {
    out += property.id;
    for (const std::string& value : property.values) {
      out += '[';
      out += EscapeSgfValue(value);
      out += ']';
    }
  }
}

// Writes the tree and its variations; a tree's variations are written one level deeper, and
// the depth is bounded by the reader's nesting limit for every tree the reader built.
void WriteTree(const TSgfTree& tree, std::string& out) {
  out += '(';
  bool first = true;
  for (const TSgfNode& node : tree.nodes) {
    if (!first) out += '\n';
    first = false;
    WriteNode(node, out);
  }
  for (const auto& variation : tree.variations) {
    out += '\n';
    WriteTree(*variation, out);
  }
  out += ')';
}

}  // namespace

std::string EscapeSgfValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == ']' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string WriteSgfTree(const TSgfTree& tree) {
  std::string out;
  WriteTree(tree, out);
  out += '\n';
  return out;
}

std::string WriteSgf(const TSgfCollection& collection) {
  std::string out;
  for (const auto& tree : collection.trees) out += WriteSgfTree(*tree);
  return out;
}

}  // namespace goramina
