#include "storage/dbcs.h"

namespace kura {

std::size_t CharacterWidthAt(std::uint16_t languageId, std::string_view text, std::size_t i) {
  if (languageId != 0 || !IsCp932LeadByte(static_cast<unsigned char>(text[i]))) return 1;
  return (i + 1 < text.size() && IsCp932TrailByte(static_cast<unsigned char>(text[i + 1]))) ? 2 : 1;
}

std::size_t CharacterCount(std::uint16_t languageId, std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); i += CharacterWidthAt(languageId, text, i)) ++count;
  return count;
}

}  // namespace kura
