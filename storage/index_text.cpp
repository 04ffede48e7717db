#include "storage/index_text.h"

#include "storage/collation.h"
#include "storage/dbcs.h"
#include "storage/index_key.h"

namespace kura {

TTextIndexParams DefaultTextIndexParams() {
  TTextIndexParams params;
  for (int c = 1; c <= 32; ++c) params.Space[c] = true;
  for (int c = '*'; c <= '/'; ++c) params.Space[c] = true;
  for (int c = ':'; c <= '>'; ++c) params.Space[c] = true;
  params.Space['\\'] = true;
  params.Space['`'] = true;
  for (int c = 'A'; c <= 'Z'; ++c) params.Include[c] = params.Include[c - 'A' + 'a'] = true;
  for (int c = '0'; c <= '9'; ++c) params.Include[c] = true;
  params.Include['_'] = true;
  for (int c = 128; c <= 254; ++c) params.Include[c] = true;
  params.StopWords = {"A",   "AN",   "AND",  "BE",    "FOR",  "HOW", "IN",   "IS",
                      "IT",  "OF",   "ON",   "OR",    "THAT", "THE", "THIS", "TO",
                      "WAS", "WHAT", "WHEN", "WHICH", "WHY",  "WILL"};
  return params;
}

bool IsStopWord(std::string_view word, const TTextIndexParams& params, TTableLocale locale) {
  std::string text(word);
  for (const std::string& stop : params.StopWords) {
    if (CompareLocaleStrings(locale.LanguageId, locale.SortId, text.c_str(), true, 0,
                             stop.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> TextIndexWords(std::string_view text, const TTextIndexParams& params,
                                        TTableLocale locale) {
  std::vector<std::string> words;
  std::string word;
  auto finish = [&] {
    if (!word.empty() && !IsStopWord(word, params, locale)) words.push_back(word);
    word.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == 0) break;
    if (CharacterWidthAt(locale.LanguageId, text, i) == 2) {
      if (params.Include[c] && word.size() + 2 <= kMaxTextWordLength) {
        word.append(text.substr(i, 2));
      }
      ++i;
      continue;
    }
    if (params.Space[c]) {
      finish();
    } else if (params.Include[c] && word.size() < kMaxTextWordLength) {
      word.push_back(static_cast<char>(c));
    }
  }
  finish();
  return words;
}

}  // namespace kura
