// The lexer half of TExpressionParser: tokens, token texts and marked text.
#include <cstring>

#include "base/engine_error.h"
#include "sql/expression_parser.h"
#include "storage/ascii_case.h"
#include "storage/dbcs.h"

namespace kura {

namespace {

bool IsLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool IsHighByte(unsigned char c) {
  return c >= 128 && c <= 254;
}

bool IsSymbolStart(unsigned char c) {
  return IsLetter(c) || c == '_' || IsHighByte(c);
}

bool IsSymbolPart(unsigned char c) {
  return IsSymbolStart(c) || IsDigit(c) || c == '!' || c == '$' || c == '@';
}

std::string CutName(std::string_view name) {
  return std::string(name.substr(0, kMaxParserNameLength));
}

}  // namespace

TExpressionParser::TExpressionParser(TExpressionOwner* owner) : FOwner(owner) {}

TExpressionParser::TNestingGuard::TNestingGuard(int& nesting, const TExpressionParser& parser)
    : FNesting(nesting) {
  if (++FNesting > kMaxExpressionDepth) {
    --FNesting;
    parser.FailIn("Expression nested too deeply");
  }
}

void TExpressionParser::SetErrorTableName(std::string_view name) {
  FErrorTableName = CutName(name);
}

void TExpressionParser::SetContextName(std::string_view name) {
  FContextName = CutName(name);
}

void TExpressionParser::SetExpression(std::string_view text) {
  FText.assign(text.substr(0, text.find('\0')));
  FPosition = 0;
  FTokenStart = 0;
  FTokenEnd = 0;
  FLastTokenEnd = 0;
  FTokenKind = kTokenEnd;
  FMarkStart = 0;
  FNesting = 0;
}

void TExpressionParser::Fail(std::string_view message) const {
  constexpr std::size_t kMaxMessageLength = 255;
  RaiseEngineError(FErrorCode, {}, {}, {}, FErrorTableName, {}, {},
                   message.substr(0, kMaxMessageLength));
}

void TExpressionParser::FailFound(std::string_view message) const {
  Fail(std::string(message) + TokenText() + "' in " + FContextName);
}

void TExpressionParser::FailIn(std::string_view message) const {
  Fail(std::string(message) + " in " + FContextName);
}

std::size_t TExpressionParser::WidthAt(std::size_t i) const {
  return CharacterWidthAt(FLanguageId, FText, i);
}

void TExpressionParser::SkipBlanksAndComments() {
  for (;;) {
    while (FPosition < FText.size() && static_cast<unsigned char>(FText[FPosition]) <= 32) {
      ++FPosition;
    }
    if (FText.compare(FPosition, 2, "/*") != 0) return;
    std::size_t close = FText.find("*/", FPosition + 2);
    if (close == std::string::npos) {
      FTokenStart = FTokenEnd = FPosition = FText.size();
      FTokenKind = kTokenEnd;
      FailIn("Missing ending comment slash and asterisk");
    }
    FPosition = close + 2;
  }
}

// Reads a quoted string or bracketed name whose opening delimiter is at FPosition.
void TExpressionParser::ReadQuoted(char close, std::string_view missingMessage) {
  std::size_t start = FPosition + 1;
  std::size_t i = start;
  for (;;) {
    if (i >= FText.size()) {
      FPosition = FText.size();
      Fail(std::string(missingMessage) + FText.substr(start) + "' in " + FContextName);
    }
    if (FText[i] == close) {
      if (close != ']' && i + 1 < FText.size() && FText[i + 1] == close) {
        i += 2;
        continue;
      }
      FPosition = i + 1;
      FTokenEnd = FPosition;
      return;
    }
    i += WidthAt(i);
  }
}

void TExpressionParser::ReadNumber() {
  FTokenKind = kTokenInteger;
  while (FPosition < FText.size() && IsDigit(FText[FPosition])) ++FPosition;
  while (FPosition < FText.size()) {
    unsigned char c = FText[FPosition];
    unsigned char before = FPosition > 0 ? FText[FPosition - 1] : 0;
    bool sign = (c == '+' || c == '-') && (before == 'e' || before == 'E');
    if (!(IsDigit(c) || c == '.' || c == 'e' || c == 'E' || sign)) break;
    if (!IsDigit(c)) FTokenKind = kTokenReal;
    ++FPosition;
  }
}

int TExpressionParser::NextToken() {
  FLastTokenEnd = FTokenEnd;
  SkipBlanksAndComments();
  FTokenStart = FPosition;
  if (FPosition >= FText.size()) {
    FTokenEnd = FPosition;
    return FTokenKind = kTokenEnd;
  }
  unsigned char c = FText[FPosition];
  if (IsSymbolStart(c)) {
    while (FPosition < FText.size() && IsSymbolPart(FText[FPosition]))
      FPosition += WidthAt(FPosition);
    FTokenKind = kTokenSymbol;
  } else if (c == '#') {
    ++FPosition;
    while (FPosition < FText.size() && IsDigit(FText[FPosition])) ++FPosition;
    FTokenKind = kTokenCharCode;
  } else if (c == '\'') {
    FTokenKind = kTokenSingleQuoted;
    ReadQuoted('\'', "Missing single quote after '");
  } else if (c == '"') {
    FTokenKind = kTokenDoubleQuoted;
    ReadQuoted('"', "Missing double quote after '");
  } else if (c == '[') {
    FTokenKind = kTokenBracketed;
    ReadQuoted(']', "Missing right bracket after '");
  } else if (IsDigit(c) ||
             (c == '.' && FPosition + 1 < FText.size() && IsDigit(FText[FPosition + 1]))) {
    ReadNumber();
  } else {
    ++FPosition;
    FTokenKind = c;
  }
  FTokenEnd = FPosition;
  return FTokenKind;
}

std::string TExpressionParser::TokenText() const {
  std::string_view raw(FText.data() + FTokenStart, FTokenEnd - FTokenStart);
  if (FTokenKind < kTokenBracketed || FTokenKind > kTokenDoubleQuoted) return std::string(raw);
  char delimiter = raw[0];
  raw = raw.substr(1, raw.size() - 2);
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    text += c;
    bool collapses = delimiter == '[' ? (c == '\'' || c == '"') : c == delimiter;
    if (collapses && i + 1 < raw.size() && raw[i + 1] == c) ++i;
  }
  return text;
}

bool TExpressionParser::IsKeyword(std::string_view word) const {
  if (FTokenKind != kTokenSymbol) return false;
  return EqualsIgnoringAsciiCase(
      std::string_view(FText).substr(FTokenStart, FTokenEnd - FTokenStart), word);
}

void TExpressionParser::MarkStart() {
  FMarkStart = FTokenStart;
}

std::string TExpressionParser::MarkedText() const {
  std::string text;
  std::size_t end = FLastTokenEnd > FMarkStart ? FLastTokenEnd : FMarkStart;
  for (std::size_t i = FMarkStart; i < end && i < FText.size(); ++i) {
    if (FText[i] != '\r' && FText[i] != '\n') text += FText[i];
  }
  return text;
}

}  // namespace kura
