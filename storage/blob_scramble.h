// Scrambling of the BLOB file of an encrypted table: the header as one 512-byte buffer and
// each block as two buffers, its 18 header bytes and its data bytes, each buffer starting
// with the record seeds of the data file. Scrambling twice restores the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kura {

// Scrambles one buffer with the data file's routine and its record seeds (0x0B / 0x0D), the
// seeds every record image, BLOB header and BLOB block buffer starts with.
void ScrambleBlobBytes(std::uint8_t* bytes, std::size_t length);

// Scrambles (or unscrambles) one encoded block of blockSize bytes in place.
void ScrambleBlock(std::uint8_t* bytes, int blockSize);
inline void UnscrambleBlock(std::uint8_t* bytes, int blockSize) {
  ScrambleBlock(bytes, blockSize);
}

}  // namespace kura
