// The texts read from a Go engine: GTP answer blocks and board coordinates. Never a crash;
// a parsed answer's text is a tail of the block; a coordinate that parses prints back as
// itself (upper-cased).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/checker/gtp_client.h"
#include "app/checker/problem_checker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto answer = goramina::ParseGtpAnswer(text)) {
    if (answer->text.size() > text.size()) std::abort();
    if (text.substr(text.size() - answer->text.size()) != answer->text) std::abort();
  } else if (text.find_first_of("=?") != std::string_view::npos) {
    std::abort();
  }

  const int point = goramina::PointOfCoordinate(text);
  if (point < 0 || point > 361) std::abort();
  if (point != 0) {
    std::string upper(text);
    upper[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[0])));
    if (goramina::BoardCoordinate(point) != upper) std::abort();
  }
  return 0;
}
