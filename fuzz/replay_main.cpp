// Replays a fuzz target's stored corpus: every regular file of the folder named on the command
// line goes through LLVMFuzzerTestOneInput once, in name order. A crash, a sanitizer report or
// an escaping exception fails the run; so does a missing or empty corpus, which would
// otherwise pass while testing nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  std::error_code error;
  std::vector<std::filesystem::path> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], error))
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  if (error || inputs.empty()) {
    std::fprintf(stderr, "%s: no stored inputs in %s\n", argv[0], argv[1]);
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    // A null pointer for an empty input, as libFuzzer may pass.
    LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
  }
  std::printf("%s: replayed %zu inputs\n", argv[0], inputs.size());
  return 0;
}
