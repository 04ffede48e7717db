#include "storage/blob_scramble.h"

#include <span>

#include "storage/blob_format.h"
#include "storage/data_file.h"

namespace kura {

void ScrambleBlobBytes(std::uint8_t* bytes, std::size_t length) {
  Scramble(std::span<std::uint8_t>(bytes, length), kDataScrambleLow, kDataScrambleHigh);
}

void ScrambleBlock(std::uint8_t* bytes, int blockSize) {
  ScrambleBlobBytes(bytes, kBlockHeaderSize);
  ScrambleBlobBytes(bytes + kBlockHeaderSize, static_cast<std::size_t>(BlockDataSize(blockSize)));
}

}  // namespace kura
