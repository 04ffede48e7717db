// Small helpers for the JSON documents the command-line options print for scripts: strings
// are written as UTF-8 with the escapes JSON requires, nothing else is quoted.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace goramina {

// `text` (UTF-8) as a JSON string, quotes included.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// A JSON array of already written values.
inline std::string JsonArray(const std::vector<std::string>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    out += values[i];
  }
  return out + "]";
}

inline std::string JsonStrings(const std::vector<std::string>& texts) {
  std::vector<std::string> values;
  values.reserve(texts.size());
  for (const std::string& t : texts) values.push_back(JsonString(t));
  return JsonArray(values);
}

}  // namespace goramina
