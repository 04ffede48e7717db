#include "storage/blob_scramble.h"

#include "storage/blob_format.h"

namespace kura {

void ScrambleBlobBytes(std::uint8_t* bytes, std::size_t length) {
  if ((length & 0xFFFFu) == 0) return;
  std::uint8_t low = kRecordScrambleLow;
  std::uint8_t high = kRecordScrambleHigh;
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ low ^ high);
    ++low;
    --high;
  }
}

void ScrambleBlock(std::uint8_t* bytes, int blockSize) {
  ScrambleBlobBytes(bytes, kBlockHeaderSize);
  ScrambleBlobBytes(bytes + kBlockHeaderSize, static_cast<std::size_t>(BlockDataSize(blockSize)));
}

}  // namespace kura
