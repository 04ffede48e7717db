#include "app/exchange/sgf_reader.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "dataset/cp932.h"

namespace goramina {
namespace {

// --- Character sets --------------------------------------------------------------------------

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    std::uint32_t min = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

bool IsIdentLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The value of the first CA property, found by walking the file's structure without reading
// the values (only their ends): CA stands in the root, before any comment in real files.
std::optional<std::string> DeclaredCharset(std::string_view bytes) {
  std::string ident;  // capitals of the property name being read or whose values follow
  bool inName = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '[') {
      const std::size_t start = i + 1;
      std::size_t end = start;
      while (end < bytes.size() && bytes[end] != ']') end += bytes[end] == '\\' ? 2 : 1;
      if (end > bytes.size()) end = bytes.size();
      if (ident == "CA") return std::string(bytes.substr(start, end - start));
      i = end;
      inName = false;
    } else if (IsIdentLetter(c)) {
      if (!inName) ident.clear();
      inName = true;
      if (c >= 'A' && c <= 'Z') ident += c;
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      ident.clear();
      inName = false;
    } else {
      inName = false;
    }
  }
  return std::nullopt;
}

std::string Normalised(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

bool NamesCp932(const std::string& name) {
  static constexpr const char* kNames[] = {"shift_jis", "shift-jis",   "sjis",   "cp932",
                                           "ms932",     "windows-31j", "x-sjis", "shiftjis",
                                           "ms_kanji",  "csshiftjis"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

bool NamesUtf8(const std::string& name) {
  return name == "utf-8" || name == "utf8";
}

// Converts with ICU from the named character set; nullopt when ICU does not know the name.
std::optional<std::string> ConvertWithIcu(std::string_view bytes, const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* probe = ucnv_open(name.c_str(), &status);
  if (U_FAILURE(status) || probe == nullptr) return std::nullopt;
  ucnv_close(probe);
  if (bytes.empty()) return std::string();
  // UTF-8 needs at most 3 bytes for each UTF-16 unit a source byte can give.
  std::string out(bytes.size() * 3 + 4, '\0');
  status = U_ZERO_ERROR;
  const int32_t length =
      ucnv_convert("UTF-8", name.c_str(), out.data(), static_cast<int32_t>(out.size()),
                   bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(length));
  return out;
}

TSgfText FromCp932(std::string_view bytes) {
  return {kura::Cp932ToUtf8(bytes), "CP932"};
}

// --- Parsing ----------------------------------------------------------------------------------

class TParser {
 public:
  explicit TParser(std::string_view text) : text_(text) {}

  TSgfCollection Parse() {
    TSgfCollection collection;
    SkipToFirstTree();
    if (AtEnd()) throw ESgfError(line_, "SGF のゲームツリー「(;」が見つかりません");
    while (!AtEnd() && Peek() == '(') {
      collection.trees.push_back(ParseTree(1));
      SkipSpace();
    }
    // Anything after the last tree is left alone: some programs append a signature.
    return collection;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void Advance() {
    if (text_[pos_] == '\n') ++line_;
    ++pos_;
  }

  void SkipSpace() {
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(Peek()))) Advance();
  }

  // Text before the first "(;" is not SGF: mail headers, a byte-order mark, a title.
  void SkipToFirstTree() {
    while (!AtEnd()) {
      if (Peek() == '(') {
        std::size_t next = pos_ + 1;
        while (next < text_.size() && std::isspace(static_cast<unsigned char>(text_[next]))) ++next;
        if (next < text_.size() && text_[next] == ';') return;
      }
      Advance();
    }
  }

  [[noreturn]] void Fail(const std::string& message) const { throw ESgfError(line_, message); }

  std::string Describe(char c) const {
    if (static_cast<unsigned char>(c) < 0x20) return "制御文字";
    if (static_cast<unsigned char>(c) >= 0x80) return "全角などの文字";
    return std::string("「") + c + "」";
  }

  std::unique_ptr<TSgfTree> ParseTree(int depth) {
    if (depth > kMaxSgfNesting) Fail("変化の入れ子が深すぎます");
    auto tree = std::make_unique<TSgfTree>();
    tree->line = line_;
    Advance();  // '('
    SkipSpace();
    if (AtEnd() || Peek() != ';') Fail("「(」の後に節「;」がありません");
    while (!AtEnd() && Peek() == ';') tree->nodes.push_back(ParseNode());
    while (!AtEnd() && Peek() == '(') {
      tree->variations.push_back(ParseTree(depth + 1));
      SkipSpace();
    }
    if (AtEnd()) Fail("ゲームツリーを閉じる「)」がありません");
    if (Peek() != ')') Fail(Describe(Peek()) + "は SGF として読めません");
    Advance();
    return tree;
  }

  TSgfNode ParseNode() {
    TSgfNode node;
    node.line = line_;
    Advance();  // ';'
    SkipSpace();
    while (!AtEnd() && IsIdentLetter(Peek())) node.properties.push_back(ParseProperty());
    if (!AtEnd() && Peek() != ';' && Peek() != '(' && Peek() != ')')
      Fail(Describe(Peek()) + "は SGF として読めません");
    return node;
  }

  TSgfProperty ParseProperty() {
    TSgfProperty property;
    std::string written;
    while (!AtEnd() && IsIdentLetter(Peek())) {
      written += Peek();
      if (Peek() >= 'A' && Peek() <= 'Z') property.id += Peek();
      Advance();
    }
    if (property.id.empty()) Fail("プロパティ名「" + written + "」に大文字がありません");
    SkipSpace();
    if (AtEnd() || Peek() != '[') Fail("プロパティ " + property.id + " に値「[...]」がありません");
    while (!AtEnd() && Peek() == '[') {
      property.values.push_back(ParseValue(property.id));
      SkipSpace();
    }
    return property;
  }

  std::string ParseValue(const std::string& id) {
    const int start = line_;
    Advance();  // '['
    std::string value;
    while (!AtEnd() && Peek() != ']') {
      if (Peek() == '\\') {
        Advance();
        if (AtEnd()) break;
        if (Peek() == '\n' || Peek() == '\r') {  // soft line break
          const char first = Peek();
          Advance();
          if (!AtEnd() && (Peek() == '\n' || Peek() == '\r') && Peek() != first) Advance();
          continue;
        }
      }
      value += Peek();
      Advance();
    }
    if (AtEnd()) throw ESgfError(start, "プロパティ " + id + " の値が「]」で閉じていません");
    Advance();  // ']'
    return value;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

std::string Whitespaced(std::string_view value, bool keepBreaks) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r' || c == '\n') {
      const bool pair = i + 1 < value.size() && (value[i + 1] == '\r' || value[i + 1] == '\n') &&
                        value[i + 1] != c;
      if (pair) ++i;
      out += keepBreaks ? '\n' : ' ';
    } else if (c == '\t' || c == '\v' || c == '\f') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> TSgfNode::Values(std::string_view id) const {
  std::vector<std::string> all;
  for (const TSgfProperty& p : properties)
    if (p.id == id) all.insert(all.end(), p.values.begin(), p.values.end());
  return all;
}

const std::string* TSgfNode::First(std::string_view id) const {
  for (const TSgfProperty& p : properties)
    if (p.id == id && !p.values.empty()) return &p.values.front();
  return nullptr;
}

void TSgfNode::Add(std::string_view id, std::string value) {
  properties.push_back({std::string(id), {std::move(value)}});
}

void TSgfNode::Add(std::string_view id, std::vector<std::string> values) {
  properties.push_back({std::string(id), std::move(values)});
}

TSgfText DecodeSgfBytes(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (const std::optional<std::string> declared = DeclaredCharset(bytes)) {
    const std::string name = Normalised(*declared);
    if (NamesCp932(name)) return FromCp932(bytes);
    if (NamesUtf8(name) && IsValidUtf8(bytes)) return {std::string(bytes), "UTF-8"};
    if (!name.empty()) {
      if (std::optional<std::string> converted = ConvertWithIcu(bytes, name))
        return {std::move(*converted), *declared};
    }
  }
  if (IsValidUtf8(bytes)) return {std::string(bytes), "UTF-8"};
  return FromCp932(bytes);
}

TSgfCollection ParseSgf(std::string_view utf8) {
  return TParser(utf8).Parse();
}

TSgfCollection ReadSgf(std::string_view bytes) {
  TSgfText text = DecodeSgfBytes(bytes);
  TSgfCollection collection = ParseSgf(text.utf8);
  collection.charset = std::move(text.charset);
  return collection;
}

std::string SgfText(std::string_view value) {
  return Whitespaced(value, true);
}

std::string SgfSimpleText(std::string_view value) {
  return Whitespaced(value, false);
}

}  // namespace goramina
