// Scrambling of the BLOB file of an encrypted table: the header as one 512-byte buffer and
// each block as two buffers, its 18 header bytes and its data bytes, each buffer starting
// with the record seeds of the data file. Scrambling twice restores the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kura {

// The seeds every record image, BLOB header and BLOB block buffer starts with.
inline constexpr std::uint8_t kRecordScrambleLow = 0x0B;
inline constexpr std::uint8_t kRecordScrambleHigh = 0x0D;

// XORs each byte with the low and the high seed, then steps low up and high down (both
// modulo 256). A length whose low 16 bits are zero leaves the buffer as it is.
void ScrambleBlobBytes(std::uint8_t* bytes, std::size_t length);

// Scrambles (or unscrambles) one encoded block of blockSize bytes in place.
void ScrambleBlock(std::uint8_t* bytes, int blockSize);
inline void UnscrambleBlock(std::uint8_t* bytes, int blockSize) {
  ScrambleBlock(bytes, blockSize);
}

}  // namespace kura
