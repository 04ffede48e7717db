// Arbitrary text through the expression parser: a tree or an engine error, never a crash, a
// hang or a leak. The first byte picks the parse flags and the language of the text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/engine_error.h"
#include "fuzz/expression_tree_height.h"
#include "sql/expression_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int flags = data[0] & 0x1F;
  const std::uint16_t language = (data[0] & 0x80) ? 1033 : 0;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  kura::TExpressionParser parser;
  parser.SetContextName("fuzz");
  parser.SetLanguageId(language);
  parser.SetExpression(text);
  try {
    parser.NextToken();
    parser.MarkStart();
    kura::TExpTokenPtr tree = parser.ParseExpression(flags);
    (void)parser.MarkedText();
    if (kura::fuzzing::TreeHeight(tree.get()) > kura::kMaxTreeHeight + 1) std::abort();
    while (parser.NextToken() != kura::kTokenEnd) (void)parser.TokenText();
  } catch (const kura::EKuraEngineError& error) {
    if (error.ErrorCode != 11949 || error.ErrorText.size() > 255) std::abort();
  }
  return 0;
}
