// Character widths of stored text.
//
// Language 0 ("ANSI Standard") tables hold code page 932 (Shift_JIS) text: a lead byte
// 0x81-0x9F or 0xE0-0xFC starts a double-byte character whose second byte may look like any
// ASCII character from '@' on (0x5C is the backslash, 0x5D the closing bracket). A second
// byte is 0x40-0x7E or 0x80-0xFC; a lead byte before any other byte (a quote, a blank, a
// percent sign) is a broken character of one byte and leaves that byte alone. Every other
// language has a single-byte code page. Whatever walks text byte by byte (the expression
// lexer, LIKE, case mapping, SUBSTRING, POS, LENGTH, key building) asks here how wide the
// character at a byte is, so that no double-byte character is ever split.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kura {

// True for a code page 932 lead byte.
constexpr bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True for a byte that may follow a code page 932 lead byte.
constexpr bool IsCp932TrailByte(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// The number of bytes (1 or 2) of the character that starts at byte i of text under the
// language: 2 only for language 0, a lead byte and a valid second byte after it. i must be
// below text.size().
std::size_t CharacterWidthAt(std::uint16_t languageId, std::string_view text, std::size_t i);

// The number of characters in text under the language (a lone lead byte at the end counts
// as one character).
std::size_t CharacterCount(std::uint16_t languageId, std::string_view text);

}  // namespace kura
