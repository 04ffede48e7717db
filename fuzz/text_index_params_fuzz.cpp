// Arbitrary bytes as the stream of a table's text-index parameter pages: decoding answers the
// parameters or raises engine error 8965, never anything else, and what decodes encodes to a
// stream that decodes to the same parameters.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "base/engine_error.h"
#include "engine/text_index_params.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kura;
  TTextIndexParams params;
  try {
    params = DecodeTextIndexParams(std::span(data, size), "T");
  } catch (const EKuraEngineError& error) {
    if (error.ErrorCode != codes::kIndexPagesCorrupt) std::abort();
    return 0;
  }
  const TTextIndexParams again = DecodeTextIndexParams(EncodeTextIndexParams(params), "T");
  if (again.StopWords != params.StopWords || again.Space != params.Space ||
      again.Include != params.Include) {
    std::abort();
  }
  return 0;
}
