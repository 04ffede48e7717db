// Conversion between UTF-8 (what the window and the text files speak) and code page 932, the
// Windows flavour of Shift_JIS in which the tables keep their text.
//
// The converter maps the characters Windows maps differently from plain Shift_JIS the Windows
// way: U+FF5E FULLWIDTH TILDE <-> 0x81 0x60, U+FF0D FULLWIDTH HYPHEN-MINUS <-> 0x81 0x7C,
// U+2225 PARALLEL TO <-> 0x81 0x61, U+FFE0/U+FFE1/U+FFE2 <-> 0x81 0x91/0x92/0xCA, and the NEC
// and IBM extension rows. 0x5C and 0x7E stay the ASCII backslash and tilde.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kura {

// UTF-8 -> CP932. Answers nullopt when the input is not valid UTF-8 or holds a character that
// code page 932 cannot represent. Never throws for bad input.
std::optional<std::string> TryUtf8ToCp932(std::string_view utf8);

// UTF-8 -> CP932 for text typed by the user: every invalid sequence or unmappable character
// becomes '?'. Never throws for bad input.
std::string Utf8ToCp932(std::string_view utf8);

// CP932 -> UTF-8. Answers nullopt when the input holds a byte sequence that is not CP932.
std::optional<std::string> TryCp932ToUtf8(std::string_view cp932);

// CP932 -> UTF-8 for display: every invalid byte sequence becomes U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

}  // namespace kura
