// Arbitrary bytes as UTF-8 and as code page 932: the conversions never crash, and text that
// converts strictly one way converts back to itself.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dataset/cp932.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto cp932 = kura::TryUtf8ToCp932(bytes)) {
    auto back = kura::TryCp932ToUtf8(*cp932);
    if (!back || *back != bytes) std::abort();
  }
  (void)kura::Utf8ToCp932(bytes);
  (void)kura::Cp932ToUtf8(bytes);
  (void)kura::TryCp932ToUtf8(bytes);
  return 0;
}
