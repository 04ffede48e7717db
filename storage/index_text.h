// The words the text index ("Sys Text", slot 32) holds for a string or memo field, and the
// defaults of its parameters.
//
// A text is split at "space" characters; a word keeps only its "include" characters, at most
// 60 of them; words in the stop-word list (compared with the table locale without regard to
// case) are not indexed. Each word becomes one key (index_key.h, BuildTextKey).
//
// Defaults: space characters are the bytes 1..32 and the punctuation "*" to "/", ":" to ">",
// "\" and "`"; include characters are letters, digits, "_" and the bytes 128..254; the 22
// stop words are A, AN, AND, BE, FOR, HOW, IN, IS, IT, OF, ON, OR, THAT, THE, THIS, TO, WAS,
// WHAT, WHEN, WHICH, WHY and WILL.
//
// Tables without a locale hold code page 932 text: a double-byte character is taken whole,
// so its second byte is never read as a space ("\" is 0x5C, the second byte of many
// characters).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "storage/record_image.h"

namespace kura {

struct TTextIndexParams {
  std::array<bool, 256> Space{};
  std::array<bool, 256> Include{};
  std::vector<std::string> StopWords;
};

TTextIndexParams DefaultTextIndexParams();

// The words of a text to index, in order of appearance (repeats kept).
std::vector<std::string> TextIndexWords(std::string_view text, const TTextIndexParams& params,
                                        TTableLocale locale);

// Whether the word is a stop word of the parameters.
bool IsStopWord(std::string_view word, const TTextIndexParams& params, TTableLocale locale);

}  // namespace kura
