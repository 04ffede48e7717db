#include "sql/case_file.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kura::testing {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

std::vector<TCaseBlock> ParseCaseText(const std::string& text,
                                      const std::set<std::string>& caseKinds) {
  std::vector<std::string> lines = SplitLines(text);
  std::vector<TCaseBlock> blocks;
  std::size_t i = 0;
  while (i < lines.size()) {
    const std::string& header = lines[i];
    if (IsBlank(header) || header[0] == '#') {
      ++i;
      continue;
    }
    TCaseBlock block;
    block.Line = static_cast<int>(i + 1);
    std::size_t space = header.find(' ');
    block.Kind = header.substr(0, space);
    block.Arguments = space == std::string::npos ? "" : header.substr(space + 1);
    ++i;
    bool hasBody = !block.Kind.empty() && block.Kind.back() == ':';
    if (caseKinds.count(block.Kind) != 0) {
      block.IsDirective = false;
      while (i < lines.size() && lines[i] != "----") block.Input.push_back(lines[i++]);
      if (i >= lines.size()) {
        throw std::runtime_error("line " + std::to_string(block.Line) + ": case without ----");
      }
      ++i;
      while (i < lines.size() && !IsBlank(lines[i])) block.Expected.push_back(lines[i++]);
    } else if (hasBody) {
      block.Kind.pop_back();
      while (i < lines.size() && !IsBlank(lines[i])) block.Input.push_back(lines[i++]);
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

std::vector<TCaseBlock> ReadCaseFile(const std::string& path,
                                     const std::set<std::string>& caseKinds) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return ParseCaseText(text.str(), caseKinds);
}

}  // namespace kura::testing
