// Reading SGF (FF[1] to FF[4]) from the bytes of a file.
//
// Character set: the CA property of the file when it names one that ICU knows; otherwise
// UTF-8, and code page 932 (Shift_JIS) when the bytes are not valid UTF-8. The whole file is
// turned into UTF-8 before it is parsed, so a Shift_JIS character whose second byte looks like
// "]" or "\" never ends or escapes a value.
//
// The reader is loose where real files are loose: text before the first "(" is skipped,
// property names in the lower-case letters of FF[3] are read by their capitals, a property
// may repeat in a node. It refuses, with the line, what it cannot read: no game tree, a
// missing "(", ";", "]" or ")", a property without a value, stray characters, variations
// nested deeper than kMaxSgfNesting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/exchange/sgf_tree.h"

namespace goramina {

// Variations nested deeper than this are refused: the trainer's lines are far shorter, and the
// reader must not run out of stack on a hostile file.
inline constexpr int kMaxSgfNesting = 1000;
// Files larger than this are refused before they are read (problem files are a few KB; large
// collections a few MB).
inline constexpr std::size_t kMaxSgfFileBytes = 64u << 20;

// The bytes of a file as UTF-8, with the name of the character set they were read in. Never
// throws for bad input: bytes that do not convert become U+FFFD.
struct TSgfText {
  std::string utf8;
  std::string charset;
};
TSgfText DecodeSgfBytes(std::string_view bytes);

// Parses SGF text that is already UTF-8. Raises ESgfError with the line on malformed text.
TSgfCollection ParseSgf(std::string_view utf8);

// DecodeSgfBytes, then ParseSgf; the collection records the character set.
TSgfCollection ReadSgf(std::string_view bytes);

// A Text value for showing or storing: tabs and other white space become blanks, line breaks
// become "\n" (CR LF, LF CR and CR alone included).
std::string SgfText(std::string_view value);
// A SimpleText value: as SgfText, but line breaks become blanks too.
std::string SgfSimpleText(std::string_view value);

}  // namespace goramina
